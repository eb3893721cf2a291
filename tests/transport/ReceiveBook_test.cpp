// Unit tests of the receiver's memory as a state machine: each scenario feeds
// received blocks in order and says what each one is taken for (repeat,
// receipt to log or not, ordinary message).
#include "transport/ReceiveBook.h"

#include "tests/transport/RecordSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// What the receiver holds after reading the block another station sent.
MessageRecord Received(const MessageRecord &sent) { return ReceivedRecord(Bytes(ToBlock(sent))); }

MessageRecord Message(const std::string &from, const std::string &text, const std::string &to = "me")
{
    return Received(OrdinaryRecord(IdentityOf(from, "PC"), to, text));
}

MessageRecord ReceiptFrom(const std::string &user, const std::string &lastRecipient = "me")
{
    return Received(ReceiptRecord(IdentityOf(user, "PC"), lastRecipient));
}

struct Step {
    MessageRecord Record;
    DatagramKind Kind;
    std::string Sender; // ignored for repeats
    bool LogReceipt;
};

struct Scenario {
    const char *Name;
    std::vector<Step> Steps;
};

const DatagramKind Repeat = DatagramKind::Repeat, Receipt = DatagramKind::Receipt, Msg = DatagramKind::Message;

void PrintTo(const Scenario &c, std::ostream *os) { *os << c.Name; }

class TransportReceiveBook : public ::testing::TestWithParam<Scenario> {};

TEST_P(TransportReceiveBook, Scenario)
{
    ReceiveBook book;
    int n = 0;
    for (const Step &step : GetParam().Steps) {
        SCOPED_TRACE("step " + std::to_string(++n));
        const DatagramVerdict v = Accept(book, step.Record);
        EXPECT_EQ(v.Kind, step.Kind);
        EXPECT_EQ(v.LogReceipt, step.LogReceipt);
        if (step.Kind != Repeat) {
            EXPECT_EQ(v.Sender, step.Sender);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, TransportReceiveBook,
    ::testing::Values(
        Scenario{"SameMessageTwice",
                 {{Message("alice", "hi"), Msg, "alice", false}, {Message("alice", "hi"), Repeat, "", false}}},
        Scenario{"SameMessageAfterAnother",
                 {{Message("alice", "hi"), Msg, "alice", false},
                  {Message("carol", "yo"), Msg, "carol", false},
                  {Message("alice", "hi"), Msg, "alice", false},
                  {Message("alice", "hi"), Repeat, "", false}}},
        // The same sender with another text, or another recipient, is no repeat.
        Scenario{"SameSenderOtherText",
                 {{Message("alice", "hi"), Msg, "alice", false},
                  {Message("alice", "hi!"), Msg, "alice", false},
                  {Message("alice", "hi!", "you"), Msg, "alice", false}}},
        // The repeat test compares the whole record, not only its three fields.
        Scenario{"SameFieldsOtherFill",
                 {{Received("bob\x02me\x02hi\x02\x02\x02\x02"), Msg, "bob", false},
                  {Received("bob\x02me\x02hi\x02\x02\x02\x02zz"), Msg, "bob", false}}},
        // The second does not even reach the title: it is dropped whole.
        Scenario{"TwoIdenticalReceipts",
                 {{ReceiptFrom("alice"), Receipt, "alice@PC", true}, {ReceiptFrom("alice"), Repeat, "", false}}},
        Scenario{"ReceiptMessageReceiptFromOneSender",
                 {{ReceiptFrom("alice"), Receipt, "alice@PC", true},
                  {Message("carol", "hi"), Msg, "carol", false},
                  {ReceiptFrom("alice"), Receipt, "alice@PC", false}}},
        // A receipt naming another recipient passes the repeat test but is
        // not logged again for the same sender.
        Scenario{"SameSenderOtherReceiptBytes",
                 {{ReceiptFrom("alice", "x"), Receipt, "alice@PC", true},
                  {ReceiptFrom("alice", "y"), Receipt, "alice@PC", false}}},
        Scenario{"ReceiptsFromABA",
                 {{ReceiptFrom("alice"), Receipt, "alice@PC", true},
                  {ReceiptFrom("bob"), Receipt, "bob@PC", true},
                  {ReceiptFrom("alice"), Receipt, "alice@PC", true},
                  {ReceiptFrom("alice"), Repeat, "", false}}},
        // Messages in between do not reset the receipt filter.
        Scenario{"ReceiptFilterSurvivesMessages",
                 {{ReceiptFrom("alice"), Receipt, "alice@PC", true},
                  {Message("bob", "1"), Msg, "bob", false},
                  {Message("carol", "2"), Msg, "carol", false},
                  {ReceiptFrom("alice", "other"), Receipt, "alice@PC", false},
                  {ReceiptFrom("bob"), Receipt, "bob@PC", true}}},
        Scenario{"MessageHoldingTheMarkerIsAReceipt",
                 {{Message("mallory", "look \x03\x04\x03 here"), Receipt, "mallory", true},
                  {Message("mallory", "look \x03\x04\x03 again"), Receipt, "mallory", false},
                  {Message("mallory", "plain"), Msg, "mallory", false}}},
        // A sender field the first-field test let through can still be empty
        // as a field (a leading 0x02 on the wire).
        Scenario{"EmptySenderField",
                 {{Received("\x02=\x02hi"), Msg, "", false}, {Received("\x02=\x02hi"), Repeat, "", false}}}),
    [](const auto &info) { return std::string(info.param.Name); });

TEST(TransportReceiveBookState, StartsEmptyAndRemembersWhatItAccepted)
{
    ReceiveBook book;
    EXPECT_TRUE(book.LastRawMessage.empty());
    EXPECT_TRUE(book.LastReceiptSender.empty());

    const MessageRecord receipt = ReceiptFrom("alice");
    Accept(book, receipt);
    EXPECT_EQ(book.LastRawMessage, receipt);
    EXPECT_EQ(book.LastReceiptSender, "alice@PC");

    const MessageRecord message = Message("bob", "hi");
    Accept(book, message);
    EXPECT_EQ(book.LastRawMessage, message);
    EXPECT_EQ(book.LastReceiptSender, "alice@PC");
}

} // namespace
