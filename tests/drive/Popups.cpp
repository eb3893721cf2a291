// See Popups.h.
#include "tests/drive/Popups.h"
#include "tests/drive/StationWindow.h"

#include <windows.h>

namespace drive {

namespace {
constexpr DWORD CloseIntervalMs = 20;
} // namespace

std::vector<WindowHandle> DialogsOf(unsigned long pid)
{
    return TopLevelWindows(pid, "#32770");
}

std::string BoxText(WindowHandle box)
{
    return TextOf(GetDlgItem(box, 0xFFFF));
}

std::vector<Box> BoxesOf(unsigned long pid)
{
    std::vector<Box> boxes;
    for (HWND window : DialogsOf(pid))
        if (IsWindowVisible(window))
            boxes.push_back({window, TitleOf(window), BoxText(window)});
    return boxes;
}

void CloseBox(WindowHandle box)
{
    // A box goes about two seconds after its OK (when its dialog loop next
    // wakes), and its thread with it. OKs posted to a hundred boxes in the
    // same moment so end a hundred threads, and their X connections, in the
    // same moment, and under Wine that now and then corrupts the station's
    // heap ("corrupted size vs. prev_size in fastbins", the station ending
    // by SIGSEGV). The station opens its boxes 20 ms apart for the same
    // reason; they are closed at least as far apart.
    static DWORD lastClose = GetTickCount() - CloseIntervalMs;
    const DWORD since = GetTickCount() - lastClose;
    if (since < CloseIntervalMs)
        Sleep(CloseIntervalMs - since);
    lastClose = GetTickCount();
    PostMessageA(box, WM_COMMAND, IDOK, 0);
}

} // namespace drive
