// Unit tests of the wire block and the record text form: cutting and padding
// blocks, splitting received blocks into fields, the receipt sign, mailslot
// paths, the two records the station writes, and which senders may be
// answered with a receipt.
#include "tests/transport/RecordSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

const std::string Nul(1, '\0');
const std::string Sep(1, '\x02');

// Each input against what the predicate must say of it.
template <typename Predicate>
void ExpectEach(Predicate predicate, const std::vector<std::pair<std::string, bool>> &cases)
{
    for (const auto &[input, expected] : cases)
        EXPECT_EQ(predicate(input), expected) << testing::PrintToString(input);
}

struct Fields {
    std::string Sender, Recipient, Text;
};

// How the receiver reads a record: take, drop, take, drop, take.
Fields Split(MessageRecord record)
{
    Fields f;
    f.Sender = TakeField(record);
    DropField(record);
    f.Recipient = TakeField(record);
    DropField(record);
    f.Text = TakeField(record);
    return f;
}

// ---- ToBlock ----

struct BlockCase {
    const char *Name;
    std::string Record;
    std::string Prefix; // the block's expected bytes; NUL after them
};

void PrintTo(const BlockCase &c, std::ostream *os) { *os << c.Name; }

class TransportRecordToBlock : public ::testing::TestWithParam<BlockCase> {};

TEST_P(TransportRecordToBlock, IsTheRecordCutOrPaddedTo420WithSeparatorsAsNul)
{
    const BlockCase &c = GetParam();
    ASSERT_LE(c.Prefix.size(), DatagramSize);
    const std::string expected = c.Prefix + std::string(DatagramSize - c.Prefix.size(), '\0');
    EXPECT_EQ(Bytes(ToBlock(c.Record)), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TransportRecordToBlock,
    ::testing::Values(
        BlockCase{"Empty", "", ""},
        BlockCase{"ShortWithTail", "bob" + Sep + "al" + Sep + "hi" + Sep + Sep + Sep + Sep,
                  "bob" + Nul + "al" + Nul + "hi" + Nul + Nul + Nul + Nul},
        // Only 0x02 becomes NUL; other control bytes travel as they are.
        BlockCase{"OtherControlBytesKept", "a\x01\x03\x04\r\n\t\x7f\xff" + Sep,
                  "a\x01\x03\x04\r\n\t\x7f\xff" + Nul},
        BlockCase{"Exactly420", std::string(419, 'x') + Sep, std::string(419, 'x') + Nul},
        BlockCase{"421IsCut", std::string(420, 'x') + Sep, std::string(420, 'x')},
        BlockCase{"SeparatorAtOffset420IsLost", std::string(419, 'x') + "y" + Sep + "z",
                  std::string(419, 'x') + "y"}),
    [](const auto &info) { return std::string(info.param.Name); });

TEST(TransportRecord, RecordWithEveryFieldAtItsLimitIsCutInsideTheText)
{
    const std::string user(64, 'u'), computer(64, 'c'), recipient(29, 'r'), text(419, 't');
    const MessageRecord record = OrdinaryRecord(IdentityOf(user, computer), recipient, text);
    ASSERT_EQ(record.size(), 650u);

    // The signature and the tail are lost, and 325 bytes of the text remain.
    const std::string expected = user + Nul + recipient + Nul + std::string(325, 't');
    const DatagramBlock block = ToBlock(record);
    EXPECT_EQ(Bytes(block), expected);

    // The receiver's text field then ends at offset 420, which is always NUL.
    const auto [first, received] = FromBlock(AreaOf(Bytes(block)));
    EXPECT_EQ(first, user);
    const Fields f = Split(received);
    EXPECT_EQ(f.Sender, user);
    EXPECT_EQ(f.Recipient, recipient);
    EXPECT_EQ(f.Text, std::string(325, 't'));
}

// ---- FromBlock and the field walk ----

struct ReadCase {
    const char *Name;
    std::string Datagram; // the bytes another station wrote
    std::string First;
    Fields Expected;
};

void PrintTo(const ReadCase &c, std::ostream *os) { *os << c.Name; }

class TransportRecordFromBlock : public ::testing::TestWithParam<ReadCase> {};

TEST_P(TransportRecordFromBlock, SplitsTheReceiveArea)
{
    const ReadCase &c = GetParam();
    const auto [first, record] = FromBlock(AreaOf(c.Datagram));
    EXPECT_EQ(first, c.First);
    // Always the 421 bytes of offsets 0..420; offset 420 is NUL in the area.
    ASSERT_EQ(record.size(), ReceivedRecordSize);
    EXPECT_EQ(record[420], FieldSeparator);
    EXPECT_EQ(std::count(record.begin(), record.end(), '\0'), 0);
    const Fields f = Split(record);
    EXPECT_EQ(f.Sender, c.Expected.Sender);
    EXPECT_EQ(f.Recipient, c.Expected.Recipient);
    EXPECT_EQ(f.Text, c.Expected.Text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TransportRecordFromBlock,
    ::testing::Values(
        ReadCase{"Ordinary", "bob" + Nul + "alice" + Nul + "hi\r\n\tbob@PC" + Nul + Nul + Nul + Nul, "bob",
                 {"bob", "alice", "hi\r\n\tbob@PC"}},
        ReadCase{"ShortWithoutTail", "bob" + Nul + "alice" + Nul + "hi", "bob", {"bob", "alice", "hi"}},
        ReadCase{"SenderOnly", "bob", "bob", {"bob", "", ""}},
        ReadCase{"EmptySender", Nul + "alice" + Nul + "hi" + Nul, "", {"", "alice", "hi"}},
        ReadCase{"NothingWritten", "", "", {"", "", ""}},
        ReadCase{"NoNulIn420Bytes", std::string(420, 'x'), std::string(420, 'x'), {std::string(420, 'x'), "", ""}},
        ReadCase{"NulOnlyAtTheEnd", std::string(419, 'x') + Nul, std::string(419, 'x'),
                 {std::string(419, 'x'), "", ""}},
        // A 0x02 on the wire is a separator for the receiver, not for the first field.
        ReadCase{"SeparatorByteOnTheWire", "b\x02" "ob" + Nul + "al" + Nul, "b\x02" "ob", {"b", "ob", "al"}},
        ReadCase{"EmptyRecipient", "bob" + Nul + Nul + "hi" + Nul, "bob", {"bob", "", "hi"}},
        ReadCase{"HighBytes", "\xe9\xff" + Nul + "\x80" + Nul + "\xfe" + Nul, "\xe9\xff", {"\xe9\xff", "\x80", "\xfe"}}),
    [](const auto &info) { return std::string(info.param.Name); });

TEST(TransportRecord, FirstFieldSearchStaysInsideAFullArea)
{
    // Cannot come from a read of at most 420 bytes, but the search must still
    // end at the area's end rather than run past it.
    ReceiveArea area;
    area.fill('x');
    const auto [first, record] = FromBlock(area);
    EXPECT_EQ(first, std::string(ReceiveAreaSize, 'x'));
    EXPECT_EQ(record, std::string(ReceivedRecordSize, 'x'));
}

struct WalkCase {
    std::string Record;
    std::vector<std::string> Taken; // TakeField after 0, 1, 2 DropFields
    std::string Rest;               // after three DropFields
};

TEST(TransportRecord, TakeAndDropFieldWalk)
{
    const std::vector<WalkCase> cases = {
        // No separator: no field, and dropping leaves the record as it was.
        {"abc", {"", "", ""}, "abc"},
        {"", {"", "", ""}, ""},
        {Sep, {"", "", ""}, ""},
        {"a" + Sep + "b" + Sep + "c" + Sep, {"a", "b", "c"}, ""},
        {"a" + Sep + Sep + "b", {"a", "", ""}, "b"},
        {"a" + Sep + "bc", {"a", "", ""}, "bc"},
        {Sep + Sep + Sep + Sep + "x", {"", "", ""}, Sep + "x"},
    };
    for (const WalkCase &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.Record));
        MessageRecord record = c.Record;
        for (const std::string &expected : c.Taken) {
            EXPECT_EQ(TakeField(record), expected);
            DropField(record);
        }
        EXPECT_EQ(record, c.Rest);
    }
}

// ---- The receipt sign ----

TEST(TransportRecord, ReceiptIsTheMarkerAnywhere)
{
    const LocalIdentity id = IdentityOf("alice", "PC1");
    ExpectEach(IsReceipt, {
        {ReceiptRecord(id, "bob"), true},
        {ReceiptRecord(id, ""), true},
        {OrdinaryRecord(id, "bob", "hello"), false},
        {OrdinaryRecord(id, "bob", "pre\x03\x04\x03post"), true},
        {OrdinaryRecord(id, "b\x03\x04\x03", "hello"), true},
        {"\x03\x04\x03" + Sep + "bob" + Sep + "hi", true},
        {"x" + Sep + "y" + Sep + "z" + Sep + "\x03\x04\x03", true},
        {"\x03\x03\x04\x03", true},
        {"\x03\x04", false},
        {"\x04\x03\x04", false},
        {"\x03\x02\x04\x03", false},
        {"\x03\x04\x04\x03", false},
        {"", false},
    });
}

// ---- Mailslot paths ----

TEST(TransportRecord, MailslotPathOfATarget)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"*", R"(\\*\mailslot\messngr)"},
        {"", R"(\\\mailslot\messngr)"},
        {"bob", R"(\\bob\mailslot\messngr)"},
        {"WORKGROUP", R"(\\WORKGROUP\mailslot\messngr)"},
        {"john smith", R"(\\john smith\mailslot\messngr)"},
    };
    for (const auto &[target, path] : cases)
        EXPECT_EQ(MailslotPath(target), path) << target;
    EXPECT_STREQ(LocalMailslotPath, R"(\\.\mailslot\messngr)");
}

// ---- The records the station writes ----

TEST(TransportRecord, OrdinaryAndReceiptRecordBytes)
{
    const LocalIdentity id = IdentityOf("alice", "PC1");
    const LocalIdentity nobody = IdentityOf("", "PC1");
    struct Case {
        std::string Built, Expected;
    };
    const std::vector<Case> cases = {
        {OrdinaryRecord(id, "bob", "hi"),
         "alice" + Sep + "bob" + Sep + "hi\r\n\talice@PC1" + Sep + Sep + Sep + Sep},
        {OrdinaryRecord(id, "bob", ""), "alice" + Sep + "bob" + Sep + "\r\n\talice@PC1" + Sep + Sep + Sep + Sep},
        {OrdinaryRecord(id, "", "l1\r\nl2"),
         "alice" + Sep + Sep + "l1\r\nl2\r\n\talice@PC1" + Sep + Sep + Sep + Sep},
        // No user name from either source: empty sender, signature "@" computer.
        {OrdinaryRecord(nobody, "bob", "hi"), Sep + "bob" + Sep + "hi\r\n\t@PC1" + Sep + Sep + Sep + Sep},
        {ReceiptRecord(id, "bob"), "alice@PC1" + Sep + "bob" + Sep + "\x03\x04\x03" + Sep + Sep + Sep + Sep},
        {ReceiptRecord(id, ""), "alice@PC1" + Sep + Sep + "\x03\x04\x03" + Sep + Sep + Sep + Sep},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.Built, c.Expected);
}

TEST(TransportRecord, NameBufferWithoutNulGivesAtMost64Bytes)
{
    // Names are read up to NUL; a buffer filled to its last byte must not be
    // read past its end (ASan would report it) nor into the next buffer.
    LocalIdentity id;
    std::memset(id.ComputerName, 'c', sizeof id.ComputerName);
    std::memset(id.UserName, 'u', sizeof id.UserName);
    const std::string user(64, 'u'), computer(64, 'c');
    EXPECT_EQ(OrdinaryRecord(id, "r", "t"),
              user + Sep + "r" + Sep + "t\r\n\t" + user + "@" + computer + Sep + Sep + Sep + Sep);
    EXPECT_EQ(ReceiptRecord(id, "r"), user + "@" + computer + Sep + "r" + Sep + "\x03\x04\x03" + Sep + Sep + Sep + Sep);
}

// ---- Which senders get a receipt ----

TEST(TransportRecord, ReplyTargetRejectsPathAndWildcardCharacters)
{
    for (const char c : std::string("\\/:*?\"<>|")) {
        const std::string ch(1, c);
        for (const std::string &name : {ch, "a" + ch, ch + "b", "a" + ch + "b"})
            EXPECT_FALSE(IsSafeReplyTarget(name)) << name;
    }
}

TEST(TransportRecord, ReplyTargetRejectsControlBytes)
{
    std::vector<int> control;
    for (int b = 0x00; b <= 0x1F; ++b)
        control.push_back(b);
    control.push_back(0x7F); // DEL is a control byte too, and in no Windows name
    for (const int b : control) {
        const std::string ch(1, static_cast<char>(b));
        for (const std::string &name : {ch, "bob" + ch, ch + "bob", "b" + ch + "ob"})
            EXPECT_FALSE(IsSafeReplyTarget(name)) << "byte " << b;
    }
}

TEST(TransportRecord, ReplyTargetTable)
{
    ExpectEach(IsSafeReplyTarget, {
        {"bob", true},
        {"PC-01", true},
        {"john smith", true},
        {" bob ", true},
        {"j.smith", true},
        {".bob", true},
        {"bob.", true},
        {"a..b", true},
        {"alice@PC1", true}, // how a receipt names its station
        {"_x~!#$%&'()+,;=@[]^`{}", true},
        {"\x80", true},
        {"\xe9t\xe9", true},
        {"\xff\xfe", true},
        {std::string(420, 'x'), true},
        {"", false},
        // Only dots: "." is the local station itself, so a forged sender "."
        // would make the station answer into its own mailslot.
        {".", false},
        {"..", false},
        {"...", false},
        {".\\pipe\\x", false},
        {"?\\C:\\somewhere", false},
        {"*", false},
    });
}

} // namespace
