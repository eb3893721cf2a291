// See StationWindow.h.
#include "tests/drive/StationWindow.h"

#include <windows.h>

#include <cstring>

namespace drive {

namespace {
struct Search {
    DWORD Pid;
    const char *Class;
    std::vector<HWND> Found;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM param)
{
    auto *search = reinterpret_cast<Search *>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char cls[64] = {};
    GetClassNameA(window, cls, sizeof cls);
    if ((search->Pid == 0 || pid == search->Pid) &&
        (!search->Class || std::strcmp(cls, search->Class) == 0))
        search->Found.push_back(window);
    return TRUE;
}

BOOL CALLBACK CollectControl(HWND child, LPARAM param)
{
    auto *controls = reinterpret_cast<std::vector<HWND> *>(param);
    if (GetParent(child) == GetAncestor(child, GA_PARENT))
        controls->push_back(child);
    return TRUE;
}
} // namespace

std::vector<WindowHandle> TopLevelWindows(unsigned long pid, const char *windowClass)
{
    Search search{pid, windowClass, {}};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

WindowHandle FindStationWindow(unsigned long pid)
{
    const auto found = TopLevelWindows(pid, StationClass);
    return found.empty() ? nullptr : found.front();
}

unsigned long PidOf(WindowHandle window)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid;
}

std::vector<WindowHandle> ControlsOf(WindowHandle window)
{
    std::vector<HWND> controls;
    EnumChildWindows(window, CollectControl, reinterpret_cast<LPARAM>(&controls));
    return controls;
}

Fields FieldsOf(WindowHandle window)
{
    Fields fields;
    for (HWND control : ControlsOf(window)) {
        ++fields.Controls;
        char cls[16] = {};
        GetClassNameA(control, cls, sizeof cls);
        if (_stricmp(cls, "Edit") != 0)
            continue;
        const LONG style = GetWindowLongA(control, GWL_STYLE);
        if (style & ES_READONLY)
            fields.History = control;
        else if (style & ES_MULTILINE)
            fields.Message = control;
        else
            fields.Recipient = control;
    }
    return fields;
}

bool TitledAsStation(WindowHandle window)
{
    return TitleOf(window).compare(0, 16, "Zorvanta tindrel") == 0;
}

std::string TitleOf(WindowHandle window)
{
    char title[512] = {};
    GetWindowTextA(window, title, sizeof title);
    return title;
}

std::optional<std::size_t> AskTextLength(WindowHandle window, unsigned timeoutMs)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, timeoutMs, &length))
        return std::nullopt;
    return length;
}

std::optional<std::string> AskText(WindowHandle window, unsigned timeoutMs)
{
    const auto length = AskTextLength(window, timeoutMs);
    if (!length)
        return std::nullopt;
    std::string text(*length + 1, '\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, text.size(),
                             reinterpret_cast<LPARAM>(text.data()), SMTO_NORMAL, timeoutMs, &got))
        return std::nullopt;
    text.resize(got);
    return text;
}

std::string TextOf(WindowHandle window, unsigned timeoutMs)
{
    return AskText(window, timeoutMs).value_or("<no answer>");
}

void SetTextOf(WindowHandle window, const std::string &text, unsigned timeoutMs)
{
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                        SMTO_NORMAL, timeoutMs, &ignored);
}

} // namespace drive
