// Platform faults met by the real tindrel.exe, each in a prefix of its own:
// its mailslot owned by another program, destinations that cannot be
// opened, no user name from either source, a second start while the first
// copy sits in a modal loop, and every way of ending, after which no
// process may remain and the mailslot must be free for the next station.
#include "tests/wine/Received.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

using namespace wine;
using namespace std::string_literals;

namespace {
std::size_t StationProcessCount()
{
    return ProcessesNamed("tindrel.exe").size();
}

// Nobody holds \\.\mailslot\messngr: this process can create it.
bool MailslotFree()
{
    return TakeLocalMailslot().valid();
}

bool MenuOpen(const Station &station)
{
    for (HWND menu : TopLevelWindows(station.Pid(), "#32768"))
        if (IsWindowVisible(menu))
            return true;
    return false;
}

// The title stays as it is for longer than a poll period.
bool TitleHolds(const Station &station, const std::string &title)
{
    return station.Title() == title &&
           !WaitUntil([&] { return station.Title() != title; }, 1200);
}
} // namespace

// Another program owns the mailslot: the station never polls, so its title
// keeps what it was last set to, and sending works as ever, also to a name
// that cannot be opened, which is logged and reports nothing.
TEST(FaultsMailslotTaken, NeverPollsAndStillSendsAndLogs)
{
    const std::string user = UserName(), pc = ComputerName();
    const FileHandle owned = TakeLocalMailslot();
    ASSERT_TRUE(owned);
    MailslotSink bob("bob");
    Station station;
    ASSERT_TRUE(station.Window());
    EXPECT_TRUE(TitleHolds(station, "Zorvanta tindrel - not receiving!"));
    struct Case {
        const char *Recipient;
        std::size_t BlocksAtBob;
    };
    for (const Case &c : {Case{"bob", 1}, Case{"nobody-here", 1}, Case{"bob", 2}}) {
        SCOPED_TRACE(c.Recipient);
        const std::string text = "to "s + c.Recipient + " " + std::to_string(c.BlocksAtBob);
        SendFromWindow(station, c.Recipient, text);
        EXPECT_EQ(NewestSentBody(station), user + "\x02" + c.Recipient + "\x02" + text +
                                               "\x02\x02\x02" + user + "@" + pc +
                                               "\x02\x02\x02\x02");
        EXPECT_EQ(bob.BlocksUpToNow().size(), c.BlocksAtBob);
        EXPECT_EQ(station.Title(), "Zorvanta tindrel - sending...");
    }
    EXPECT_TRUE(TitleHolds(station, "Zorvanta tindrel - sending..."));
    EXPECT_TRUE(BoxesOf(station.Pid()).empty()) << "no error is shown";
    // Only a poll resets the title, and a stray timer message runs one.
    station.Post(WM_TIMER, 0, 0);
    EXPECT_TRUE(WaitUntil([&] { return station.Title() == "Zorvanta tindrel..."; }));
    EXPECT_EQ(bob.Blocks().back(), MessageBlock(user, "bob", SignedText("to bob 2")));
    // What was meant for a station waits unread with the mailslot's owner.
    ASSERT_TRUE(WriteToStation(MessageBlock("alice", "bob", "for the owner")));
    DWORD next = 0;
    ASSERT_TRUE(GetMailslotInfo(owned.get(), nullptr, &next, nullptr, nullptr));
    EXPECT_EQ(next, DatagramSize);
    EXPECT_TRUE(station.Running());
}

// /S to a destination that cannot be opened tells its caller: exit status
// 1, not 0. (From the window such a send is logged and reports nothing,
// see SendStation.)
TEST(FaultsDestination, SendSwitchEndsWithStatusOneWhenItCannotBeOpened)
{
    // A folder where the mailslot would be, and a name with no mailslot.
    ASSERT_TRUE(RunUnix("/bin/mkdir -p " + UncRoot() + "/isdir/mailslot/messngr " + UncRoot() +
                        "/noslot/mailslot"));
    for (const char *recipient : {"nobody-here", "isdir", "noslot"})
        EXPECT_EQ(RunToEnd(Launch{"/S "s + recipient + " anyone?", {}}), 1u) << recipient;
}

// With no user name from either source a station signs "@" and its
// computer name, sends blocks with an empty sender, and answers with
// receipts signed the same way. Receivers drop its blocks without a trace,
// and a flood of them holds nothing back.
TEST(FaultsNoUserName, SignsWithTheComputerNameAloneAndIsIgnored)
{
    std::string sent;
    for (const std::string &user : {std::string(), std::string(65, 'u')}) {
        SCOPED_TRACE("USER of " + std::to_string(user.size()) + " bytes");
        MailslotSink alice("alice"), carol("carol");
        Station nameless(Launch{"", {{"USER", user}}});
        ASSERT_TRUE(WaitUntilReceiving(nameless));
        SendFromWindow(nameless, "carol", "from nobody");
        ASSERT_TRUE(carol.WaitForBlocks(1));
        EXPECT_EQ(carol.Blocks()[0], MessageBlock("", "carol", SignedText("from nobody", "")));
        sent = carol.Blocks()[0];

        ASSERT_TRUE(WriteToStation(MessageBlock("alice", "nameless", "are you there")));
        ASSERT_TRUE(alice.WaitForBlocks(1));
        EXPECT_EQ(alice.Blocks()[0], Padded("@" + ComputerName() + "\0carol\0\x03\x04\x03"s));
    }
    ASSERT_EQ(sent.size(), DatagramSize);

    Station receiver;
    ASSERT_TRUE(WaitUntilReceiving(receiver));
    const std::string before = receiver.HistoryText();
    // Without a sender nothing is shown, logged or answered; the next
    // message is taken at once, not one poll period per block.
    for (int i = 0; i < 30; ++i)
        ASSERT_TRUE(WriteToStation(sent));
    ASSERT_TRUE(WriteToStation(MessageBlock("alice", "bob", "after thirty nameless blocks")));
    EXPECT_TRUE(WaitUntil([&] { return !PopupsOf(receiver.Pid()).empty(); }, 6000))
        << "the message after the nameless blocks waited";
    const auto popups = PopupsOf(receiver.Pid());
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_NE(popups[0].Text.find("after thirty nameless blocks"), std::string::npos);
    const auto entries = Entries(receiver);
    ASSERT_EQ(entries.size(), 1u) << "help text before: " << before.size() << " bytes";
    EXPECT_NE(entries[0].find("From:alice"), std::string::npos);
}

// A second start while the first copy is held in a modal loop: the loop
// passes the request on, the first window comes back, the second copy ends,
// and the first goes on as before once its loop ends.
TEST(FaultsSecondStart, DuringAModalLoopBringsTheFirstBackAndEnds)
{
    struct Case {
        const char *Name;
        std::function<bool(const Station &)> Enter, Leave;
    };
    const std::vector<Case> cases = {
        {"the exit question, window hidden",
         [](const Station &s) {
             s.Post(WM_SYSCOMMAND, IdmHide);
             if (!WaitUntil([&] { return !IsWindowVisible(s.Window()); }))
                 return false;
             s.Post(WM_SYSCOMMAND, IdmClose);
             return ExitQuestion(s.Pid()) != nullptr;
         },
         [](const Station &s) {
             const HWND box = ExitQuestion(s.Pid());
             PostMessageA(box, WM_COMMAND, IDNO, 0);
             return WaitUntil([&] { return !IsWindow(box); });
         }},
        {"the system menu, window minimised",
         [](const Station &s) {
             ShowWindow(s.Window(), SW_MINIMIZE);
             if (!WaitUntil([&] { return IsIconic(s.Window()) != 0; }))
                 return false;
             s.WaitUntilHandled();
             s.Post(WM_SYSCOMMAND, SC_KEYMENU, ' ');
             return WaitUntil([&] { return MenuOpen(s); });
         },
         [](const Station &s) {
             s.Post(WM_KEYDOWN, VK_ESCAPE, 1);
             s.Post(WM_KEYDOWN, VK_ESCAPE, 1);
             return WaitUntil([&] { return !MenuOpen(s); });
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Name);
        Station first;
        ASSERT_TRUE(WaitUntilReceiving(first));
        ASSERT_TRUE(c.Enter(first)) << "the modal loop did not start";

        EXPECT_NE(RunToEnd(Launch{}, 20000), STILL_ACTIVE) << "the second copy ends by itself";
        EXPECT_TRUE(WaitUntil([&] {
            return IsWindowVisible(first.Window()) && !IsIconic(first.Window());
        })) << "the first window is back";
        EXPECT_TRUE(WaitUntil([] { return StationProcessCount() == 1; }));

        EXPECT_TRUE(c.Leave(first));
        EXPECT_TRUE(first.Running());
        EXPECT_TRUE(Receives(first, std::string("after ") + c.Name));
        first.Post(WM_SYSCOMMAND, IdmHide);
        EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(first.Window()); }))
            << "the main loop runs again";
    }
}

// Every end leaves no tindrel.exe behind and the mailslot free, also with
// pop-up boxes open on their own threads at the time.
struct EndCase {
    const char *Name;
    int OpenBoxes;
    void (*End)(Station &);
};

void PrintTo(const EndCase &c, std::ostream *out)
{
    *out << c.Name;
}

class FaultsEnd : public ::testing::TestWithParam<EndCase> {};

TEST_P(FaultsEnd, LeavesNoProcessAndTheMailslotFree)
{
    const EndCase &c = GetParam();
    {
        Station station;
        ASSERT_TRUE(WaitUntilReceiving(station));
        for (int i = 0; i < c.OpenBoxes; ++i)
            ASSERT_TRUE(WriteToStation(MessageBlock("alice", "bob", "open " + std::to_string(i))));
        ASSERT_TRUE(WaitUntil(
            [&] { return PopupsOf(station.Pid()).size() == std::size_t(c.OpenBoxes); }, 30000));
        c.End(station);
        EXPECT_TRUE(station.WaitForExit(10000));
        EXPECT_EQ(station.ExitCode(), 0u) << "ended by itself, not by a fault";
    }
    EXPECT_TRUE(WaitUntil([] { return StationProcessCount() == 0; }));
    EXPECT_TRUE(WaitUntil(MailslotFree));
    Station next;
    ASSERT_TRUE(WaitUntilReceiving(next)) << "the next station got its mailslot";
    EXPECT_TRUE(Receives(next, "to the next station"));
}

void CloseMessage(Station &s)
{
    s.Post(WM_CLOSE, 0);
}

// From outside: the system itself never posts one.
void QuitMessage(Station &s)
{
    s.Post(WM_QUIT, 0);
}

void CloseAndYes(Station &s)
{
    s.Post(WM_SYSCOMMAND, IdmClose);
    PostMessageA(ExitQuestion(s.Pid()), WM_COMMAND, IDYES, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Ends, FaultsEnd,
    ::testing::Values(EndCase{"CloseMessage", 0, CloseMessage},
                      EndCase{"CloseMessageWithBoxesOpen", 3, CloseMessage},
                      EndCase{"CloseMenuYes", 0, CloseAndYes},
                      EndCase{"CloseMenuYesWithBoxesOpen", 3, CloseAndYes},
                      EndCase{"QuitMessageWithTwentyBoxesOpen", 20, QuitMessage}),
    [](const ::testing::TestParamInfo<EndCase> &info) { return std::string(info.param.Name); });

// /S and a second start end by themselves: nothing of them remains, and
// neither takes the mailslot from a running copy nor keeps it from the next.
TEST(FaultsEndBySelf, SendSwitchAndSecondStartLeaveNothing)
{
    MailslotSink bob("bob");
    EXPECT_EQ(RunToEnd(Launch{"/S bob once", {}}), 0u);
    EXPECT_TRUE(bob.WaitForBlocks(1));
    EXPECT_TRUE(WaitUntil([] { return StationProcessCount() == 0; }));
    EXPECT_TRUE(MailslotFree());

    Station first;
    ASSERT_TRUE(WaitUntilReceiving(first));
    for (const char *arguments : {"", "/S bob while running"}) {
        SCOPED_TRACE(arguments);
        EXPECT_NE(RunToEnd(Launch{arguments, {}}), STILL_ACTIVE);
        EXPECT_TRUE(WaitUntil([] { return StationProcessCount() == 1; }));
        EXPECT_FALSE(MailslotFree()) << "the first copy keeps its mailslot";
        EXPECT_TRUE(Receives(first, std::string("still mine after '") + arguments + "'"));
    }
    EXPECT_TRUE(bob.WaitForBlocks(2));
}
