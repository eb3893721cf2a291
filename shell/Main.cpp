// The program's entry: the start-up sequence, then the main loop.
#include "UTypes.h"
#include "platform/Locale.h"
#include "platform/Process.h"
#include "presentation/Stamps.h"
#include "shell/CommandLine.h"
#include "shell/MainLoop.h"
#include "shell/MainWindow.h"
#include "transport/Receive.h"
#include "transport/Send.h"

#include <windows.h>

namespace {
// /S: the second argument is the recipient, every further one a line.
// True when the block was written.
bool SendFromCommandLine(const CommandLine &args)
{
    // Put in directly, so the field's typing limit does not apply.
    SetWindowTextA(RecipientEdit, args.Argument(2).c_str());
    std::string text;
    for (std::size_t n = 3; n <= args.Arguments.size(); ++n)
        text += args.Arguments[n - 1] + "\r\n";
    if (text.size() >= 2)
        text.erase(text.size() - 2);
    SetWindowTextA(MessageEdit, text.c_str());
    return ComposeAndSend();
}

void RewireSystemMenu()
{
    const HMENU menu = GetSystemMenu(MainWindow, FALSE);
    DeleteMenu(menu, SC_CLOSE, MF_BYCOMMAND);
    AppendMenuA(menu, MF_STRING, IDM_CLOSE, "&Close");
    AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(menu, MF_STRING, IDM_HIDE, "&Hide");
}

int Main()
{
    LoadStampSettings(ThreadLocaleSource());
    // Looked up before this copy's own class and window exist.
    const HWND runningCopy = FindWindowA(WindowClassName, nullptr);
    // Without its window the program could neither be seen nor ended; it
    // shows no errors, so its exit status is all a caller gets.
    if (!CreateMainWindow())
        ExitApp(ExitStartFailed);

    ShowWindow(MainWindow, SW_SHOW);
    SetFocus(MessageEdit);
    SetWindowTextA(MainWindow, TitleNotReceiving);

    const CommandLine args = SplitCommandLine(RawCommandLine());
    const Switches switches = FindSwitches(args.Argument(1));
    if (switches.Hide)
        ShowWindow(MainWindow, SW_HIDE);
    if (switches.Minimize)
        ShowWindow(MainWindow, SW_MINIMIZE);
    if (switches.Send) {
        // Never receives, and leaves a running copy alone. The exit status
        // tells a calling script whether the block was written.
        ExitApp(SendFromCommandLine(args) ? ExitNormal : ExitNotSent);
    }
    if (runningCopy) {
        ShowWindow(runningCopy, SW_SHOWNORMAL);
        ExitApp();
    }

    if (OpenLocalMailslot())
        SetTimer(MainWindow, POLL_TIMER_ID, PollPeriodMs, nullptr);
    RewireSystemMenu();
    RunMainLoop(args.Argument(1));
    // A quit message from outside. Returning would run the module's
    // destructors under pop-up threads that still use its state.
    ExitApp();
}
} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    try {
        return Main();
    } catch (...) {
        return 1;
    }
}
