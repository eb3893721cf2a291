// lanrelay: the receiving end of a station's network wire in tools/lan.
//
// Runs inside one station's Wine prefix. Other stations' writes to
// \\NAME\mailslot\messngr land in a FIFO (Wine maps that path to a file
// under dosdevices/unc); this program reads the FIFO and hands every
// 420-byte block to the station's own \\.\mailslot\messngr, open, write,
// close for each, as a remote writer would. It owns its two threads and the
// block queue; tools/lan starts it and `wineserver -k` ends it.
//
//   lanrelay.exe FIFO LOG
//     FIFO  Windows path of the station's FIFO (Z:\...)
//     LOG   file that gets one record per block: 'D' (delivered) or 'X'
//           (no mailslot to deliver to: the station's program does not run),
//           then the 420 bytes of the block
#include <windows.h>

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

namespace {
constexpr std::size_t BlockSize = 420;

std::mutex QueueLock;
std::condition_variable QueueFilled;
std::deque<std::string> Queue;

// Drains the FIFO into memory at once, so a sender never waits on the
// station: a Wine mailslot blocks its writers after about 167 unread blocks.
void ReadWire(HANDLE fifo)
try {
    std::string pending;
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(fifo, buffer, sizeof buffer, &got, nullptr)) {
            std::fprintf(stderr, "lanrelay: read failed (%lu)\n", GetLastError());
            Sleep(100);
            continue;
        }
        pending.append(buffer, got);
        std::size_t whole = pending.size() / BlockSize * BlockSize;
        if (whole == 0)
            continue;
        {
            const std::lock_guard<std::mutex> hold(QueueLock);
            for (std::size_t at = 0; at < whole; at += BlockSize)
                Queue.push_back(pending.substr(at, BlockSize));
        }
        pending.erase(0, whole);
        QueueFilled.notify_one();
    }
} catch (...) {
    // Losing the wire silently would look like a network that drops blocks.
    std::fprintf(stderr, "lanrelay: out of memory\n");
    ExitProcess(3);
}

bool Deliver(const std::string &block)
{
    HANDLE slot = CreateFileA("\\\\.\\mailslot\\messngr", GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (slot == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(slot, block.data(), static_cast<DWORD>(block.size()), &written,
                              nullptr);
    // Never kept open: an open client handle keeps a dead station's mailslot alive.
    CloseHandle(slot);
    return ok && written == block.size();
}

void Record(HANDLE log, char verdict, const std::string &block)
{
    const std::string entry = verdict + block;
    DWORD written = 0;
    WriteFile(log, entry.data(), static_cast<DWORD>(entry.size()), &written, nullptr);
}

int Run(const char *fifoPath, const char *logPath)
{
    // Read-write: a read-only reader sees end of file whenever the last
    // writer closes, and would lose the blocks that follow.
    HANDLE fifo = CreateFileA(fifoPath, GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (fifo == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "lanrelay: cannot open %s (%lu)\n", fifoPath, GetLastError());
        return 2;
    }
    HANDLE log = CreateFileA(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (log == INVALID_HANDLE_VALUE) {
        std::fprintf(stderr, "lanrelay: cannot create %s (%lu)\n", logPath, GetLastError());
        return 2;
    }
    std::thread(ReadWire, fifo).detach();
    for (;;) {
        std::string block;
        {
            std::unique_lock<std::mutex> hold(QueueLock);
            QueueFilled.wait(hold, [] { return !Queue.empty(); });
            block = std::move(Queue.front());
            Queue.pop_front();
        }
        Record(log, Deliver(block) ? 'D' : 'X', block);
    }
}
} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: lanrelay.exe FIFO LOG\n");
        return 2;
    }
    try {
        return Run(argv[1], argv[2]);
    } catch (...) {
        std::fprintf(stderr, "lanrelay: out of memory\n");
        return 3;
    }
}
