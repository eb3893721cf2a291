// What the soak driver sees of the station from inside its Wine prefix:
// its window and history pane, its memory, its pop-up boxes (read and
// closed as they come), the receipts it writes to the soaker's FIFO, and
// probes where forged senders point. Used by SoakDriver only.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

// Prints why and ends the driver with status 1.
[[noreturn]] void Fail(const char *why);
bool WaitFor(const std::function<bool()> &done, int timeoutMs);

std::string TextOf(HWND window, UINT timeoutMs = 10000);
std::size_t TextLength(HWND window);
// One datagram into this prefix's \\.\mailslot\messngr: open, write, close.
bool WriteDatagram(const std::string &bytes);

// Resident and peak memory of a Unix process, in KiB (-1 when unknown).
struct Memory {
    long Rss = -1, Peak = -1;
};
Memory MemoryOf(const std::string &unixPid);

struct StationWindows {
    HWND Window = nullptr;
    HWND Pane = nullptr;
    DWORD Pid = 0;
};
StationWindows FindStation();

// Reads the station's pop-up boxes as they come and closes them, except
// while held: then they pile up as on the screen of someone away from the
// desk, until the station's cap on open boxes holds the rest back.
class BoxCloser {
public:
    explicit BoxCloser(DWORD pid);
    ~BoxCloser();
    void Hold(bool hold) { hold_ = hold; }
    std::size_t Shown() const;
    std::size_t Closed() const { return closed_; }
    std::size_t OpenNow() const { return open_; }
    std::size_t MostOpen() const { return mostOpen_; }
    std::size_t BadCaptions() const { return badCaptions_; }
    std::map<std::string, std::size_t> Texts() const; // box text -> times shown

private:
    static BOOL CALLBACK Collect(HWND window, LPARAM param);
    void Run();

    const DWORD pid_;
    std::atomic<bool> stop_{false}, hold_{false};
    std::atomic<std::size_t> open_{0}, mostOpen_{0}, badCaptions_{0}, closed_{0};
    std::vector<HWND> found_;
    mutable std::mutex lock_;
    std::set<HWND> seen_;
    std::map<std::string, std::size_t> texts_;
    std::thread thread_;
};

// What the station writes to \\soaker\mailslot\messngr: a FIFO under the
// prefix, opened read-write so that no writer's close looks like an end.
// Each 420-byte block is compared with the receipt expected.
class ReceiptCatcher {
public:
    ReceiptCatcher(const std::string &fifo, std::string expected);
    std::size_t Blocks() const { return blocks_; }
    std::size_t Wrong() const { return wrong_; }

private:
    void Run();
    HANDLE fifo_;
    const std::string expected_;
    std::atomic<std::size_t> blocks_{0}, wrong_{0};
};

// A named pipe where a forged sender points: no one may connect to it.
class PipeProbe {
public:
    explicit PipeProbe(const std::string &name);
    void Listen();
    bool Connected() const;
    bool Valid() const { return pipe_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE pipe_ = INVALID_HANDLE_VALUE;
    OVERLAPPED overlapped_{};
};

// Whether the receipt path of a sender can be opened for writing (nothing
// is written).
bool Reachable(const std::string &sender);
long long FileSize(const std::string &path);
