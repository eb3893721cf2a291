// See BenchKit.h.
#include "BenchKit.h"

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

int UnixPidOf(const std::string &exeName, int timeoutMs)
{
    const char *prefix = std::getenv("BENCH_PREFIX");
    return drive::UnixPidOf(exeName, prefix ? prefix : "", timeoutMs);
}

std::int64_t ResidentBytes(int pid)
{
    const long kib = drive::MemoryOf(std::to_string(pid)).Rss;
    return kib < 0 ? -1 : std::int64_t{kib} * 1024;
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

Sink::Sink(const std::string &unixPath)
    : reader_(drive::WindowsPathOf(unixPath),
              [this](const char *, std::size_t size) { bytes_ += size; })
{
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
                drive::CloseBox(box);
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

LRESULT Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, 60000, &result))
        return -1;
    return static_cast<LRESULT>(result);
}

std::string TextOf(HWND window)
{
    return drive::AskText(window, 60000).value_or("");
}

bool Start(const std::string &commandLine, Started &started, const char *windowClass,
           std::size_t children)
{
    if (!drive::StartProgram(commandLine, started.Process))
        return false;
    if (!windowClass)
        return true;
    const double end = Now() + 30;
    while (Now() < end) {
        const auto found = drive::TopLevelWindows(started.Process.Pid, windowClass);
        if (!found.empty()) {
            started.Children = drive::ControlsOf(found.front());
            if (started.Children.size() >= children &&
                drive::TitleOf(found.front()).compare(0, 8, "Zorvanta") == 0) {
                started.Window = found.front();
                return true;
            }
        }
        Sleep(20);
    }
    return false;
}

void Stop(Started &started)
{
    drive::EndProcess(started.Process.Process, 99, 10000);
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
