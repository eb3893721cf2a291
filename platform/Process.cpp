// See Process.h.
#include "platform/Process.h"
#include "platform/Handles.h"

#include <windows.h>

#include <memory>

std::string RawCommandLine()
{
    const char *line = GetCommandLineA();
    return line ? line : "";
}

std::uint64_t MillisecondsSinceBoot()
{
    return GetTickCount64();
}

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
