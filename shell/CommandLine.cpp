// See CommandLine.h.
#include "shell/CommandLine.h"

#include <algorithm>

namespace {
// Blanks and every control byte separate arguments; NUL ends the line.
bool IsSeparator(char c)
{
    const auto b = static_cast<unsigned char>(c);
    return b >= 0x01 && b <= 0x20;
}

// Takes one argument starting at pos and returns it; pos ends after it.
std::string NextArgument(const std::string &line, std::size_t &pos)
{
    const std::size_t end = line.size();
    for (;;) {
        while (pos < end && IsSeparator(line[pos]))
            ++pos;
        // A pair of quotes where an argument would begin is an empty
        // argument written out, not the end of the list: skip it.
        if (pos + 1 < end && line[pos] == '"' && line[pos + 1] == '"')
            pos += 2;
        else
            break;
    }
    std::string argument;
    while (pos < end && !IsSeparator(line[pos])) {
        if (line[pos] != '"') {
            argument += line[pos++];
            continue;
        }
        // A quote runs to the next quote or the end of the line, blanks
        // included; there is no escape, so a quote can never be part of an
        // argument. Stretches that touch join into one argument.
        const std::size_t close = line.find('"', pos + 1);
        const std::size_t stop = close == std::string::npos ? end : close;
        argument.append(line, pos + 1, stop - pos - 1);
        pos = close == std::string::npos ? end : close + 1;
    }
    return argument;
}
} // namespace

std::string CommandLine::Argument(std::size_t n) const
{
    return n >= 1 && n <= Arguments.size() ? Arguments[n - 1] : std::string();
}

CommandLine SplitCommandLine(const std::string &raw)
{
    // Nothing after a NUL belongs to the line.
    const std::string line = raw.substr(0, raw.find('\0'));
    CommandLine result;
    std::size_t pos = 0;
    NextArgument(line, pos); // the program's own name
    // The list ends at the first argument that comes out empty.
    for (std::string argument; !(argument = NextArgument(line, pos)).empty();)
        result.Arguments.push_back(std::move(argument));
    return result;
}

Switches FindSwitches(const std::string &firstArgument)
{
    std::string upper = firstArgument;
    // Letters a to z only: bytes of the ANSI code page above 0x7F stay as typed.
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
    const auto has = [&](const char *sw) { return upper.find(sw) != std::string::npos; };
    return Switches{has("/H"), has("/M"), has("/S")};
}
