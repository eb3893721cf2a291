// See Process.h.
#include "platform/Process.h"
#include "platform/Handles.h"
#include "platform/TickCount.h"

#include <windows.h>

#include <atomic>
#include <memory>

std::string RawCommandLine()
{
    const char *line = GetCommandLineA();
    return line ? line : "";
}

namespace {
// The last widened count; pop-up threads read the clock side by side.
std::atomic<std::uint64_t> LastTicks{0};
} // namespace

// GetTickCount64 is missing on Windows XP: widen GetTickCount instead.
std::uint64_t MillisecondsSinceBoot()
{
    std::uint64_t last = LastTicks.load();
    for (;;) {
        // Read after last was loaded, so never behind it, even when another
        // thread stored a newer count in between.
        const std::uint64_t now = ExtendTickCount(last, GetTickCount());
        if (LastTicks.compare_exchange_weak(last, now))
            return now;
    }
}

#ifdef __MINGW32__
// The static winpthreads of MinGW-w64 times its waits with GetTickCount64.
// Defining the import slot it calls through keeps the linker from taking
// kernel32's, so the program still starts on XP; the widened count serves
// those intervals as well.
namespace {
ULONGLONG WINAPI WidenedTickCount64()
{
    return MillisecondsSinceBoot();
}
} // namespace

#ifdef _WIN64
extern "C" ULONGLONG(WINAPI *ImportedTickCount64)() __asm__("__imp_GetTickCount64");
#else
extern "C" ULONGLONG(WINAPI *ImportedTickCount64)() __asm__("__imp__GetTickCount64@0");
#endif
ULONGLONG(WINAPI *ImportedTickCount64)() = WidenedTickCount64;
#endif

namespace {
struct ThreadStart {
    void (*Entry)(void *);
    void *Argument;
};

DWORD WINAPI RunThread(LPVOID parameter)
{
    const std::unique_ptr<ThreadStart> start(static_cast<ThreadStart *>(parameter));
    try {
        start->Entry(start->Argument);
    } catch (...) {
        // Nothing may unwind into the system's thread start.
    }
    return 0;
}
} // namespace

bool StartDetachedThread(void (*entry)(void *), void *argument)
{
    auto start = std::make_unique<ThreadStart>(ThreadStart{entry, argument});
    ThreadHandle thread(CreateThread(nullptr, 0, RunThread, start.get(), 0, nullptr));
    if (!thread)
        return false;
    start.release(); // the thread owns it now
    return true;     // the handle closes here; the thread runs on
}

int ShowBox(WindowHandle owner, const std::string &text, const std::string &caption,
            unsigned style)
{
    return MessageBoxA(owner, text.c_str(), caption.c_str(), style);
}

void EndProcess(unsigned exitCode)
{
    ExitProcess(exitCode);
}
