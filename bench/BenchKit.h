// What the benchmark driver adds to tests/drive for watching a station from
// inside its Wine prefix: a monotonic clock, numbered message texts, a
// count of the receipts a station writes to \\NAME\mailslot\messngr, a
// closer for pop-up boxes that clicks OK at once, and programs started and
// stopped with their main window. Used by bench/Driver.cpp only.
#pragma once

#include "tests/drive/Files.h"
#include "tests/drive/Mailslot.h"
#include "tests/drive/Popups.h"
#include "tests/drive/ProcFigures.h"
#include "tests/drive/Processes.h"
#include "tests/drive/StationWindow.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

namespace bench {

using drive::MessageBlock;
using drive::ProcessCpuNs;
using drive::ThreadCpuNs;
using drive::WaitUntilQuiet;
using drive::WriteToStation;

double Now(); // seconds, monotonic

// The newest Unix process of this prefix (BENCH_PREFIX) whose command line
// holds exeName; 0 when none is found within the time.
int UnixPidOf(const std::string &exeName, int timeoutMs = 10000);
// Resident memory (VmRSS) in bytes; -1 when unknown.
std::int64_t ResidentBytes(int pid);

// A distinct message text of about `bytes` bytes, numbered n.
std::string MessageText(int n, std::size_t bytes);

// Counts the 420-byte blocks that arrive in the FIFO at the Unix path.
class Sink {
public:
    explicit Sink(const std::string &unixPath);
    std::size_t Blocks() const { return bytes_.load() / 420; }
    bool Ok() const { return reader_.Open(); }
    // Waits until at least count blocks arrived; false on time-out.
    bool WaitFor(std::size_t count, int timeoutMs) const;

private:
    std::atomic<std::size_t> bytes_{0};
    drive::FifoReader reader_;
};

// Closes every message box of a process as it appears, from a thread of
// its own, as a user who clicks OK at once would.
class BoxCloser {
public:
    explicit BoxCloser(DWORD pid);
    ~BoxCloser();
    std::size_t Closed() const { return closed_.load(); }

private:
    DWORD pid_;
    std::atomic<std::size_t> closed_{0};
    std::atomic<bool> stop_{false};
    std::thread worker_;
};

inline std::vector<HWND> BoxesOf(DWORD pid)
{
    return drive::DialogsOf(pid);
}

// Text of a window by WM_GETTEXT; length by WM_GETTEXTLENGTH. A station
// busy with a long history may take its time: a minute.
std::string TextOf(HWND window);
LRESULT Ask(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

// A started Windows program and its main window (class given), if any.
struct Started {
    drive::Child Process;
    HWND Window = nullptr;
    std::vector<HWND> Children;
};
bool Start(const std::string &commandLine, Started &started, const char *windowClass,
           std::size_t children);
void Stop(Started &started);

double Median(std::vector<double> values);

} // namespace bench
