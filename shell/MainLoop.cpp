// See MainLoop.h.
#include "shell/MainLoop.h"
#include "UTypes.h"
#include "presentation/History.h"
#include "presentation/Stamps.h"
#include "shell/MainWindow.h"
#include "transport/Receive.h"
#include "transport/Send.h"

#include <windows.h>

namespace {
bool TraceMode = false;

void HandleSystemCommand(MSG &msg)
{
    // The whole wParam, unmasked: only the exact commands count.
    if (msg.wParam == IDM_CLOSE) {
        ConfirmExit();
    } else if (msg.wParam == IDM_HIDE) {
        ShowWindow(MainWindow, SW_HIDE);
    } else if (msg.wParam == SC_CLOSE) {
        // A close request (Alt+F4 among them) only minimises: the station
        // keeps receiving. Neutralised so the window procedure never sees it.
        msg.wParam = 0;
        ShowWindow(MainWindow, SW_MINIMIZE);
    }
}

void RunIteration(MSG &msg, const std::string &firstArgument)
{
    if (msg.message == WM_SYSCOMMAND)
        HandleSystemCommand(msg);
    if (msg.message == WM_SYSKEYDOWN) {
        if (msg.wParam == 'H')
            ShowWindow(MainWindow, SW_HIDE);
        else if (msg.wParam == 'S')
            ComposeAndSend();
    }
    if (msg.message == WM_KEYDOWN && msg.wParam == VK_TAB) {
        CycleFocus();
        msg.wParam = 0; // no control sees a Tab, so none types one
    }

    TranslateMessage(&msg);
    DispatchMessageA(&msg);

    if (TraceMode && msg.message != WM_PAINT)
        ShowInHistoryPane(TraceLine(msg.message, static_cast<std::uint32_t>(msg.wParam),
                                    static_cast<std::uint32_t>(msg.lParam)));
    if (msg.message == WM_KEYUP && msg.wParam == VK_F11) {
        TraceMode = !TraceMode;
        if (!TraceMode)
            ShowInHistoryPane(firstArgument);
    }
    // Every timer message polls, whatever its window or identifier: the
    // poll timer, the poll's own follow-ups, and the controls' timers.
    if (msg.message == WM_TIMER)
        PollMailslot();
}
} // namespace

void CycleFocus()
{
    SendMessageA(RecipientEdit, EM_SETSEL, 0, -1);
    const HWND focus = GetFocus();
    HWND next = SendButton;
    if (focus && focus == RecipientEdit)
        next = SendButton;
    else if (focus && focus == SendButton)
        next = HideButton;
    else if (focus && focus == HideButton)
        next = MessageEdit;
    else if (focus && focus == MessageEdit)
        next = RecipientEdit;
    SetFocus(next);
}

void RunMainLoop(const std::string &firstArgument)
{
    MSG msg = {};
    for (;;) {
        const BOOL got = GetMessageA(&msg, MainWindow, 0, 0);
        if (got == 0)
            return;
        if (got == -1) {
            // A passing retrieval error does not end the loop. A main window
            // that no longer exists makes every retrieval fail at once: the
            // loop would spin on one core forever, holding the mailslot.
            if (!IsWindow(MainWindow))
                ExitApp();
            continue;
        }
        try {
            RunIteration(msg, firstArgument);
        } catch (...) {
            // One message's failure (out of memory) must not end the station.
        }
    }
}
