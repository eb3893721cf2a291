// Unit tests of the name-service packets: each built byte for byte as
// RFC 1002 4.2 lays it out and parsed back to the same fields, the variants
// other nodes send that must still parse, and the packets that must not.
#include "gateway/codec/NameService.h"

#include "WireText.h"

#include <gtest/gtest.h>

#include <tuple>

namespace {

const NetbiosName Alice = *MakeNetbiosName("ALICE", MessengerSuffix);
const NetbiosName Bob = *MakeNetbiosName("BOB", MessengerSuffix);
constexpr std::uint32_t AliceIp = 0x0A000002, BobIp = 0x0A000003;
const Wire NbIn = Hex("00 20 00 01");

// A request with BOB<03> as its question and its record named by pointer;
// `nbFlags` is 00 00 for a unique name, 80 00 for a group.
Wire BobRequest(const char *header, const char *nbFlags)
{
    return Hex(header) + BobWire() + NbIn + Hex("c0 0c") + NbIn + Hex("00 00 00 00 00 06") + Hex(nbFlags) +
           Hex("0a 00 00 03");
}

auto Fields(const NameServicePacket &p)
{
    return std::make_tuple(static_cast<int>(p.Kind), p.TransactionId, p.Flags, ToString(p.Name), p.Ttl, p.Group,
                           p.NodeType, p.Address, p.Rcode, p.Broadcast);
}

NameServicePacket Packet(NameServiceKind kind, std::uint16_t id, std::uint16_t flags, const NetbiosName &name,
                         std::uint32_t ttl = 0, bool group = false, std::uint32_t address = 0)
{
    NameServicePacket p;
    p.Kind = kind;
    p.TransactionId = id;
    p.Flags = flags;
    p.Name = name;
    p.Ttl = ttl;
    p.Group = group;
    p.Address = address;
    p.Rcode = flags & 0x0F;
    p.Broadcast = flags & 0x0010;
    return p;
}

struct BuildCase {
    const char *Name;
    Wire Built, Expected;
    NameServicePacket Parsed;
};

TEST(GatewayNameService, BuildsTheNotesTableAndParsesItBack)
{
    const BuildCase cases[] = {
        {"query", BuildNameQuery(0x1234, Alice),
         Hex("12 34 01 10 00 01 00 00 00 00 00 00") + AliceWire() + NbIn,
         Packet(NameServiceKind::Query, 0x1234, 0x0110, Alice)},
        {"positive query response", BuildPositiveQueryResponse(0x1234, Alice, 300000, false, AliceIp),
         Hex("12 34 85 00 00 00 00 01 00 00 00 00") + AliceWire() + NbIn + Hex("00 04 93 e0 00 06 00 00 0a 00 00 02"),
         Packet(NameServiceKind::PositiveQueryResponse, 0x1234, 0x8500, Alice, 300000, false, AliceIp)},
        {"registration", BuildRegistration(0x0001, Bob, false, BobIp),
         BobRequest("00 01 29 10 00 01 00 00 00 00 00 01", "00 00"),
         Packet(NameServiceKind::Registration, 0x0001, 0x2910, Bob, 0, false, BobIp)},
        {"group registration", BuildRegistration(0xfffe, Bob, true, BobIp),
         BobRequest("ff fe 29 10 00 01 00 00 00 00 00 01", "80 00"),
         Packet(NameServiceKind::Registration, 0xfffe, 0x2910, Bob, 0, true, BobIp)},
        {"overwrite demand", BuildOverwriteDemand(0x0002, Bob, false, BobIp),
         BobRequest("00 02 28 10 00 01 00 00 00 00 00 01", "00 00"),
         Packet(NameServiceKind::OverwriteDemand, 0x0002, 0x2810, Bob, 0, false, BobIp)},
        {"release", BuildRelease(0x0003, Bob, true, BobIp),
         BobRequest("00 03 30 10 00 01 00 00 00 00 00 01", "80 00"),
         Packet(NameServiceKind::Release, 0x0003, 0x3010, Bob, 0, true, BobIp)},
        {"negative registration response", BuildNegativeRegistrationResponse(0x0001, Bob, 0, false, AliceIp),
         Hex("00 01 ad 86 00 00 00 01 00 00 00 00") + BobWire() + NbIn + Hex("00 00 00 00 00 06 00 00 0a 00 00 02"),
         Packet(NameServiceKind::NegativeRegistrationResponse, 0x0001, 0xad86, Bob, 0, false, AliceIp)},
        {"conflict demand", BuildConflictDemand(0x0009, Alice),
         Hex("00 09 ad 87 00 00 00 01 00 00 00 00") + AliceWire() + NbIn + Hex("00 00 00 00 00 06 00 00 00 00 00 00"),
         Packet(NameServiceKind::ConflictDemand, 0x0009, 0xad87, Alice)},
    };
    for (const BuildCase &c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(c.Built, c.Expected);
        NameServicePacket parsed;
        ASSERT_TRUE(ParseNameService(c.Expected.data(), c.Expected.size(), parsed));
        EXPECT_EQ(Fields(parsed), Fields(c.Parsed));
        EXPECT_EQ(BuildNameService(parsed), c.Expected);
    }
    EXPECT_EQ(BuildNameQuery(1, Alice).size(), NameQuerySize);
    EXPECT_EQ(BuildConflictDemand(1, Alice).size(), NameResponseSize);
    EXPECT_EQ(BuildRelease(1, Alice, false, 0).size(), NameRequestWithRecordSize);
}

struct ParseCase {
    const char *Name;
    Wire Bytes;
    bool Accepted;
    NameServiceKind Kind = NameServiceKind::Query;
    std::uint32_t Address = 0;
};

TEST(GatewayNameService, AcceptsWhatOtherNodesSendAndRefusesTheRest)
{
    const Wire query = BuildNameQuery(7, Alice);
    const Wire answer = BuildPositiveQueryResponse(7, Alice, 0, false, AliceIp);
    const Wire registration = BuildRegistration(7, Bob, false, BobIp);
    const Wire fullName = Cut(registration, 50) + BobWire() + NbIn + Hex("00 00 00 00 00 06 00 00 0a 00 00 03");
    const ParseCase cases[] = {
        {"answer with AA and RA", Patched(answer, 2, Hex("85 80")), true, NameServiceKind::PositiveQueryResponse, AliceIp},
        {"answer of two entries gives the first",
         Patched(answer, 54, Hex("00 0c 80 00 0a 00 00 09 00 00 0a 00 00 02")), true,
         NameServiceKind::PositiveQueryResponse, 0x0A000009},
        {"unicast query", Patched(query, 2, Hex("01 00")), true, NameServiceKind::Query},
        {"bytes after the packet", query + Hex("00 00"), true, NameServiceKind::Query},
        {"record naming the question in full", fullName, true, NameServiceKind::Registration, BobIp},
        {"refresh (opcode 9)", Patched(registration, 2, Hex("48 10")), false},
        {"pointer elsewhere", Patched(registration, 50, Hex("c0 0d")), false},
        {"record naming another name", Patched(fullName, 63, Hex("45 42")), false},
        {"record name missing", Cut(registration, 51), false},
        {"header only", Cut(query, 12), false},
        {"truncated header", Cut(query, 11), false},
        {"question truncated", Cut(query, 49), false},
        {"question with a scope", Patched(query, 45, Hex("03 4c 41 4e 00") + NbIn), false},
        {"node status question", Patched(query, 46, Hex("00 21")), false},
        {"class not IN", Patched(query, 48, Hex("00 02")), false},
        {"query with an answer count", Patched(query, 6, Hex("00 01")), false},
        {"two questions", Patched(query, 4, Hex("00 02")), false},
        {"answer named by pointer", Patched(answer, 12, Hex("c0 0c")), false},
        {"RDLENGTH 0", Patched(answer, 54, Hex("00 00")), false},
        {"RDLENGTH 7", Patched(answer, 54, Hex("00 07")) + Hex("00"), false},
        {"RDLENGTH past the end", Patched(answer, 54, Hex("00 0c")), false},
        {"request with two entries", Patched(registration, 60, Hex("00 0c")) + Hex("00 00 0a 00 00 04"), false},
        {"negative query response", Patched(answer, 2, Hex("85 03")), false},
        {"positive registration response", Patched(answer, 2, Hex("ad 80")), false},
        {"WACK", Patched(answer, 2, Hex("bc 00")), false},
        {"record truncated", Cut(registration, 67), false},
    };
    for (const ParseCase &c : cases) {
        SCOPED_TRACE(c.Name);
        NameServicePacket parsed;
        ASSERT_EQ(ParseNameService(c.Bytes.data(), c.Bytes.size(), parsed), c.Accepted);
        if (c.Accepted) {
            EXPECT_EQ(parsed.Kind, c.Kind);
            EXPECT_EQ(parsed.Address, c.Address);
        }
    }
}

} // namespace
