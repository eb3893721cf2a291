// The command line: the system's only configuration. Split from the raw
// command line by the program's own rules (not the C runtime's argv, whose
// quoting rules differ) and searched for the switches /H, /M and /S.
// Pure logic, used by shell/Main and shell/MainLoop.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct CommandLine {
    std::vector<std::string> Arguments; // after the program's name

    // n = 1 is the first argument after the program's name; an argument
    // asked for beyond the end is empty.
    std::string Argument(std::size_t n) const;
};

CommandLine SplitCommandLine(const std::string &raw);

struct Switches {
    bool Hide = false;      // "/H"
    bool Minimize = false;  // "/M"
    bool Send = false;      // "/S"
};

// A switch counts wherever its two characters stand in the first argument,
// in either case: "/h/s" carries two.
Switches FindSwitches(const std::string &firstArgument);
