// See MainWindow.h.
#include "shell/MainWindow.h"
#include "UTypes.h"
#include "platform/Process.h"
#include "shell/Layout.h"
#include "transport/Receive.h"
#include "transport/Send.h"

#include <windows.h>

#include <string>

WindowHandle MainWindow = nullptr;
WindowHandle RecipientEdit = nullptr;
WindowHandle MessageEdit = nullptr;
WindowHandle HistoryPane = nullptr;
WindowHandle SendButton = nullptr;
WindowHandle HideButton = nullptr;

const char *const HelpText =
    "Command line parameters:\r\n"
    "/H\thide on startup\r\n"
    "/M\tminimize on startup\r\n"
    "/S\tsend message\r\n"
    "eg.:\t/s Machine1 \"First line of message\" message_text \"another line of message\" "
    "another-line-of-message last_line_of_message";

namespace {
HFONT LabelFont = nullptr;
HFONT TextFont = nullptr;
WNDPROC PreviousRecipientProc = nullptr;
bool ControlsExist = false; // a WM_SIZE during creation comes before them

// Above this many characters the Send caption warns: a message of more than
// 419 bytes is cut when it is sent.
constexpr int LengthWarningThreshold = 400;

constexpr DWORD RecipientStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL;
constexpr DWORD MessageStyle =
    WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_TABSTOP | ES_AUTOVSCROLL | ES_MULTILINE;
constexpr DWORD HistoryStyle = WS_CHILD | WS_VISIBLE | WS_VSCROLL | WS_HSCROLL | WS_TABSTOP |
                               ES_READONLY | ES_AUTOVSCROLL | ES_MULTILINE;
constexpr DWORD ButtonStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHLIKE;
static_assert(RecipientStyle == 0x50010080 && MessageStyle == 0x50210044 &&
              HistoryStyle == 0x50310844 && ButtonStyle == 0x50011000);

HINSTANCE Instance()
{
    return GetModuleHandleA(nullptr);
}

HWND CreateControl(DWORD exStyle, const char *cls, const char *text, DWORD style, int x, int y,
                   int w, int h)
{
    return CreateWindowExA(exStyle, cls, text, style, x, y, w, h, MainWindow, nullptr, Instance(),
                           nullptr);
}

HFONT CreateStationFont(const char *face, DWORD quality)
{
    return CreateFontA(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, quality,
                       DEFAULT_PITCH | FF_DONTCARE, face);
}

void ApplyFont(HWND control, HFONT font)
{
    if (font)
        SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
}

void UpdateLengthWarning()
{
    const int n = GetWindowTextLengthA(MessageEdit);
    const std::string caption = n > LengthWarningThreshold ? "Length " + std::to_string(n) : "&Send";
    // The message field asks for its colours on every repaint; setting an
    // unchanged caption would only repaint the button each time.
    char current[32] = {};
    GetWindowTextA(SendButton, current, sizeof current);
    if (caption != current)
        SetWindowTextA(SendButton, caption.c_str());
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const LRESULT result = DefWindowProcA(window, message, wParam, lParam);
    try {
        const HWND from = reinterpret_cast<HWND>(lParam);
        if (message == WM_COMMAND && from && from == SendButton)
            ComposeAndSend();
        if (message == WM_COMMAND && from && from == HideButton)
            ShowWindow(MainWindow, SW_HIDE);
        if (from && from == MessageEdit)
            UpdateLengthWarning();
        if (message == WM_SIZE)
            LayoutControls();
        else if (message == WM_CLOSE)
            ExitApp();
    } catch (...) {
        // Nothing may unwind into the system's dispatch.
    }
    return result;
}

LRESULT CALLBACK RecipientEditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // The field sees the key first, then the message goes.
    const LRESULT result = CallWindowProcA(PreviousRecipientProc, window, message, wParam, lParam);
    try {
        if (message == WM_KEYDOWN && wParam == VK_RETURN)
            ComposeAndSend();
    } catch (...) {
    }
    return result;
}

void MoveControl(HWND control, const Placement &p)
{
    MoveWindow(control, p.X, p.Y, p.Width, p.Height, TRUE);
}
} // namespace

bool CreateMainWindow()
{
    WNDCLASSA cls = {};
    cls.style = CS_CLASSDC | CS_PARENTDC;
    cls.lpfnWndProc = MainWindowProc;
    cls.hInstance = Instance();
    cls.hIcon = LoadIconA(Instance(), "MAINICON");
    cls.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    cls.lpszClassName = WindowClassName;
    if (!RegisterClassA(&cls))
        return false;

    // Centred on a 600 x 400 box, whatever the window's own size.
    const HDC screen = GetDC(nullptr);
    const int x = (GetDeviceCaps(screen, HORZRES) - 600) / 2;
    const int y = (GetDeviceCaps(screen, VERTRES) - 400) / 2;
    ReleaseDC(nullptr, screen);

    MainWindow = CreateWindowExA(WS_EX_APPWINDOW | WS_EX_CONTROLPARENT | WS_EX_ACCEPTFILES,
                                 WindowClassName, "zorvanta tindrel", WS_OVERLAPPEDWINDOW, x, y,
                                 400, 300, nullptr, nullptr, Instance(), nullptr);
    if (!MainWindow)
        return false;

    RecipientEdit = CreateControl(WS_EX_CLIENTEDGE, "Edit",
                                  "recipient name, computer, domain or * here", RecipientStyle,
                                  20, 20, 65, 21);
    MessageEdit = CreateControl(WS_EX_CLIENTEDGE, "Edit", "Message text write here...",
                                MessageStyle, 5, 5, 585, 350);
    HistoryPane = CreateControl(WS_EX_CLIENTEDGE, "Edit", HelpText, HistoryStyle, 20, 20, 65, 21);
    SendButton = CreateControl(0, "Button", "&Send", ButtonStyle, 523, 345, 65, 21);
    HideButton = CreateControl(0, "Button", "&Hide", ButtonStyle, 50, 50, 40, 21);
    ControlsExist = true;

    LabelFont = CreateStationFont("Arial", ANTIALIASED_QUALITY);
    TextFont = CreateStationFont("Courier New", DEFAULT_QUALITY);
    ApplyFont(HideButton, LabelFont);
    ApplyFont(SendButton, LabelFont);
    ApplyFont(RecipientEdit, LabelFont);
    ApplyFont(HistoryPane, LabelFont);
    ApplyFont(MessageEdit, TextFont);

    // The pointer-sized form of GetWindowLong/SetWindowLong: a 64-bit
    // procedure address does not fit the 32-bit one.
    PreviousRecipientProc =
        reinterpret_cast<WNDPROC>(GetWindowLongPtrA(RecipientEdit, GWLP_WNDPROC));
    SetWindowLongPtrA(RecipientEdit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecipientEditProc));
    SendMessageA(RecipientEdit, EM_LIMITTEXT, 64, 0);

    LayoutControls();
    return true;
}

void LayoutControls()
{
    if (!ControlsExist)
        return;
    RECT outer = {};
    GetWindowRect(MainWindow, &outer);
    const ControlPlacements p = PlaceControls(outer.right - outer.left, outer.bottom - outer.top);
    MoveControl(MessageEdit, p.Message);
    MoveControl(RecipientEdit, p.Recipient);
    MoveControl(SendButton, p.Send);
    MoveControl(HideButton, p.Hide);
    MoveControl(HistoryPane, p.History);
}

void ConfirmExit()
{
    const int answer = ShowBox(MainWindow,
                               "Do You want Exit \"Zorvanta Tindrel?\n\n"
                               "Warning: When you close, you will not receive pop-up messages!",
                               "Tindrel", BoxYesNoWarning);
    if (answer == BoxAnswerYes)
        ExitApp();
}

void ExitApp(unsigned exitCode)
{
    if (TextFont)
        DeleteObject(TextFont);
    if (LabelFont)
        DeleteObject(LabelFont);
    UnregisterClassA(WindowClassName, Instance());
    CloseLocalMailslot();
    EndProcess(exitCode);
}
