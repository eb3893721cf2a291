// Window operations that the transport and the history call on the shell's
// windows: texts, enabling, the self-posted poll, the history pane. The shell
// itself (window class, procedures, loop) talks to the Windows API directly.
#pragma once

#include "UTypes.h"

#include <cstddef>
#include <string>

// At most maxBytes bytes of the window's text, as GetWindowTextA gives them.
std::string ReadWindowText(WindowHandle window, std::size_t maxBytes);
void SetText(WindowHandle window, const std::string &text);
// Sets a window's title unless it already reads so: a title set redraws the
// caption, and the poll sets the same title every second.
void SetTitle(WindowHandle window, const std::string &text);
void EnableControl(WindowHandle window, bool enabled);
WindowHandle FocusedWindow();
void GiveFocus(WindowHandle window);

// A WM_TIMER with identifier 0 and no argument, taken by the main loop's poll hook.
void PostPollRequest(WindowHandle window);
// A timer of the window whose messages reach the main loop every
// milliseconds; starting it again with the same identifier restarts the count.
void StartWindowTimer(WindowHandle window, unsigned id, unsigned milliseconds);
void StopWindowTimer(WindowHandle window, unsigned id);

// Sets an edit control's whole text; the control is repainted when the
// thread's queue has nothing more pressing.
void SetPaneText(WindowHandle edit, const std::string &text);

// Puts text in front of the edit control's text and leaves the control as
// setting its whole text would: caret and empty selection at 0, scrolled to
// the first line and column, not marked modified, nothing to undo, the same
// text limit. The insertion itself is not stopped by that limit. Repainted
// as SetPaneText is.
void InsertAtTop(WindowHandle edit, const std::string &text);

void PauseThread(unsigned milliseconds);
