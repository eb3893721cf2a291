// See Popups.h.
#include "tests/drive/Popups.h"
#include "tests/drive/StationWindow.h"

#include <windows.h>

namespace drive {

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
    PostMessageA(box, WM_COMMAND, IDOK, 0);
}

} // namespace drive
