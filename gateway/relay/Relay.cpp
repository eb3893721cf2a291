// tindrel-relay: the Wine-side end of the gateway's inbox.
//
// Runs in the station's Wine prefix, started and stopped by tindrel-gateway.
// Reads the inbox FIFO (frames: 2-byte little-endian length, then the
// datagram) and writes each datagram whole and in order into the station's
// own \\.\mailslot\messngr, open, write, close for each, as a writer on the
// network would. While the station's mailslot does not exist it waits; the
// gateway's queue in front of the FIFO absorbs what arrives meanwhile.
//
//   tindrel-relay.exe FIFO      FIFO: Windows path of the inbox (Z:\...)
#include <windows.h>

#include "gateway/InboxFrame.h"
#include "platform/Handles.h"

#include <cstdio>
#include <string>

namespace {
// A mailslot that is missing now (the station starts or restarts) may be
// there a moment later; other failures are tried a few times before the
// datagram is given up.
constexpr DWORD RetryPause = 100;
constexpr int WriteTries = 3;

void Deliver(const std::string &datagram)
{
    bool waiting = false;
    int failedWrites = 0;
    for (;;) {
        // Never kept open: an open client handle keeps a dead station's mailslot alive.
        FileHandle slot(CreateFileA("\\\\.\\mailslot\\messngr", GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!slot) {
            if (!waiting)
                std::fprintf(stderr, "tindrel-relay: waiting for the station's mailslot (error %lu)\n",
                             GetLastError());
            waiting = true;
            Sleep(RetryPause);
            continue;
        }
        DWORD written = 0;
        if (WriteFile(slot.get(), datagram.data(), static_cast<DWORD>(datagram.size()), &written, nullptr) &&
            written == datagram.size())
            return;
        if (++failedWrites == WriteTries) {
            std::fprintf(stderr, "tindrel-relay: a %zu-byte datagram could not be written (error %lu)\n",
                         datagram.size(), GetLastError());
            return;
        }
        Sleep(RetryPause);
    }
}

int Run(const char *fifoPath)
{
    // Read-write: a read-only reader would see end of file whenever no
    // writer holds the FIFO.
    FileHandle fifo(CreateFileA(fifoPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr));
    if (!fifo) {
        std::fprintf(stderr, "tindrel-relay: cannot open %s (error %lu)\n", fifoPath, GetLastError());
        return 2;
    }
    FrameReader reader;
    std::string datagram;
    static char buffer[64 * 1024];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(fifo.get(), buffer, sizeof buffer, &got, nullptr)) {
            std::fprintf(stderr, "tindrel-relay: cannot read %s (error %lu)\n", fifoPath, GetLastError());
            return 2;
        }
        reader.Feed(buffer, got);
        for (;;) {
            const FrameReader::Result result = reader.Next(datagram);
            if (result == FrameReader::Result::NeedMore)
                break;
            if (result == FrameReader::Result::Corrupt) {
                // The gateway starts a new relay on the next frame boundary.
                std::fprintf(stderr, "tindrel-relay: %s holds a frame of impossible length\n", fifoPath);
                return 3;
            }
            Deliver(datagram);
        }
    }
}
} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: tindrel-relay.exe FIFO\n");
        return 2;
    }
    try {
        return Run(argv[1]);
    } catch (...) {
        std::fprintf(stderr, "tindrel-relay: out of memory\n");
        return 3;
    }
}
