// Windows processes started, watched and ended from a test or a tool, each
// held by owned handles, and the processes of this prefix listed by name.
#pragma once

#include "platform/Handles.h"

#include <set>
#include <string>

namespace drive {

struct Child {
    ProcessHandle Process;
    ThreadHandle Thread;
    unsigned long Pid = 0;
    unsigned long ThreadId = 0;
};

// Runs a command line as written (quote the program's path yourself);
// false when it cannot be started.
bool StartProgram(const std::string &commandLine, Child &child);
// A process of this prefix, opened with every right; invalid when gone.
ProcessHandle OpenProcessById(unsigned long pid);

bool Running(const ProcessHandle &process);
// True when it ended within the time.
bool WaitForEnd(const ProcessHandle &process, int timeoutMs);
// Its exit code; STILL_ACTIVE while it runs.
unsigned long ExitCodeOf(const ProcessHandle &process);
// Terminates it with the code when it still runs, then waits up to waitMs.
void EndProcess(const ProcessHandle &process, unsigned code, int waitMs);

// The ids of this prefix's processes whose file is exeName (any case).
std::set<unsigned long> ProcessesNamed(const char *exeName);

} // namespace drive
