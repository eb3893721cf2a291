// The main window, its five controls and two fonts, the placement of the
// controls, and the two ways the program ends. Owns the shared window
// handles (UTypes.h). Called by shell/Main (creation) and shell/MainLoop
// (ConfirmExit); ExitApp is the end of every path out of the program.
#pragma once

// The first content of the history pane.
extern const char *const HelpText;

// Registers the class, creates the window, controls and fonts, and places
// the controls. The window is not shown yet.
void CreateMainWindow();

// Places the controls from the window's outer rectangle.
void LayoutControls();

// Asks, and ends the program on yes.
void ConfirmExit();

// Releases the fonts, the window class and the mailslot, and ends the process.
[[noreturn]] void ExitApp();
