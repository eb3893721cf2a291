// What the benchmark driver needs to watch a station from inside its Wine
// prefix: the Unix-side CPU and memory figures of a Windows process (Wine
// runs each one as a Unix process whose /proc entry is reachable through
// Z:), datagrams into the local mailslot, a sink that catches the receipts
// a station writes to \\NAME\mailslot\messngr, and a closer for pop-up
// boxes. Used by bench/Driver.cpp only.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace bench {

double Now(); // seconds, monotonic

// The newest Unix process of this prefix (BENCH_PREFIX) whose command line
// holds exeName; 0 when none is found within the time.
int UnixPidOf(const std::string &exeName, int timeoutMs = 10000);

// CPU time a Unix thread has run, in nanoseconds, from the scheduler's own
// account (/proc/PID/task/TID/schedstat); -1 when it cannot be read. A
// Windows process's main thread is its Unix main thread (TID = PID).
std::int64_t ThreadCpuNs(int pid, int tid);
// The sum over the process's live threads.
std::int64_t ProcessCpuNs(int pid);
// Resident memory (VmRSS) in bytes.
std::int64_t ResidentBytes(int pid);

// Waits until the thread has used no CPU for quietMs, at most timeoutMs.
void WaitUntilQuiet(int pid, int tid, int quietMs = 40, int timeoutMs = 3000);

// One ordinary 420-byte message block as another station writes it.
std::string MessageBlock(const std::string &sender, const std::string &recipient,
                         const std::string &text);
// A distinct message text of about `bytes` bytes, numbered n.
std::string MessageText(int n, std::size_t bytes);
// Open, write, close: one datagram into \\.\mailslot\messngr.
bool WriteDatagram(const std::string &bytes);

// Reads the FIFO at the Unix path (opened read-write, so a writer's close is
// no end of file) and counts the 420-byte blocks that arrive.
class Sink {
public:
    explicit Sink(const std::string &unixPath);
    ~Sink();
    std::size_t Blocks() const { return bytes_.load() / 420; }
    bool Ok() const { return fifo_ != INVALID_HANDLE_VALUE; }
    // Waits until at least count blocks arrived; false on time-out.
    bool WaitFor(std::size_t count, int timeoutMs) const;

private:
    HANDLE fifo_ = INVALID_HANDLE_VALUE;
    std::string path_;
    std::atomic<std::size_t> bytes_{0};
    std::atomic<bool> stop_{false};
    std::thread reader_;
};

// Closes every message box of a process as it appears, from a thread of
// its own, as a user who clicks OK at once would.
class BoxCloser {
public:
    explicit BoxCloser(DWORD pid);
    ~BoxCloser();
    std::size_t Closed() const { return closed_.load(); }
    std::size_t OpenNow() const; // boxes of the process that exist right now

private:
    DWORD pid_;
    std::atomic<std::size_t> closed_{0};
    std::atomic<bool> stop_{false};
    std::thread worker_;
};

std::vector<HWND> BoxesOf(DWORD pid);

// Text of a window by WM_GETTEXT; length by WM_GETTEXTLENGTH.
std::string TextOf(HWND window);
LRESULT Ask(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

// A started Windows program and its main window (class given), if any.
struct Started {
    PROCESS_INFORMATION Process{};
    HWND Window = nullptr;
    std::vector<HWND> Children;
};
bool Start(const std::string &commandLine, Started &started, const char *windowClass,
           std::size_t children);
void Stop(Started &started);

double Median(std::vector<double> values);

} // namespace bench
