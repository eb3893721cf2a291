// Process-wide operations: the raw command line, threads, message boxes,
// the end of the process. Used by shell/ and presentation/MessageuT.
#pragma once

#include "UTypes.h"

#include <cstdint>
#include <string>

// The command line exactly as the process got it, program name included.
std::string RawCommandLine();

// A clock that only moves forward: milliseconds since the system started.
std::uint64_t MillisecondsSinceBoot();

// Starts a thread with the default stack that runs entry(argument) and lets
// go of its handle at once. False when no thread could be started.
bool StartDetachedThread(void (*entry)(void *), void *argument);

// Message box styles used by the system, as the Windows API numbers them.
constexpr unsigned BoxYesNoWarning = 0x34;       // MB_YESNO | MB_ICONWARNING
constexpr unsigned BoxSystemModalWarning = 0x1030; // MB_SYSTEMMODAL | MB_ICONWARNING, OK only
constexpr int BoxAnswerYes = 6;                  // IDYES

int ShowBox(WindowHandle owner, const std::string &text, const std::string &caption,
            unsigned style);

[[noreturn]] void EndProcess(unsigned exitCode);
