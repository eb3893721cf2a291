// The promises of the Wine test harness that other tests build on: Unix
// commands run to their end, a station has handled what was posted to it
// when WaitUntilHandled returns and has polled when Poll returns, a sink
// holds every block written before it is asked, a station started with its
// own USER signs with it, also when it runs to its end, and stations run
// the file under test, 32-bit or 64-bit.
#include "tests/wine/Station.h"

#include <gtest/gtest.h>

using namespace wine;

TEST(ShellHarness, UnixCommandsRunToTheirEndAndGiveTheirStatus)
{
    char dir[MAX_PATH] = {};
    GetTempPathA(sizeof dir, dir);
    const std::string file = std::string(dir) + "harness marker";
    const std::string unixFile = UnixPathOf(file);
    ASSERT_FALSE(unixFile.empty());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunUnixStatus("sleep 0.3; touch " + ShellQuoted(unixFile) + "; exit 3"), 3);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    EXPECT_NE(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES) << "done when it returns";
    EXPECT_TRUE(RunUnix("rm " + ShellQuoted(unixFile)));
    EXPECT_EQ(GetFileAttributesA(file.c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(UnixPathOf("Z:\\tmp\\x y"), "/tmp/x y");
}

TEST(ShellHarness, WaitUntilHandledCoversEverythingPostedBefore)
{
    Station station;
    ASSERT_TRUE(station.Window());
    SetTextOf(station.Message(), "");
    // Slow to handle: every character repaints the field.
    station.Type(station.Message(), std::string(150, 'x'));
    ASSERT_TRUE(station.WaitUntilHandled());
    EXPECT_EQ(TextOf(station.Message()), std::string(150, 'x'));
    EXPECT_EQ(SendMessageA(station.HideButton(), BM_GETSTATE, 0, 0) & BST_PUSHED, 0)
        << "the marker is taken back";
}

// No pause anywhere: each answer must already hold what came before it.
TEST(ShellHarness, PollReadsAtOnceAndSinksHoldEveryBlockWrittenBefore)
{
    Station station;
    ASSERT_TRUE(station.Window());
    ASSERT_TRUE(WriteToStation(MessageBlock("alice", UserName(), "now")));
    ASSERT_TRUE(station.Poll());
    EXPECT_EQ(FirstLine(station.HistoryText()).substr(0, 1), "<") << station.HistoryText();

    MailslotSink bob("bob");
    EXPECT_TRUE(bob.BlocksUpToNow().empty());
    const std::vector<std::string> written = {MessageBlock("a", "bob", "1"),
                                              MessageBlock("b", "bob", "2"),
                                              MessageBlock("c", "bob", "3")};
    for (const std::string &block : written)
        ASSERT_TRUE(WriteBlock(MailslotOf("bob"), block));
    EXPECT_EQ(bob.BlocksUpToNow(), written);
    EXPECT_EQ(bob.Blocks(), written) << "the sink's own mark is not kept";
}

TEST(ShellHarness, StationsStartedWithTheirOwnUser)
{
    MailslotSink bob("bob");
    {
        Station station(Launch{"/M", {{"USER", "dave"}}});
        ASSERT_TRUE(station.Window());
        EXPECT_NE(station.Pid(), 0u);
        EXPECT_TRUE(station.Running());
        // The window exists before /M minimises it.
        EXPECT_TRUE(WaitUntil([&] { return IsIconic(station.Window()) != FALSE; }, 5000))
            << "the arguments arrive";
        SetTextOf(station.Recipient(), "bob");
        SetTextOf(station.Message(), "one");
        station.PostTo(station.SendButton(), BM_CLICK, 0);
        ASSERT_TRUE(bob.WaitForBlocks(1));
        EXPECT_EQ(bob.Blocks()[0], MessageBlock("dave", "bob", SignedText("one", "dave")));
        station.Post(WM_CLOSE, 0);
        EXPECT_TRUE(station.WaitForExit(5000));
    }
    EXPECT_NE(RunToEnd(Launch{"/S bob \"two words\"", {{"USER", "erin"}}}), STILL_ACTIVE);
    ASSERT_TRUE(bob.WaitForBlocks(2));
    EXPECT_EQ(bob.Blocks()[1], MessageBlock("erin", "bob", SignedText("two words", "erin")));
}

TEST(ShellHarness, StationsRunAsTheMachineOfTheFileUnderTest)
{
    const std::optional<bool> is64Bit = StationIs64Bit();
    ASSERT_TRUE(is64Bit) << StationExeUnixPath();

    Station station;
    ASSERT_TRUE(station.Window());
    const ProcessHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, station.Pid()));
    ASSERT_TRUE(process);
    BOOL wow = FALSE;
    EXPECT_TRUE(IsWow64Process(process.get(), &wow));
    EXPECT_EQ(wow != FALSE, !*is64Bit) << StationExeUnixPath();
}
