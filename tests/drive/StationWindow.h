// A station's window and its controls as another process of the same
// prefix finds them (FindWindowA and friends see only the windows of their
// own prefix), and the texts of any window, read and set by messages that
// give up when the owner's thread does not answer in time.
#pragma once

#include "UTypes.h"

#include <optional>
#include <string>
#include <vector>

namespace drive {

constexpr const char *StationClass = "zorvanta_tindrel";
constexpr unsigned AnswerWithinMs = 10000;

// The top-level windows of a process (0: of any) and a class (null: of
// any), e.g. "#32768" for an open menu.
std::vector<WindowHandle> TopLevelWindows(unsigned long pid, const char *windowClass);
// The main window of a station process (0: of any), or null.
WindowHandle FindStationWindow(unsigned long pid = 0);
// The process that owns a window.
unsigned long PidOf(WindowHandle window);

// The window's own controls in the order they were made, without their
// children (such as an edit's scroll bar).
std::vector<WindowHandle> ControlsOf(WindowHandle window);
// The station's three edit fields, told apart by their styles.
struct Fields {
    WindowHandle Recipient = nullptr;
    WindowHandle Message = nullptr;
    WindowHandle History = nullptr;
    int Controls = 0;
};
Fields FieldsOf(WindowHandle window);

// A station is up once its start-up has set the title, which comes after
// its controls exist.
bool TitledAsStation(WindowHandle window);

// The system's copy of a window's caption: answers even while the owner's
// thread is busy.
std::string TitleOf(WindowHandle window);
// Text by WM_GETTEXT (waits for the owner's thread); none when it does not
// answer in time.
std::optional<std::string> AskText(WindowHandle window, unsigned timeoutMs = AnswerWithinMs);
// The same, "<no answer>" when none came.
std::string TextOf(WindowHandle window, unsigned timeoutMs = AnswerWithinMs);
// By WM_GETTEXTLENGTH, cheap for the owner to answer; none without answer.
std::optional<std::size_t> AskTextLength(WindowHandle window,
                                         unsigned timeoutMs = AnswerWithinMs);
void SetTextOf(WindowHandle window, const std::string &text, unsigned timeoutMs = AnswerWithinMs);

} // namespace drive
