// Start-up as the command line directs it: /S sends once and ends, /H and
// /M hide and minimise, a second start hands over to the running copy, and
// a station that cannot own its mailslot says so in its title.
#include "tests/wine/Station.h"

#include <gtest/gtest.h>

#include <vector>

using namespace wine;

namespace {
bool Receiving(const Station &station)
{
    return WaitUntil([&] { return station.Title() == "Zorvanta tindrel..."; }, 10000);
}

std::size_t StationWindowCount()
{
    return TopLevelWindows(0, StationClass).size();
}
} // namespace

// Each command line runs to its end, writes exactly its one block and tells
// its caller so with exit status 0.
TEST(ShellSendSwitch, SendsTheBlockOnceAndEnds)
{
    struct Case {
        const char *Name;
        std::string Arguments; // the raw command line after the program's name
        std::string Recipient, Text;
    };
    const std::vector<Case> cases = {
        {"lower-case lines", "/s bob hello world", "bob", "hello\r\nworld"},
        {"quoted line", "/S bob \"two words\"", "bob", "two words"},
        {"no text", "/S bob", "bob", ""},
        {"hide and send", "/H/S bob hidden", "bob", "hidden"},
        {"minimise and send", "/m/s bob small", "bob", "small"},
        {"switch inside the argument", "x/sy bob inside", "bob", "inside"},
        {"recipient as typed", "/S BoB x", "BoB", "x"},
        {"help example",
         "/s Machine1 \"First line of message\" message_text \"another line of message\" "
         "another-line-of-message last_line_of_message",
         "Machine1",
         "First line of message\r\nmessage_text\r\nanother line of message\r\n"
         "another-line-of-message\r\nlast_line_of_message"},
        // The program's own splitting, not the C runtime's (each rule is
        // checked on its own in CommandLine_test.cpp): touching stretches
        // join, a quote after a quote, a backslash is plain, an empty pair
        // is skipped, control bytes separate, a lone quote ends the list.
        {"own splitting", "/S bob a\"b c\"d \"a\"\"b\" a\\\"b\" one \"\" two\x01three \"", "bob",
         "ab cd\r\nab\r\na\\b\r\none\r\ntwo\r\nthree"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Name);
        MailslotSink sink(c.Recipient);
        EXPECT_EQ(RunToEnd(Launch{c.Arguments, {}}), 0u) << "ends by itself, the block written";
        EXPECT_EQ(sink.BlocksUpToNow(),
                  std::vector{MessageBlock(UserName(), c.Recipient, SignedText(c.Text))});
        EXPECT_EQ(StationWindowCount(), 0u);
    }
}

TEST(ShellStartup, SendLeavesARunningCopyAlone)
{
    MailslotSink bob("bob");
    Station first(Launch{"/H", {}});
    ASSERT_TRUE(first.Window());
    ASSERT_TRUE(Receiving(first));
    const std::string history = first.HistoryText();

    EXPECT_NE(RunToEnd(Launch{"/S bob from the command line", {}}), STILL_ACTIVE);
    ASSERT_TRUE(bob.WaitForBlocks(1));
    EXPECT_EQ(bob.Blocks()[0],
              MessageBlock(UserName(), "bob", SignedText("from\r\nthe\r\ncommand\r\nline")));
    ASSERT_TRUE(first.Settle());
    EXPECT_FALSE(IsWindowVisible(first.Window())) << "not shown by the sending copy";
    EXPECT_EQ(first.HistoryText(), history);
    EXPECT_TRUE(Receives(first, "still here")) << "its mailslot is still its own";
}

// A send to a FIFO whose buffer is full waits until someone reads: that
// holds the /S copy inside its send, where it must not own the mailslot.
TEST(ShellStartup, SendSwitchNeverOpensTheLocalMailslot)
{
    const std::string dir = UncRoot() + "/bob/mailslot", fifo = dir + "/messngr";
    ASSERT_TRUE(RunUnix("mkdir -p " + ShellQuoted(dir) + " && mkfifo " + ShellQuoted(fifo)));
    const FileHandle fifoHandle = OpenFifo(WindowsPathOf(fifo));
    ASSERT_TRUE(fifoHandle);
    const HANDLE pipe = fifoHandle.get();
    const std::string filler(65536, 'f'); // a Linux pipe's whole buffer
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(pipe, filler.data(), static_cast<DWORD>(filler.size()), &done, nullptr));

    Station sending(Launch{"/S bob held", {}, false});
    ASSERT_TRUE(WaitUntil([&] { return FindStationWindow(sending.Pid()) != nullptr; }, 10000));
    const HWND window = FindStationWindow(sending.Pid());
    // The title is set just before the write, which cannot end before the
    // FIFO is read: the copy is in its send from here on. Nothing is sent
    // to its window now: Wine would hold the sender past its timeout.
    ASSERT_TRUE(WaitUntil([&] { return TitleOf(window) == "Zorvanta tindrel - sending..."; }));
    ASSERT_TRUE(sending.Running()) << "held in its send";
    EXPECT_FALSE(Opens(LocalMailslot)) << "nobody owns the local mailslot";

    // Reading lets the send go through; the copy then ends.
    const auto readBytes = [&](std::size_t count) {
        std::string got;
        while (got.size() < count) {
            std::vector<char> buffer(count - got.size());
            DWORD n = 0;
            if (!ReadFile(pipe, buffer.data(), static_cast<DWORD>(buffer.size()), &n, nullptr) ||
                n == 0)
                break;
            got.append(buffer.data(), n);
        }
        return got;
    };
    EXPECT_TRUE(readBytes(filler.size()) == filler);
    EXPECT_TRUE(sending.WaitForExit(10000));
    // Behind whatever the copy wrote, so that the read below always ends.
    const std::string sentinel(420, 'z');
    WriteFile(pipe, sentinel.data(), static_cast<DWORD>(sentinel.size()), &done, nullptr);
    const std::string got = readBytes(420);
    EXPECT_EQ(got, MessageBlock(UserName(), "bob", SignedText("held")));
}

// Each starts a receiving station in the state its switches ask for, and
// none of them sends.
TEST(ShellStartup, SwitchesShowTheWindowAsAskedAndReceive)
{
    struct Case {
        const char *Name;
        std::string Arguments;
        bool Visible, Minimised;
    };
    const std::vector<Case> cases = {
        {"none", "", true, false},
        {"/H", "/H", false, false},
        {"/M", "/M", true, true},
        // Minimising comes after hiding and shows the window again.
        {"/h/m", "/h/m", true, true},
        {"/M/H", "/M/H", true, true},
        // "/HS" holds /H but no /S.
        {"/HS", "/HS bob hi", false, false},
        // Switches count in the first argument only.
        {"/S second", "bob /S hi", true, false},
    };
    MailslotSink bob("bob"), hi("hi"), slash("S");
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Name);
        Station station(Launch{c.Arguments, {}});
        if (!station.Window()) {
            ADD_FAILURE() << "no window";
            continue;
        }
        // The poll timer runs: the mailslot was created.
        EXPECT_TRUE(Receiving(station));
        station.WaitUntilHandled();
        EXPECT_EQ(IsWindowVisible(station.Window()) != 0, c.Visible);
        EXPECT_EQ(IsIconic(station.Window()) != 0, c.Minimised);
        EXPECT_TRUE(station.Running());
    }
    EXPECT_TRUE(bob.Blocks().empty() && hi.Blocks().empty() && slash.Blocks().empty());
}

TEST(ShellStartup, SecondStartRestoresTheRunningCopyAndEnds)
{
    for (const char *first : {"/H", "/M"}) {
        SCOPED_TRACE(std::string("first copy started with ") + first);
        Station running(Launch{first, {}});
        ASSERT_TRUE(running.Window());
        ASSERT_TRUE(Receiving(running));

        EXPECT_NE(RunToEnd(Launch{}), STILL_ACTIVE) << "the second copy ends by itself";
        EXPECT_TRUE(WaitUntil([&] { return IsWindowVisible(running.Window()) != 0; }));
        EXPECT_TRUE(WaitUntil([&] { return !IsIconic(running.Window()); }));
        EXPECT_EQ(StationWindowCount(), 1u);
        EXPECT_TRUE(Receives(running, "still here")) << "the second copy took no mailslot";
    }
}

TEST(ShellStartup, WithoutItsMailslotSaysSoAndStartsNoTimer)
{
    // Another program owns the station's mailslot.
    const FileHandle owned = TakeLocalMailslot();
    ASSERT_TRUE(owned);
    Station station;
    ASSERT_TRUE(station.Window());
    EXPECT_EQ(station.Title(), "Zorvanta tindrel - not receiving!");
    // Two and a half poll periods: a timer would have set "Zorvanta tindrel...".
    EXPECT_FALSE(WaitUntil([&] { return station.Title() != "Zorvanta tindrel - not receiving!"; },
                           2500));
    station.WaitUntilHandled();
    EXPECT_EQ(station.Title(), "Zorvanta tindrel - not receiving!");
    EXPECT_TRUE(station.Running());
}

// Without a display no window can be had. The program ends at once with a
// failure status, with or without /S, rather than running a loop with no
// window (or sending what no field holds); it shows no error.
TEST(ShellStartup, WithoutAWindowEndsAtOnceWithAFailureStatus)
{
    MailslotSink bob("bob");
    for (const char *arguments : {"", "/S bob never"}) {
        SCOPED_TRACE(arguments);
        EXPECT_EQ(RunToEnd(Launch{arguments, {{"DISPLAY", ""}}, false}, 20000), 2u);
        EXPECT_EQ(StationWindowCount(), 0u);
    }
    EXPECT_TRUE(bob.BlocksUpToNow().empty());
}
