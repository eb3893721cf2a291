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

void SetTitle(WindowHandle window, const std::string &text)
{
    const int n = GetWindowTextLengthA(window);
    if (n == static_cast<int>(text.size()) && ReadWindowText(window, text.size()) == text)
        return;
    SetWindowTextA(window, text.c_str());
}

void EnableControl(WindowHandle window, bool enabled)
{
    EnableWindow(window, enabled);
}

WindowHandle FocusedWindow()
{
    return GetFocus();
}

void GiveFocus(WindowHandle window)
{
    SetFocus(window);
}

void PostPollRequest(WindowHandle window)
{
    PostMessageA(window, WM_TIMER, 0, 0);
}

void StartWindowTimer(WindowHandle window, unsigned id, unsigned milliseconds)
{
    SetTimer(window, id, milliseconds, nullptr);
}

void StopWindowTimer(WindowHandle window, unsigned id)
{
    KillTimer(window, id);
}

namespace {
// Nothing is drawn while the pane is marked invisible: the control only
// updates its text, lines and scroll state, and the invalidation at the end
// leaves one paint for when the queue holds nothing more pressing, so a
// backlog drains first. WM_SETREDRAW means the same, but Wine's edit control
// keeps that message to itself and still redraws its scroll bars at every
// change, which costs six times the change itself.
class DrawingDeferred {
public:
    explicit DrawingDeferred(HWND edit) : edit_(edit), style_(GetWindowLongA(edit, GWL_STYLE))
    {
        if (style_ & WS_VISIBLE)
            SetWindowLongA(edit_, GWL_STYLE, style_ & ~WS_VISIBLE);
    }
    ~DrawingDeferred()
    {
        if (!(style_ & WS_VISIBLE))
            return;
        // Visibility only: the control may have changed other bits of its
        // style meanwhile, and those are its own.
        SetWindowLongA(edit_, GWL_STYLE, GetWindowLongA(edit_, GWL_STYLE) | WS_VISIBLE);
        RedrawWindow(edit_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME);
    }
    DrawingDeferred(const DrawingDeferred &) = delete;
    DrawingDeferred &operator=(const DrawingDeferred &) = delete;

private:
    HWND edit_;
    LONG style_;
};
} // namespace

void SetPaneText(WindowHandle edit, const std::string &text)
{
    const DrawingDeferred quiet(edit);
    SetWindowTextA(edit, text.c_str());
}

void InsertAtTop(WindowHandle edit, const std::string &text)
{
    const DrawingDeferred quiet(edit);
    // The control's text limit would stop the insertion once the text is
    // past it (a whole-text set ignores it); lifted for the insertion only,
    // so the control keeps the limit a whole-text set leaves it.
    const LRESULT limit = SendMessageA(edit, EM_GETLIMITTEXT, 0, 0);
    SendMessageA(edit, EM_SETLIMITTEXT, 0, 0);
    SendMessageA(edit, EM_SETSEL, 0, 0);
    SendMessageA(edit, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
    SendMessageA(edit, EM_SETLIMITTEXT, static_cast<WPARAM>(limit), 0);
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
