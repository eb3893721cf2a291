// Sending from the real window: the block a station writes to the
// recipient's mailslot, the history line it logs, and the state it leaves
// the title, the Send button and the fields in. Driven from outside
// through the Send button.
#include "tests/wine/Received.h"

#include <gtest/gtest.h>

using namespace wine;

TEST(SendStation, WritesTheBlockLogsTheLineAndLeavesTheFields)
{
    // Owning the local mailslot here leaves the station without one, so no
    // poll timer resets the title behind the test's back.
    const FileHandle owned = TakeLocalMailslot();
    ASSERT_TRUE(owned);
    MailslotSink bob("bob");
    Station station;
    ASSERT_TRUE(station.Window());
    const std::string user = UserName(), pc = ComputerName();
    SendFromWindow(station, "bob", "hello\r\nworld");

    ASSERT_TRUE(bob.WaitForBlocks(1));
    const std::string block = Padded(user + '\0' + "bob" + '\0' + "hello\r\nworld\r\n\t" + user +
                                     "@" + pc);
    EXPECT_EQ(bob.Blocks()[0], block);

    // Every separator and control byte of the record shows as 0x02.
    const std::string body = user + "\x02" "bob\x02" "hello\x02\x02world\x02\x02\x02" + user +
                             "@" + pc + "\x02\x02\x02\x02";
    EXPECT_EQ(NewestSentBody(station), body);
    std::string stamp, rest;
    ASSERT_TRUE(SplitStamp(station.HistoryText(), '>', stamp, rest));
    EXPECT_EQ(rest, body + "\r\n") << "the first entry replaces the help text";

    EXPECT_EQ(station.Title(), "Zorvanta tindrel - sending...");
    EXPECT_TRUE(IsWindowEnabled(station.SendButton()));
    EXPECT_EQ(TextOf(station.SendButton()), "&Send");
    EXPECT_EQ(TextOf(station.Recipient()), "bob");
    EXPECT_EQ(TextOf(station.Message()), "hello\r\nworld");

    // The fields were kept, so the same message goes again, newest first.
    ClickSend(station);
    ASSERT_TRUE(bob.WaitForBlocks(2));
    EXPECT_EQ(bob.Blocks()[1], block);
    const std::string history = station.HistoryText();
    ASSERT_TRUE(SplitStamp(history.substr(history.find("\r\n") + 2), '>', stamp, rest));
    EXPECT_EQ(rest, body + "\r\n");
    EXPECT_EQ(NewestSentBody(station), body);
}

TEST(SendStation, TitleGoesBackAtTheNextPoll)
{
    MailslotSink bob("bob");
    Station station;
    SendFromWindow(station, "bob", "x");
    ASSERT_TRUE(bob.WaitForBlocks(1));
    // The poll timer runs every second.
    EXPECT_TRUE(WaitUntil([&] { return station.Title() == "Zorvanta tindrel..."; }));
}

namespace {
std::string Digits(std::size_t n)
{
    std::string s;
    while (s.size() < n)
        s += static_cast<char>('0' + s.size() % 10);
    return s;
}
} // namespace

TEST(SendStation, CutsTheFieldsToTheirLimits)
{
    struct Case {
        const char *Name;
        std::string Recipient, Text;
        std::string SentTo, SentText; // as cut by the station
    };
    const std::vector<Case> cases = {
        {"500-byte message", "bob", Digits(500), "bob", Digits(419)},
        {"419-byte message", "bob", Digits(419), "bob", Digits(419)},
        {"40-byte recipient", "r" + Digits(39), "hi", "r" + Digits(28), "hi"},
        {"29-byte recipient", "r" + Digits(28), "hi", "r" + Digits(28), "hi"},
    };
    Station station;
    ASSERT_TRUE(station.Window());
    const std::string user = UserName(), pc = ComputerName();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Name);
        MailslotSink sink(c.SentTo);
        SendFromWindow(station, c.Recipient, c.Text);
        if (!sink.WaitForBlocks(1)) {
            ADD_FAILURE() << "nothing at " << c.SentTo;
            continue;
        }
        EXPECT_EQ(sink.Blocks()[0], MessageBlock(user, c.SentTo, SignedText(c.SentText)));
        // The line shows the whole record, also where the block lost its end.
        EXPECT_EQ(NewestSentBody(station), user + "\x02" + c.SentTo + "\x02" + c.SentText +
                                               "\x02\x02\x02" + user + "@" + pc +
                                               "\x02\x02\x02\x02");
    }
}

// A name with no station, a folder where the mailslot would be, a name with
// no mailslot, names Wine rejects: every send is logged, leaves the title
// and the fields as any send does, and shows nothing; the station goes on
// receiving.
TEST(SendStation, UnreachableDestinationsAreLoggedAndReportNothing)
{
    ASSERT_TRUE(RunUnix("/bin/mkdir -p " + UncRoot() + "/isdir/mailslot/messngr " + UncRoot() +
                        "/noslot/mailslot"));
    const std::vector<std::pair<const char *, std::string>> recipients = {
        {"no such name", "nobody-here"},
        {"a folder in the mailslot's place", "isdir"},
        {"no mailslot", "noslot"},
        {"empty: three backslashes, then mailslot", ""},
        {"star, a name Wine rejects", "*"},
        {"a name with a path in it", "a\\b"},
    };
    Station station;
    ASSERT_TRUE(WaitUntilReceiving(station));
    const std::string user = UserName(), pc = ComputerName();
    for (const auto &[name, recipient] : recipients) {
        SCOPED_TRACE(name);
        SendFromWindow(station, recipient, "anyone?");
        EXPECT_EQ(station.Title(), "Zorvanta tindrel - sending...");
        EXPECT_EQ(NewestSentBody(station), user + "\x02" + recipient + "\x02" "anyone?\x02\x02\x02" +
                                               user + "@" + pc + "\x02\x02\x02\x02");
        EXPECT_TRUE(IsWindowEnabled(station.SendButton()));
        EXPECT_EQ(TextOf(station.Recipient()), recipient);
        EXPECT_EQ(TextOf(station.Message()), "anyone?");
    }
    station.Settle();
    EXPECT_TRUE(BoxesOf(station.Pid()).empty());
    EXPECT_TRUE(Receives(station, "still receiving"));
}

// Wine takes the user name from the Unix USER of each process.
TEST(SendStation, SignsWithTheUserNameOrNothing)
{
    const std::vector<std::pair<std::string, std::string>> users = {
        {"bob", "bob"},
        {std::string(64, 'u'), std::string(64, 'u')},
        // Too long for the 65-byte buffer: both sources fail.
        {std::string(65, 'u'), ""},
        {"", ""},
    };
    for (const auto &[unixUser, sentUser] : users) {
        SCOPED_TRACE("USER=" + unixUser);
        MailslotSink carol("carol");
        Station station(Launch{"", {{"USER", unixUser}}});
        if (!station.Window()) {
            ADD_FAILURE() << "no station";
            continue;
        }
        SendFromWindow(station, "carol", "hi");
        if (!carol.WaitForBlocks(1)) {
            ADD_FAILURE() << "nothing sent";
            continue;
        }
        EXPECT_EQ(carol.Blocks()[0], MessageBlock(sentUser, "carol", SignedText("hi", sentUser)));
        EXPECT_EQ(NewestSentBody(station), sentUser + "\x02" "carol\x02" "hi\x02\x02\x02" +
                                               sentUser + "@" + ComputerName() +
                                               "\x02\x02\x02\x02");
    }
}

TEST(SendStation, EveryByteOfTheFieldIsSentAndLoggedOnOneLine)
{
    MailslotSink bob("bob");
    Station station;
    const std::string user = UserName();
    std::string bytes, shown;
    // 0x02 among them becomes NUL on the wire and ends the text there.
    for (int b = 1; b <= 255; ++b) {
        bytes += static_cast<char>(b);
        shown += static_cast<char>(b < 0x20 ? 0x02 : b);
    }
    SetTextOf(station.Message(), bytes);
    ASSERT_EQ(TextOf(station.Message()), bytes) << "the field keeps every byte it is given";
    SendFromWindow(station, "bob", bytes);

    ASSERT_TRUE(bob.WaitForBlocks(1));
    EXPECT_EQ(bob.Blocks()[0], MessageBlock(user, "bob", SignedText(bytes)));
    EXPECT_EQ(NewestSentBody(station), user + "\x02" "bob\x02" + shown + "\x02\x02\x02" + user +
                                           "@" + ComputerName() + "\x02\x02\x02\x02");
    EXPECT_TRUE(station.Running());
}
