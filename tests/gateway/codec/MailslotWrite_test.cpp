// Unit tests of the mailslot write and the messenger datagram: the notes'
// 420-byte example byte for byte, the variants Windows and Samba send that
// must be delivered, and each malformed write dropped with its reason.
#include "gateway/codec/MailslotWrite.h"

#include "WireText.h"

#include <gtest/gtest.h>

namespace {

constexpr std::size_t Smb = 82; // where USER_DATA starts in a datagram

Wire Payload(std::size_t size)
{
    Wire payload(size);
    for (std::size_t i = 0; i < size; ++i)
        payload[i] = static_cast<std::uint8_t>(i * 7 + 1);
    return payload;
}

DatagramHeader AliceToBob()
{
    DatagramHeader header;
    header.Type = DirectUnique;
    header.Id = 0x1234;
    header.SourceIp = 0x0A000002;
    header.Source = *MakeNetbiosName("ALICE", MessengerSuffix);
    header.Destination = *MakeNetbiosName("BOB", MessengerSuffix);
    return header;
}

// ALICE<03> 10.0.0.2 -> BOB<03>, DIRECT_UNIQUE, 420 bytes: the notes' example.
const Wire Example = Hex("10 02 12 34 0a 00 00 02 00 8a 02 40 00 00") + AliceWire() + BobWire() +
                     Hex("ff 53 4d 42 25 00 00 00 00 18 04 00 00 00 00 00"
                         "00 00 00 00 00 00 00 00 00 00 ff fe 00 00 00 00"
                         "11 00 00 a4 01 00 00 00 00 00 00 00 00 00 00 00"
                         "00 00 00 00 00 58 00 a4 01 58 00 03 00 01 00 00"
                         "00 02 00 b7 01 5c 4d 41 49 4c 53 4c 4f 54 5c 4d"
                         "45 53 53 4e 47 52 00 00") +
                     Payload(420);

// The example with its SMB message cut to `size` bytes and DGM_LENGTH to match.
Wire SmbCut(std::size_t size)
{
    const std::size_t length = 68 + size;
    return Patched(Cut(Example, Smb + size), 10, Wire{static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)});
}

TEST(GatewayMailslotWrite, BuildsTheNotesExampleByteForByte)
{
    const Wire payload = Payload(420);
    const Wire built = BuildMessengerDatagram(AliceToBob(), payload.data(), payload.size());
    ASSERT_EQ(built.size(), 590u);
    EXPECT_EQ(built, Example);

    MessengerDatagram parsed;
    ASSERT_EQ(ParseMessengerDatagram(Example.data(), Example.size(), parsed), DatagramDrop::None);
    EXPECT_EQ(parsed.PayloadOffset, 170u);
    EXPECT_EQ(Wire(Example.begin() + 170, Example.begin() + 170 + parsed.PayloadSize), payload);
    EXPECT_EQ(ToString(parsed.Header.Source), "ALICE<03>");
    EXPECT_EQ(ToString(parsed.Header.Destination), "BOB<03>");
    EXPECT_EQ(parsed.Header.SourceIp, 0x0A000002u);
    EXPECT_EQ(parsed.Header.Id, 0x1234);
}

TEST(GatewayMailslotWrite, PayloadLimitIs424)
{
    const Wire payload = Payload(425);
    EXPECT_EQ(BuildMessengerDatagram(AliceToBob(), payload.data(), 424).size(), 594u); // MAX UDP payload, notes §3
    EXPECT_TRUE(BuildMessengerDatagram(AliceToBob(), payload.data(), 425).empty());
    EXPECT_EQ(BuildMessengerDatagram(AliceToBob(), nullptr, 0).size(), 170u);
    // A longer name moves the data, still 4-aligned; past 512 bytes nothing.
    const Wire browse = BuildMailslotWrite("\\MAILSLOT\\BROWSE", payload.data(), 3);
    MailslotWrite write;
    ASSERT_EQ(ParseMailslotWrite(browse.data(), browse.size(), write), DatagramDrop::None);
    EXPECT_EQ(write.Mailslot, "\\MAILSLOT\\BROWSE");
    EXPECT_EQ(write.DataOffset, 88u);
    EXPECT_EQ(browse.size(), 91u);
    const Wire most = Payload(428);
    EXPECT_EQ(BuildMailslotWrite("\\MAILSLOT\\A", most.data(), 428).size(), 512u);
    EXPECT_TRUE(BuildMailslotWrite("\\MAILSLOT\\A", Payload(429).data(), 429).empty());
    EXPECT_TRUE(BuildMailslotWrite(std::string_view("\\MAILSLOT\\A\0B", 13), most.data(), 1).empty());
}

struct DeliverCase {
    const char *Name;
    Wire Bytes;
    DatagramDrop Drop;
    std::size_t PayloadOffset = 170;
};

TEST(GatewayMailslotWrite, ReceiverRules)
{
    const DeliverCase cases[] = {
        // Delivered.
        {"SNT 3, as Windows sends", Patched(Example, 1, Hex("0e")), DatagramDrop::None},
        {"direct group", Patched(Example, 0, Hex("11")), DatagramDrop::None},
        {"broadcast", Patched(Example, 0, Hex("12")), DatagramDrop::None},
        {"mailslot name in lower case", Patched(Example, Smb + 69, Hex("5c 6d 61 69 6c 73 6c 6f 74 5c 6d 65 73 73 6e 67 72")),
         DatagramDrop::None},
        {"data unpadded after the name", Patched(Example, Smb + 57, Hex("57 00")), DatagramDrop::None, 169},
        {"bytes past DGM_LENGTH", Example + Hex("00 00 00"), DatagramDrop::None},
        {"ignored fields all ones", Patched(Patched(Example, Smb + 5, Times(Hex("ff"), 27)), Smb + 33, Times(Hex("ff"), 22)),
         DatagramDrop::None},
        // Dropped.
        {"header too short", Cut(Example, 13), DatagramDrop::TruncatedHeader},
        {"length past the end", Cut(Example, 589), DatagramDrop::LengthPastEnd},
        {"SMB of 3 bytes", SmbCut(3), DatagramDrop::TruncatedSmb},
        {"SMB header cut before the word count", SmbCut(32), DatagramDrop::TruncatedSmb},
        {"SMB words cut short", SmbCut(68), DatagramDrop::TruncatedSmb},
        {"not SMB", Patched(Example, Smb, Hex("fe")), DatagramDrop::NotSmb},
        {"SMB_COM_WRITE_ANDX", Patched(Example, Smb + 4, Hex("2f")), DatagramDrop::WrongCommand},
        {"word count 16", Patched(Example, Smb + 32, Hex("10")), DatagramDrop::WrongWordCount},
        {"word count 0", Patched(Example, Smb + 32, Hex("00")), DatagramDrop::WrongWordCount},
        {"setup count 2", Patched(Example, Smb + 59, Hex("02")), DatagramDrop::NotMailslotWrite},
        {"opcode 2", Patched(Example, Smb + 61, Hex("02 00")), DatagramDrop::NotMailslotWrite},
        {"name without its NUL", SmbCut(86), DatagramDrop::BadMailslotName},
        {"no \\MAILSLOT\\", Patched(Example, Smb + 70, Hex("4e")), DatagramDrop::BadMailslotName},
        {"nothing after \\MAILSLOT\\", Patched(Example, Smb + 79, Hex("00")), DatagramDrop::BadMailslotName},
        {"data count one past the end", Patched(Example, Smb + 55, Hex("a5 01")), DatagramDrop::DataOutside},
        {"data offset past the end", Patched(Example, Smb + 57, Hex("00 02")), DatagramDrop::DataOutside},
        {"data offset inside the name", Patched(Example, Smb + 57, Hex("56 00")), DatagramDrop::DataOutside},
        {"data offset 0xffff", Patched(Example, Smb + 57, Hex("ff ff")), DatagramDrop::DataOutside},
        {"another mailslot", Patched(Example, Smb + 85, Hex("58")), DatagramDrop::OtherMailslot},
        {"a longer name", Patched(Example, Smb + 86, Hex("52")), DatagramDrop::OtherMailslot},
        {"name running into the data", Patched(Example, Smb + 86, Hex("52 52")), DatagramDrop::DataOutside},
    };
    for (const DeliverCase &c : cases) {
        SCOPED_TRACE(c.Name);
        MessengerDatagram parsed;
        ASSERT_EQ(ParseMessengerDatagram(c.Bytes.data(), c.Bytes.size(), parsed), c.Drop) << DropText(c.Drop);
        if (c.Drop == DatagramDrop::None) {
            EXPECT_EQ(parsed.PayloadOffset, c.PayloadOffset);
            EXPECT_EQ(parsed.PayloadSize, 420u);
        }
    }
}

} // namespace
