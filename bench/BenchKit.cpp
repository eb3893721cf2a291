// See BenchKit.h.
#include "BenchKit.h"
#include "transport/Record.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

namespace bench {

double Now()
{
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) / frequency;
}

namespace {
std::string WindowsPath(const std::string &unixPath)
{
    std::string p = "Z:" + unixPath;
    std::replace(p.begin(), p.end(), '/', '\\');
    return p;
}

// A /proc file through Wine's Z: drive (its size reads as 0: read to the end).
std::string ReadProcFile(const std::string &unixPath)
{
    const HANDLE file = CreateFileA(WindowsPath(unixPath).c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                    nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    std::string text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        text.append(buffer, got);
    CloseHandle(file);
    return text;
}

std::vector<std::string> NumericEntries(const std::string &unixDir)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    const HANDLE find = FindFirstFileA((WindowsPath(unixDir) + "\\*").c_str(), &data);
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

int UnixPidOf(const std::string &exeName, int timeoutMs)
{
    const char *prefix = std::getenv("BENCH_PREFIX");
    const std::string wanted = std::string("WINEPREFIX=") + (prefix ? prefix : "");
    const std::string exe = Lower(exeName);
    const double end = Now() + timeoutMs / 1000.0;
    do {
        int best = 0;
        unsigned long long bestStart = 0;
        for (const auto &pid : NumericEntries("/proc")) {
            const std::string base = "/proc/" + pid;
            std::string cmdline = ReadProcFile(base + "/cmdline");
            if (Lower(cmdline).find(exe) == std::string::npos)
                continue;
            std::string env = ReadProcFile(base + "/environ");
            std::replace(env.begin(), env.end(), '\0', '\n');
            if (("\n" + env).find("\n" + wanted + "\n") == std::string::npos)
                continue;
            const auto start = StartTicks(ReadProcFile(base + "/stat"));
            if (!best || start >= bestStart) {
                best = std::atoi(pid.c_str());
                bestStart = start;
            }
        }
        if (best)
            return best;
        Sleep(50);
    } while (Now() < end);
    return 0;
}

std::int64_t ThreadCpuNs(int pid, int tid)
{
    const std::string text = ReadProcFile("/proc/" + std::to_string(pid) + "/task/" +
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

std::int64_t ResidentBytes(int pid)
{
    const std::string status = ReadProcFile("/proc/" + std::to_string(pid) + "/status");
    const auto at = status.find("VmRSS:");
    if (at == std::string::npos)
        return -1;
    return std::strtoll(status.c_str() + at + 6, nullptr, 10) * 1024;
}

void WaitUntilQuiet(int pid, int tid, int quietMs, int timeoutMs)
{
    const double end = Now() + timeoutMs / 1000.0;
    std::int64_t last = ThreadCpuNs(pid, tid);
    double quietSince = Now();
    while (Now() < end) {
        Sleep(5);
        const std::int64_t now = ThreadCpuNs(pid, tid);
        if (now != last) {
            last = now;
            quietSince = Now();
        } else if (Now() - quietSince >= quietMs / 1000.0) {
            return;
        }
    }
}

std::string MessageBlock(const std::string &sender, const std::string &recipient,
                         const std::string &text)
{
    const DatagramBlock block = ToBlock(sender + FieldSeparator + recipient + FieldSeparator +
                                        text + RecordTail);
    return std::string(block.data(), block.size());
}

std::string MessageText(int n, std::size_t bytes)
{
    char head[32];
    std::snprintf(head, sizeof head, "bench %07d ", n);
    std::string text = head;
    static const char filler[] = "the quick brown fox jumps over the lazy dog ";
    while (text.size() < bytes)
        text += filler[text.size() % (sizeof filler - 1)];
    text.resize(bytes);
    // A signature line, as every station adds one.
    return text + "\r\n\tx@BENCH";
}

bool WriteDatagram(const std::string &bytes)
{
    const HANDLE slot = CreateFileA("\\\\.\\mailslot\\messngr", GENERIC_WRITE, FILE_SHARE_READ,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (slot == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL ok =
        WriteFile(slot, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(slot);
    return ok && written == bytes.size();
}

Sink::Sink(const std::string &unixPath) : path_(WindowsPath(unixPath))
{
    fifo_ = CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (fifo_ == INVALID_HANDLE_VALUE)
        return;
    reader_ = std::thread([this] {
        char buffer[8192];
        for (;;) {
            DWORD got = 0;
            const BOOL ok = ReadFile(fifo_, buffer, sizeof buffer, &got, nullptr);
            if (stop_.load() || !ok)
                return;
            bytes_ += got;
        }
    });
}

Sink::~Sink()
{
    if (reader_.joinable()) {
        stop_ = true;
        // Wakes the blocked reader through a handle of its own.
        const HANDLE waker = CreateFileA(path_.c_str(), GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         OPEN_EXISTING, 0, nullptr);
        DWORD written = 0;
        WriteFile(waker, "!", 1, &written, nullptr);
        CloseHandle(waker);
        reader_.join();
    }
    if (fifo_ != INVALID_HANDLE_VALUE)
        CloseHandle(fifo_);
}

bool Sink::WaitFor(std::size_t count, int timeoutMs) const
{
    const double end = Now() + timeoutMs / 1000.0;
    while (Blocks() < count) {
        if (Now() >= end)
            return false;
        Sleep(1);
    }
    return true;
}

namespace {
struct BoxSearch {
    DWORD Pid;
    std::vector<HWND> Found;
};

BOOL CALLBACK CollectBox(HWND window, LPARAM param)
{
    auto *search = reinterpret_cast<BoxSearch *>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != search->Pid)
        return TRUE;
    char cls[16] = {};
    GetClassNameA(window, cls, sizeof cls);
    if (std::strcmp(cls, "#32770") == 0)
        search->Found.push_back(window);
    return TRUE;
}
} // namespace

std::vector<HWND> BoxesOf(DWORD pid)
{
    BoxSearch search{pid, {}};
    EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

BoxCloser::BoxCloser(DWORD pid) : pid_(pid)
{
    worker_ = std::thread([this] {
        std::map<HWND, double> posted; // box, when its OK was posted
        while (!stop_.load()) {
            const auto boxes = BoxesOf(pid_);
            std::map<HWND, double> still;
            for (HWND box : boxes) {
                const auto it = posted.find(box);
                if (it == posted.end()) {
                    ++closed_;
                } else if (Now() - it->second < 1.0) {
                    still.insert(*it);
                    continue;
                }
                // Once per box; again only if it is still there a second later.
                PostMessageA(box, WM_COMMAND, IDOK, 0);
                still[box] = Now();
            }
            posted.swap(still); // boxes that are gone are forgotten
            Sleep(5);
        }
    });
}

BoxCloser::~BoxCloser()
{
    stop_ = true;
    worker_.join();
}

std::size_t BoxCloser::OpenNow() const
{
    return BoxesOf(pid_).size();
}

LRESULT Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, 60000, &result))
        return -1;
    return static_cast<LRESULT>(result);
}

std::string TextOf(HWND window)
{
    const LRESULT length = Ask(window, WM_GETTEXTLENGTH);
    if (length < 0)
        return {};
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const LRESULT got = Ask(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return text;
}

namespace {
struct TopSearch {
    DWORD Pid;
    const char *Class;
    HWND Found;
};

BOOL CALLBACK FindTop(HWND window, LPARAM param)
{
    auto *search = reinterpret_cast<TopSearch *>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char cls[64] = {};
    GetClassNameA(window, cls, sizeof cls);
    if (pid == search->Pid && std::strcmp(cls, search->Class) == 0) {
        search->Found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK CollectChild(HWND child, LPARAM param)
{
    auto *list = reinterpret_cast<std::vector<HWND> *>(param);
    if (GetParent(child) == GetAncestor(child, GA_PARENT))
        list->push_back(child);
    return TRUE;
}
} // namespace

bool Start(const std::string &commandLine, Started &started, const char *windowClass,
           std::size_t children)
{
    std::string command = commandLine;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &started.Process))
        return false;
    if (!windowClass)
        return true;
    const double end = Now() + 30;
    while (Now() < end) {
        TopSearch search{started.Process.dwProcessId, windowClass, nullptr};
        EnumWindows(FindTop, reinterpret_cast<LPARAM>(&search));
        if (search.Found) {
            started.Children.clear();
            EnumChildWindows(search.Found, CollectChild,
                             reinterpret_cast<LPARAM>(&started.Children));
            char title[64] = {};
            GetWindowTextA(search.Found, title, sizeof title);
            if (started.Children.size() >= children && std::strncmp(title, "Zorvanta", 8) == 0) {
                started.Window = search.Found;
                return true;
            }
        }
        Sleep(20);
    }
    return false;
}

void Stop(Started &started)
{
    if (!started.Process.hProcess)
        return;
    if (WaitForSingleObject(started.Process.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(started.Process.hProcess, 99);
        WaitForSingleObject(started.Process.hProcess, 10000);
    }
    CloseHandle(started.Process.hProcess);
    CloseHandle(started.Process.hThread);
    started.Process = {};
}

double Median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace bench
