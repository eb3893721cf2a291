// Unit tests of the command-line splitter (a table of raw command lines and
// the arguments they give after the program's name) and of the switch search
// in the first argument.
#include "shell/CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace {

using Args = std::vector<std::string>;

struct SplitCase {
    std::string Raw;
    Args Expected;
};

void PrintTo(const SplitCase &c, std::ostream *os) { *os << testing::PrintToString(c.Raw); }

class ShellCommandLineSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(ShellCommandLineSplit, Arguments)
{
    const SplitCase &c = GetParam();
    const CommandLine line = SplitCommandLine(c.Raw);
    EXPECT_EQ(line.Arguments, c.Expected);
    for (std::size_t n = 1; n <= c.Expected.size(); ++n)
        EXPECT_EQ(line.Argument(n), c.Expected[n - 1]);
    EXPECT_EQ(line.Argument(0), "");
    EXPECT_EQ(line.Argument(c.Expected.size() + 1), "");
    EXPECT_EQ(line.Argument(c.Expected.size() + 100), "");
}

INSTANTIATE_TEST_SUITE_P(
    Table, ShellCommandLineSplit,
    ::testing::Values(
        SplitCase{"tindrel.exe", {}},
        SplitCase{"", {}},
        SplitCase{"tindrel.exe   \t ", {}},
        SplitCase{"tindrel.exe a b  c", {"a", "b", "c"}},
        SplitCase{"   tindrel.exe a", {"a"}},
        // A pair of quotes where an argument would begin is skipped, with the
        // separators after it.
        SplitCase{"tindrel.exe \"\" abc", {"abc"}},
        SplitCase{"tindrel.exe \"\"abc", {"abc"}},
        SplitCase{"tindrel.exe a \"\" b", {"a", "b"}},
        SplitCase{"tindrel.exe a \"\" \"\"  \"\" b", {"a", "b"}},
        SplitCase{"tindrel.exe a \"\"\"\"b", {"a", "b"}},
        SplitCase{"tindrel.exe a \"\"", {"a"}},
        SplitCase{"\"\" tindrel.exe a", {"a"}},
        // Inside an argument a pair is an empty stretch that joins.
        SplitCase{"tindrel.exe a\"\"b c", {"ab", "c"}},
        // A lone quote at the end is an empty argument: the list ends there.
        SplitCase{"tindrel.exe a \"", {"a"}},
        SplitCase{"tindrel.exe a \" b c", {"a", " b c"}},
        SplitCase{"tindrel.exe a\" b c", {"a b c"}},
        // Quote stretches hold blanks and control bytes; touching stretches join.
        SplitCase{"tindrel.exe \"hello world\" x", {"hello world", "x"}},
        SplitCase{"tindrel.exe a\"b c\"d", {"ab cd"}},
        SplitCase{"tindrel.exe \"a\"\"b\" \"c\"d\"e\"", {"ab", "cde"}},
        SplitCase{"tindrel.exe \"a\tb\r\nc\"", {"a\tb\r\nc"}},
        SplitCase{"tindrel.exe \" \" b", {" ", "b"}},
        // No escapes: a backslash is a byte and the quote still opens a stretch.
        SplitCase{"tindrel.exe \\\"a b\\\" c", {"\\a b\\", "c"}},
        SplitCase{"tindrel.exe a\\\\\"b c\"", {"a\\\\b c"}},
        // Every byte 0x01..0x20 separates; DEL does not.
        SplitCase{"tindrel.exe\x01" "a\x1f" "b\tc\r\nd\x0b" "e\x7f" "f", {"a", "b", "c", "d", "e\x7f" "f"}},
        // High bytes of the ANSI code page are kept, case as typed.
        SplitCase{"tindrel.exe /s\xe9 \xff\x80 \"\xe9t\xe9 \xa0\"", {"/s\xe9", "\xff\x80", "\xe9t\xe9 \xa0"}},
        // The program's own name, quoted with blanks, is not counted.
        SplitCase{"\"C:\\Program Files\\Tindrel\\tindrel.exe\" /s bob", {"/s", "bob"}},
        SplitCase{"\"C:\\Program Files\\tindrel.exe\"/s bob", {"bob"}},
        SplitCase{"\"tindrel.exe a b", {}},
        // A NUL ends the line, also inside a quote stretch.
        SplitCase{std::string("tindrel.exe a\0b c", 17), {"a"}},
        SplitCase{std::string("tindrel.exe \"a\0b\" c", 19), {"a"}},
        SplitCase{std::string("tindrel.exe a \0\"b\"", 18), {"a"}},
        // The example of the help text.
        SplitCase{"tindrel.exe /s Machine1 \"First line of message\" message_text \"another line of message\" "
                  "another-line-of-message last_line_of_message",
                  {"/s", "Machine1", "First line of message", "message_text", "another line of message",
                   "another-line-of-message", "last_line_of_message"}}));

struct SwitchCase {
    std::string Raw;
    bool Hide, Minimize, Send;
};

// /H, /M and /S as found, for one comparison that names all three.
std::tuple<bool, bool, bool> Found(const Switches &s)
{
    return {s.Hide, s.Minimize, s.Send};
}

void PrintTo(const SwitchCase &c, std::ostream *os) { *os << testing::PrintToString(c.Raw); }

class ShellCommandLineSwitches : public ::testing::TestWithParam<SwitchCase> {};

TEST_P(ShellCommandLineSwitches, InTheFirstArgument)
{
    const SwitchCase &c = GetParam();
    EXPECT_EQ(Found(FindSwitches(SplitCommandLine(c.Raw).Argument(1))),
              std::tuple(c.Hide, c.Minimize, c.Send));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ShellCommandLineSwitches,
    ::testing::Values(
        SwitchCase{"tindrel.exe", false, false, false},
        SwitchCase{"tindrel.exe /H", true, false, false},
        SwitchCase{"tindrel.exe /M", false, true, false},
        SwitchCase{"tindrel.exe /S bob hi", false, false, true},
        SwitchCase{"tindrel.exe /H/S bob hi", true, false, true},
        SwitchCase{"tindrel.exe /HS bob", true, false, false},
        SwitchCase{"tindrel.exe /h/m", true, true, false},
        SwitchCase{"tindrel.exe /m/s bob", false, true, true},
        SwitchCase{"tindrel.exe /s/h/m", true, true, true},
        SwitchCase{"tindrel.exe x/hy", true, false, false},
        SwitchCase{"tindrel.exe \"/H /S\"", true, false, true},
        SwitchCase{"tindrel.exe \"\" /S bob", false, false, true},
        // Only the first argument is searched.
        SwitchCase{"tindrel.exe bob /S", false, false, false},
        SwitchCase{"tindrel.exe bob /S /H /M", false, false, false},
        SwitchCase{"/S tindrel.exe", false, false, false},
        SwitchCase{"tindrel.exe / S", false, false, false},
        SwitchCase{"tindrel.exe S/", false, false, false},
        SwitchCase{"tindrel.exe -S", false, false, false},
        SwitchCase{"tindrel.exe \\S", false, false, false}));

TEST(ShellCommandLine, SwitchesUpperCaseLettersAToZOnly)
{
    struct Case {
        std::string Argument;
        bool Hide, Minimize, Send;
    };
    const std::vector<Case> cases = {
        {"/h", true, false, false},
        {"/m", false, true, false},
        {"/s", false, false, true},
        {"/Hs", true, false, false},
        {"//s", false, false, true},
        // Folding by bit 5 would make 0x0F a slash or the slash 0x0F.
        {"\x0fH", false, false, false},
        {"\x0fh", false, false, false},
        {"\x0fS\x0fM", false, false, false},
        // Bytes above 0x7F are no letters here, whatever the code page.
        {"/\xe8", false, false, false},
        {"/\xc8", false, false, false},
        {"/\xf3", false, false, false},
        {"\xaf" "S", false, false, false},
        {"/\xe9/s", false, false, true},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Found(FindSwitches(c.Argument)), std::tuple(c.Hide, c.Minimize, c.Send))
            << testing::PrintToString(c.Argument);
}

TEST(ShellCommandLine, SwitchSearchLeavesTheArgumentAsTyped)
{
    const CommandLine line = SplitCommandLine("tindrel.exe /s\xe9x bob");
    ASSERT_TRUE(FindSwitches(line.Argument(1)).Send);
    EXPECT_EQ(line.Argument(1), "/s\xe9x");
    EXPECT_EQ(line.Argument(2), "bob");
}

} // namespace
