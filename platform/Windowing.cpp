// See Windowing.h.
#include "platform/Windowing.h"

#include <windows.h>

#include <vector>

std::string ReadWindowText(WindowHandle window, std::size_t maxBytes)
{
    std::vector<char> buffer(maxBytes + 1, '\0');
    const int n = GetWindowTextA(window, buffer.data(), static_cast<int>(buffer.size()));
    return std::string(buffer.data(), n > 0 ? static_cast<std::size_t>(n) : 0);
}

void SetText(WindowHandle window, const std::string &text)
{
    SetWindowTextA(window, text.c_str());
}

void EnableControl(WindowHandle window, bool enabled)
{
    EnableWindow(window, enabled);
}

void HideWindow(WindowHandle window)
{
    ShowWindow(window, SW_HIDE);
}

void PostPollRequest(WindowHandle window)
{
    PostMessageA(window, WM_TIMER, 0, 0);
}

void RemoveTextLimit(WindowHandle edit)
{
    SendMessageA(edit, EM_SETLIMITTEXT, 0, 0);
}

void InsertAtTop(WindowHandle edit, const std::string &text)
{
    SendMessageA(edit, EM_SETSEL, 0, 0);
    SendMessageA(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
    SendMessageA(edit, EM_SETSEL, 0, 0);
    SendMessageA(edit, EM_SCROLLCARET, 0, 0);
    const LRESULT first = SendMessageA(edit, EM_GETFIRSTVISIBLELINE, 0, 0);
    if (first > 0)
        SendMessageA(edit, EM_LINESCROLL, 0, -first);
    SendMessageA(edit, EM_SETMODIFY, FALSE, 0);
}

void PauseThread(unsigned milliseconds)
{
    Sleep(milliseconds);
}
