// The main window, its five controls and two fonts, the placement of the
// controls, and the two ways the program ends. Owns the shared window
// handles (UTypes.h). Called by shell/Main (creation) and shell/MainLoop
// (ConfirmExit); ExitApp is the end of every path out of the program.
#pragma once

// The first content of the history pane.
extern const char *const HelpText;

// Exit statuses of the process; nothing inside the system reads them.
constexpr unsigned ExitNormal = 0;
constexpr unsigned ExitNotSent = 1;     // /S could not open its destination or write
constexpr unsigned ExitStartFailed = 2; // no window class or no main window

// Registers the class, creates the window, controls and fonts, and places
// the controls. The window is not shown yet. False when the class or the
// main window could not be had; controls and fonts are not looked at.
bool CreateMainWindow();

// Places the controls from the window's outer rectangle.
void LayoutControls();

// Asks, and ends the program on yes.
void ConfirmExit();

// Releases the fonts, the window class and the mailslot, and ends the process
// at once, pop-up threads and all.
[[noreturn]] void ExitApp(unsigned exitCode = ExitNormal);
