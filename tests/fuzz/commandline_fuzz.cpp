// Fuzz target: the command-line splitter and the switch search on arbitrary
// bytes. Beyond a reference splitter (a plain walk with an in-quotes flag),
// the split must be stable: separators outside quotes may be swapped for
// other separators, each argument may be quoted again, and anything after a
// NUL may change, all without changing the list.
#include "shell/CommandLine.h"

#include "FuzzCheck.h"

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

bool IsSeparator(char c) { return static_cast<unsigned char>(c) >= 0x01 && static_cast<unsigned char>(c) <= 0x20; }

std::vector<std::string> ReferenceSplit(const std::string &raw)
{
    const std::string line = raw.substr(0, raw.find('\0'));
    std::vector<std::string> list;
    std::size_t i = 0;
    for (bool name = true;; name = false) {
        // Where an argument would begin: separators and pairs of quotes go.
        for (;;) {
            while (i < line.size() && IsSeparator(line[i]))
                ++i;
            if (line.compare(i, 2, "\"\"") != 0)
                break;
            i += 2;
        }
        std::string argument;
        bool quoted = false;
        for (; i < line.size() && (quoted || !IsSeparator(line[i])); ++i) {
            if (line[i] == '"')
                quoted = !quoted;
            else
                argument += line[i];
        }
        if (name)
            continue;
        if (argument.empty())
            return list;
        list.push_back(argument);
    }
}

// Every separator outside quotes swapped for another separator byte.
std::string SwapOutsideSeparators(const std::string &raw)
{
    std::string swapped = raw;
    bool quoted = false;
    for (char &c : swapped) {
        if (c == '"')
            quoted = !quoted;
        else if (!quoted && IsSeparator(c))
            c = c == ' ' ? '\x1f' : ' ';
    }
    return swapped;
}

std::string Requoted(const std::vector<std::string> &arguments)
{
    std::string line = "tindrel.exe";
    for (const std::string &argument : arguments)
        line += " \"" + argument + "\"";
    return line;
}

bool ReferenceHas(const std::string &argument, char letter)
{
    for (std::size_t i = 0; i + 1 < argument.size(); ++i) {
        const char next = argument[i + 1];
        if (argument[i] == '/' && (next == letter || next == letter - 'A' + 'a'))
            return true;
    }
    return false;
}

void CheckSwitches(const std::string &argument)
{
    const Switches found = FindSwitches(argument);
    Require(found.Hide == ReferenceHas(argument, 'H'), "/H found exactly where it stands");
    Require(found.Minimize == ReferenceHas(argument, 'M'), "/M found exactly where it stands");
    Require(found.Send == ReferenceHas(argument, 'S'), "/S found exactly where it stands");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string raw(reinterpret_cast<const char *>(data), size);
    const CommandLine line = SplitCommandLine(raw);
    const std::vector<std::string> &arguments = line.Arguments;

    Require(arguments == ReferenceSplit(raw), "the split follows the rules");
    for (const std::string &argument : arguments) {
        Require(!argument.empty(), "no argument is empty");
        Require(argument.find('"') == std::string::npos, "no argument holds a quote");
        Require(argument.find('\0') == std::string::npos, "no argument holds a NUL");
    }
    Require(SplitCommandLine(SwapOutsideSeparators(raw)).Arguments == arguments,
            "no argument holds a separator from outside quotes");
    Require(SplitCommandLine(Requoted(arguments)).Arguments == arguments, "quoting each argument again splits alike");
    Require(SplitCommandLine(raw + '\0' + raw).Arguments == SplitCommandLine(raw.substr(0, raw.find('\0'))).Arguments,
            "nothing after a NUL counts");

    Require(line.Argument(0).empty(), "argument 0 is empty");
    for (std::size_t n = 1; n <= arguments.size(); ++n)
        Require(line.Argument(n) == arguments[n - 1], "Argument(n) is the n-th argument");
    for (std::size_t n : {arguments.size() + 1, arguments.size() + 2, std::numeric_limits<std::size_t>::max()})
        Require(line.Argument(n).empty(), "an argument beyond the end is empty");

    CheckSwitches(line.Argument(1));
    CheckSwitches(raw);
    return 0;
}
