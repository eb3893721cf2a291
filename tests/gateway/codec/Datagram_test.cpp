// Unit tests of the datagram header: a datagram and a DATAGRAM ERROR built
// byte for byte as RFC 1002 4.4 lays them out, and each way a received
// header is refused, with the reason the daemon counts.
#include "gateway/codec/Datagram.h"

#include "WireText.h"

#include <gtest/gtest.h>

namespace {

// DIRECT_GROUP from BOB<03> at 10.0.0.3 to ALICE<03>, SNT 3 as Windows sends
// it, user data "hi".
const Wire Small = Hex("11 0e 00 07 0a 00 00 03 00 8a 00 46 00 00") + BobWire() + AliceWire() + Hex("68 69");

TEST(GatewayDatagram, BuildsAndParsesTheHeaderByteForByte)
{
    DatagramHeader header;
    header.Type = DirectGroup;
    header.Flags = 0x0e;
    header.Id = 7;
    header.SourceIp = 0x0A000003;
    header.Source = *MakeNetbiosName("bob", MessengerSuffix);
    header.Destination = *MakeNetbiosName("alice", MessengerSuffix);
    const Wire userData = Hex("68 69");
    EXPECT_EQ(BuildDatagram(header, userData.data(), userData.size()), Small);

    ParsedDatagram parsed;
    ASSERT_EQ(ParseDatagram(Small.data(), Small.size(), parsed), DatagramDrop::None);
    EXPECT_EQ(BuildDatagram(parsed.Header, Small.data() + parsed.UserDataOffset, parsed.UserDataSize), Small);
    EXPECT_EQ(parsed.UserDataOffset, 82u);
    EXPECT_EQ(parsed.UserDataSize, 2u);
}

TEST(GatewayDatagram, BuildsDatagramError)
{
    EXPECT_EQ(BuildDatagramError(0x1234, 0x0A000003, DatagramPort, NameNotPresent),
              Hex("13 00 12 34 0a 00 00 03 00 8a 82"));
}

TEST(GatewayDatagram, RefusesBrokenHeadersWithTheirReason)
{
    const struct {
        const char *Name;
        Wire Bytes;
        DatagramDrop Drop;
    } cases[] = {
        {"empty", Wire{}, DatagramDrop::TruncatedHeader},
        {"truncated header", Cut(Small, 13), DatagramDrop::TruncatedHeader},
        {"DATAGRAM ERROR", BuildDatagramError(1, 2, 3, NameNotPresent), DatagramDrop::UnknownType},
        {"NBDD query", Patched(Small, 0, Hex("14")), DatagramDrop::UnknownType},
        {"type 0", Patched(Small, 0, Hex("00")), DatagramDrop::UnknownType},
        {"more fragments", Patched(Small, 1, Hex("0f")), DatagramDrop::Fragment},
        {"later fragment", Patched(Small, 12, Hex("00 01")), DatagramDrop::Fragment},
        {"length one past the end", Patched(Small, 10, Hex("00 47")), DatagramDrop::LengthPastEnd},
        {"length 0xffff", Patched(Small, 10, Hex("ff ff")), DatagramDrop::LengthPastEnd},
        {"length short of two names", Patched(Small, 10, Hex("00 43")), DatagramDrop::LengthPastEnd},
        {"names cut off", Cut(Patched(Small, 10, Hex("00 00")), 60), DatagramDrop::LengthPastEnd},
        {"source without terminator", Patched(Small, 47, Hex("41")), DatagramDrop::BadName},
        {"destination by pointer", Patched(Small, 48, Hex("c0 0e")), DatagramDrop::BadName},
        {"destination with a scope", Patched(Small, 81, Hex("01")), DatagramDrop::BadName},
        {"letter outside A..P", Patched(Small, 20, Hex("5a")), DatagramDrop::BadName},
    };
    for (const auto &c : cases) {
        ParsedDatagram parsed;
        EXPECT_EQ(ParseDatagram(c.Bytes.data(), c.Bytes.size(), parsed), c.Drop) << c.Name;
    }
}

} // namespace
