// What the soak driver sees of the station from inside its Wine prefix:
// its window and history pane, its pop-up boxes (read and closed as they
// come), the receipts it writes to the soaker's FIFO, and probes where
// forged senders point. Used by SoakDriver only; windows, texts, mailslot
// writes and memory figures come from tests/drive.
#pragma once

#include "platform/Handles.h"
#include "tests/drive/Files.h"

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
    void Run();

    const DWORD pid_;
    std::atomic<bool> stop_{false}, hold_{false};
    std::atomic<std::size_t> open_{0}, mostOpen_{0}, badCaptions_{0}, closed_{0};
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
    void Take(const char *bytes, std::size_t size);
    const std::string expected_;
    std::string pending_; // only the reader's thread touches it
    std::atomic<std::size_t> blocks_{0}, wrong_{0};
    drive::FifoReader reader_;
};

long long FileSize(const std::string &path);
