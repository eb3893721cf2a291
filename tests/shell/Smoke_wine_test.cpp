// The station starts, receives one message and answers it: the shortest
// road through the whole program.
#include "tests/wine/Station.h"
#include "UTypes.h"

#include <gtest/gtest.h>

using namespace wine;

TEST(Smoke, ReceivesShowsLogsAndAnswers)
{
    MailslotSink alice("alice");
    Station station;
    ASSERT_TRUE(station.Window());
    EXPECT_EQ(station.Controls().size(), 5u);

    ASSERT_TRUE(WriteToStation(MessageBlock("alice", "bob", "hello")));
    // Box, line and receipt come from one poll; under load they can be a
    // few seconds away.
    ASSERT_TRUE(WaitUntil([&] { return !BoxesOf(station.Pid()).empty(); }, 10000));
    const auto boxes = BoxesOf(station.Pid());
    EXPECT_EQ(boxes[0].Text, "From:\talice\r\nTo:\tbob\r\n\r\nhello");
    EXPECT_EQ(boxes[0].Caption.rfind("Message - ", 0), 0u);
    EXPECT_TRUE(WaitUntil([&] {
        return station.HistoryText().find("From:alice, To:bob <<hello>>\r\n") != std::string::npos;
    })) << station.HistoryText();
    ASSERT_TRUE(alice.WaitForBlocks(1, 10000));
    std::string receipt = UserName() + "@" + ComputerName() + '\0' + '\0' + "\x03\x04\x03";
    receipt.resize(DatagramSize, '\0');
    EXPECT_EQ(alice.Blocks()[0], receipt);
}
