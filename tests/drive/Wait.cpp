// See Wait.h.
#include "tests/drive/Wait.h"

#include <windows.h>

#include <chrono>

namespace drive {

bool WaitUntil(const std::function<bool()> &done, int timeoutMs, int stepMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (done())
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        Sleep(static_cast<DWORD>(stepMs));
    }
}

} // namespace drive
