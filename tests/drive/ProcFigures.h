// What Linux knows of the processes Wine runs, read from inside a prefix:
// Wine runs each Windows process as a Unix process whose /proc entry is
// reachable through Z:. CPU time from the scheduler's own account, memory
// from the status file, and a Windows program's Unix process id.
#pragma once

#include <cstdint>
#include <string>

namespace drive {

// The newest Unix process whose command line holds exeName (any case) and
// whose environment holds WINEPREFIX=prefix; 0 when none is found in time.
int UnixPidOf(const std::string &exeName, const std::string &prefix, int timeoutMs = 10000);

// CPU time a Unix thread has run, in nanoseconds (/proc/PID/task/TID/
// schedstat); -1 when it cannot be read. A Windows process's main thread
// is its Unix main thread (TID = PID).
std::int64_t ThreadCpuNs(int pid, int tid);
// The sum over the process's live threads.
std::int64_t ProcessCpuNs(int pid);
// Waits until the thread has used no CPU for quietMs, at most timeoutMs.
void WaitUntilQuiet(int pid, int tid, int quietMs = 40, int timeoutMs = 3000);

// Resident and peak memory (VmRSS, VmHWM) in KiB; -1 when unknown.
struct Memory {
    long Rss = -1, Peak = -1;
};
Memory MemoryOf(const std::string &unixPid);

} // namespace drive
