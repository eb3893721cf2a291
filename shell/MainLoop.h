// The main loop: every message of the main window and its controls, with the
// system's keys, system-menu commands, Tab rotation, F11 trace and the
// receiver's poll around the dispatch. Owns TraceMode. Called by shell/Main.
#pragma once

#include <string>

// Runs until a quit message. firstArgument is the first command-line
// argument as typed, which F11 shows when it ends the trace.
void RunMainLoop(const std::string &firstArgument);

// Tab: selects the recipient text and moves the focus one step round.
void CycleFocus();
