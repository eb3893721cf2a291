// Unit tests of the texts made from records: the history lines of a sent
// message, a received message and a receipt, and the pop-up text.
#include "presentation/HistoryText.h"

#include "tests/transport/RecordSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string Sep(1, '\x02');
const std::string Nul(1, '\0');
const std::string SentStamp = "> 15:04:05 Monday 07. December ";
const std::string ReceivedStamp = "< 15:04:05 Monday 07. December ";

TEST(PresentationHistoryText, SentEntryShowsTheRecordWithSeparatorsAndControlBytesAs02)
{
    const LocalIdentity id = IdentityOf("alice", "PC1");
    struct Case {
        std::string Recipient, Text, Shown;
    };
    const std::vector<Case> cases = {
        // stamp, user, 0x02, recipient, 0x02, text, three 0x02 for CR LF TAB,
        // user@computer, four 0x02.
        {"bob", "hello", "alice" + Sep + "bob" + Sep + "hello" + Sep + Sep + Sep + "alice@PC1" + Sep + Sep + Sep + Sep},
        {"bob", "l1\r\nl2\tx", "alice" + Sep + "bob" + Sep + "l1" + Sep + Sep + "l2" + Sep + "x" + Sep + Sep + Sep +
                                   "alice@PC1" + Sep + Sep + Sep + Sep},
        {"", "", "alice" + Sep + Sep + Sep + Sep + Sep + "alice@PC1" + Sep + Sep + Sep + Sep},
        // Every byte below 0x20, and only those; 0x20, DEL and high bytes stay.
        {"b\x01", "\x1b\x1f \x7f\x80\xff",
         "alice" + Sep + "b" + Sep + Sep + Sep + Sep + " \x7f\x80\xff" + Sep + Sep + Sep + "alice@PC1" + Sep + Sep + Sep + Sep},
    };
    for (const Case &c : cases)
        EXPECT_EQ(SentEntry(SentStamp, OrdinaryRecord(id, c.Recipient, c.Text)), SentStamp + c.Shown);

    // A NUL inside the record (never typed, but possible in a record) shows as 0x02 too.
    EXPECT_EQ(SentEntry(">", "a" + Nul + "b"), ">a" + Sep + "b");
}

TEST(PresentationHistoryText, SentEntryIsNotCutToTheBlock)
{
    const LocalIdentity id = IdentityOf(std::string(64, 'u'), std::string(64, 'c'));
    const std::string entry = SentEntry(SentStamp, OrdinaryRecord(id, std::string(29, 'r'), std::string(419, 't')));
    EXPECT_EQ(entry.size(), SentStamp.size() + 650);
    EXPECT_EQ(entry.substr(entry.size() - 4), Sep + Sep + Sep + Sep);
}

struct ReceivedCase {
    const char *Name;
    std::string Datagram;
    std::string Line; // after the stamp
};

void PrintTo(const ReceivedCase &c, std::ostream *os) { *os << c.Name; }

class PresentationHistoryTextReceived : public ::testing::TestWithParam<ReceivedCase> {};

TEST_P(PresentationHistoryTextReceived, IsOneLine)
{
    const ReceivedCase &c = GetParam();
    const std::string entry = ReceivedEntry(ReceivedStamp, ReceivedRecord(c.Datagram));
    EXPECT_EQ(entry, ReceivedStamp + c.Line);
    EXPECT_EQ(entry.find_first_of("\r\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PresentationHistoryTextReceived,
    ::testing::Values(
        ReceivedCase{"Ordinary", "bob" + Nul + "alice" + Nul + "hi" + Nul + Nul + Nul + Nul,
                     "From:bob, To:alice <<hi>>"},
        // The signature's CR LF TAB, like every byte 0x03..0x1F, becomes 0x03.
        ReceivedCase{"LineBreaksAndTab", "bob" + Nul + "alice" + Nul + "l1\r\nl2\tx\r\n\tbob@PC" + Nul,
                     "From:bob, To:alice <<l1\x03\x03l2\x03x\x03\x03\x03" "bob@PC>>"},
        ReceivedCase{"ControlBytesInEveryField", "b\x1b" + Nul + "a\x1f" + Nul + "\x04\x05\x10" + Nul,
                     "From:b\x03, To:a\x03 <<\x03\x03\x03>>"},
        // 0x01 stays; 0x20, DEL and high bytes stay.
        ReceivedCase{"BytesThatStay", "b\x01" + Nul + "a" + Nul + "\x01 \x7f\x80\xff" + Nul,
                     "From:b\x01, To:a <<\x01 \x7f\x80\xff>>"},
        ReceivedCase{"EmptyRecipient", "bob" + Nul + Nul + "hi" + Nul, "From:bob, To: <<hi>>"},
        ReceivedCase{"EmptyText", "bob" + Nul + "alice" + Nul + Nul, "From:bob, To:alice <<>>"},
        ReceivedCase{"NoTail", "bob" + Nul + "alice" + Nul + "hi", "From:bob, To:alice <<hi>>"},
        ReceivedCase{"FieldsRunOut", std::string(420, 'x'), "From:" + std::string(420, 'x') + ", To: <<>>"},
        ReceivedCase{"TextRunsToOffset420", "b" + Nul + "a" + Nul + std::string(416, 't'),
                     "From:b, To:a <<" + std::string(416, 't') + ">>"}),
    [](const auto &info) { return std::string(info.param.Name); });

TEST(PresentationHistoryText, PopupTextBytes)
{
    struct Case {
        std::string Sender, Recipient, Text, Expected;
    };
    const std::vector<Case> cases = {
        {"bob", "alice", "hi", "From:\tbob\r\nTo:\talice\r\n\r\nhi"},
        // The pop-up keeps the text's own lines and the signature line.
        {"bob", "alice", "l1\r\nl2\r\n\tbob@PC", "From:\tbob\r\nTo:\talice\r\n\r\nl1\r\nl2\r\n\tbob@PC"},
        {"bob", "", "hi", "From:\tbob\r\nTo:\t\r\n\r\nhi"},
        {"", "", "", "From:\t\r\nTo:\t\r\n\r\n"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(PopupText(c.Sender, c.Recipient, c.Text), c.Expected);
}

TEST(PresentationHistoryText, ReceiptEntryBytes)
{
    EXPECT_EQ(ReceiptEntry("3:04:05 pm", "bob@PC2"), "~ 3:04:05 pm Delivered to: bob@PC2");
    EXPECT_EQ(ReceiptEntry("", ""), "~  Delivered to: ");
    // A forged sender cannot add lines of its own to the history.
    EXPECT_EQ(ReceiptEntry("9:00:00 am", "x\r\n< 09:00:00 Monday 07. December From:boss\t\x01"),
              "~ 9:00:00 am Delivered to: x\x03\x03< 09:00:00 Monday 07. December From:boss\x03\x01");
}

} // namespace
