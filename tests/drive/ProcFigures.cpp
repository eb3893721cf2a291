// See ProcFigures.h.
#include "tests/drive/ProcFigures.h"
#include "tests/drive/Files.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace drive {

namespace {
using Clock = std::chrono::steady_clock;

std::string ProcFile(const std::string &unixPath)
{
    return ReadWholeFile(WindowsPathOf(unixPath)).value_or("");
}

std::vector<std::string> NumericEntries(const std::string &unixDir)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    const HANDLE find = FindFirstFileA((WindowsPathOf(unixDir) + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        const std::string name = data.cFileName;
        if (!name.empty() && std::all_of(name.begin(), name.end(), ::isdigit))
            names.push_back(name);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return names;
}

std::string Lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

// Field 22 of /proc/PID/stat (start time in ticks), after the command name.
unsigned long long StartTicks(const std::string &stat)
{
    const auto close = stat.rfind(')');
    if (close == std::string::npos)
        return 0;
    unsigned long long value = 0;
    const char *p = stat.c_str() + close + 2;
    for (int field = 3; field <= 22 && *p; ++field) {
        if (field == 22)
            value = std::strtoull(p, nullptr, 10);
        p = std::strchr(p, ' ');
        if (!p)
            break;
        ++p;
    }
    return value;
}
} // namespace

int UnixPidOf(const std::string &exeName, const std::string &prefix, int timeoutMs)
{
    const std::string wanted = "WINEPREFIX=" + prefix;
    const std::string exe = Lower(exeName);
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        int best = 0;
        unsigned long long bestStart = 0;
        for (const auto &pid : NumericEntries("/proc")) {
            const std::string base = "/proc/" + pid;
            if (Lower(ProcFile(base + "/cmdline")).find(exe) == std::string::npos)
                continue;
            std::string env = ProcFile(base + "/environ");
            std::replace(env.begin(), env.end(), '\0', '\n');
            if (("\n" + env).find("\n" + wanted + "\n") == std::string::npos)
                continue;
            const auto start = StartTicks(ProcFile(base + "/stat"));
            if (!best || start >= bestStart) {
                best = std::atoi(pid.c_str());
                bestStart = start;
            }
        }
        if (best)
            return best;
        Sleep(50);
    } while (Clock::now() < end);
    return 0;
}

std::int64_t ThreadCpuNs(int pid, int tid)
{
    const std::string text = ProcFile("/proc/" + std::to_string(pid) + "/task/" +
                                      std::to_string(tid) + "/schedstat");
    if (text.empty())
        return -1;
    return std::strtoll(text.c_str(), nullptr, 10);
}

std::int64_t ProcessCpuNs(int pid)
{
    std::int64_t sum = 0;
    for (const auto &tid : NumericEntries("/proc/" + std::to_string(pid) + "/task")) {
        const auto ns = ThreadCpuNs(pid, std::atoi(tid.c_str()));
        if (ns > 0)
            sum += ns;
    }
    return sum;
}

void WaitUntilQuiet(int pid, int tid, int quietMs, int timeoutMs)
{
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::int64_t last = ThreadCpuNs(pid, tid);
    auto quietSince = Clock::now();
    while (Clock::now() < end) {
        Sleep(5);
        const std::int64_t now = ThreadCpuNs(pid, tid);
        if (now != last) {
            last = now;
            quietSince = Clock::now();
        } else if (Clock::now() - quietSince >= std::chrono::milliseconds(quietMs)) {
            return;
        }
    }
}

Memory MemoryOf(const std::string &unixPid)
{
    Memory m;
    const std::string status = ProcFile("/proc/" + unixPid + "/status");
    const auto field = [&](const char *name) {
        const auto at = status.find(name);
        return at == std::string::npos ? -1L : std::atol(status.c_str() + at + std::strlen(name));
    };
    m.Rss = field("VmRSS:");
    m.Peak = field("VmHWM:");
    return m;
}

} // namespace drive
