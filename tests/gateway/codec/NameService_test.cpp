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

const Wire Ttl300000 = Hex("00 04 93 e0");
// `*` and 15 NULs, the question of nbtstat -A and nmblookup -A.
const Wire StarWire = Hex("20 43 4b") + Times(Hex("41"), 30) + Hex("00");

// A request with BOB<03> as its question and its record named by pointer;
// `nbFlags` is 00 00 for a unique name of a B-node, 80 00 for a group, 60 00
// for a unique name of an H-node.
Wire BobRequest(const char *header, const char *nbFlags, const Wire &ttl = Hex("00 00 00 00"))
{
    return Hex(header) + BobWire() + NbIn + Hex("c0 0c") + NbIn + ttl + Hex("00 06") + Hex(nbFlags) +
           Hex("0a 00 00 03");
}

auto Fields(const NameServicePacket &p)
{
    return std::make_tuple(static_cast<int>(p.Kind), p.TransactionId, p.Flags, ToString(p.Name), p.Ttl, p.Group,
                           p.NodeType, p.Address, p.Rcode, p.Broadcast, p.RequestFlags, p.Status.Names,
                           p.Status.Unit);
}

NameServicePacket Packet(NameServiceKind kind, std::uint16_t id, std::uint16_t flags, const NetbiosName &name,
                         std::uint32_t ttl = 0, bool group = false, std::uint32_t address = 0,
                         std::uint8_t nodeType = BNodeType)
{
    NameServicePacket p;
    p.Kind = kind;
    p.TransactionId = id;
    p.Flags = flags;
    p.Name = name;
    p.Ttl = ttl;
    p.Group = group;
    p.NodeType = nodeType;
    p.Address = address;
    p.Rcode = flags & 0x0F;
    p.Broadcast = flags & 0x0010;
    return p;
}

// ALICE<03> unique and WORKGROUP<00> group, active, on an H-node.
NodeStatus TwoNames()
{
    NodeStatus s;
    s.Names = {{Alice, 0x6400}, {*MakeNetbiosName("workgroup", WorkstationSuffix), 0xe400}};
    s.Unit = {0x02, 0x00, 0x0a, 0x00, 0x00, 0x02};
    return s;
}

NameServicePacket WithStatus(NameServicePacket p, const NodeStatus &status)
{
    p.Status = status;
    return p;
}

NameServicePacket WithRequestFlags(NameServicePacket p, std::uint16_t flags)
{
    p.RequestFlags = flags;
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
        // To and from a name server: unicast, B clear, node type H.
        {"server query", BuildServerQuery(0x1234, Alice), Hex("12 34 01 00 00 01 00 00 00 00 00 00") + AliceWire() + NbIn,
         Packet(NameServiceKind::Query, 0x1234, 0x0100, Alice)},
        {"server registration", BuildServerRegistration(0x0004, Bob, false, HNodeType, BobIp, 300000),
         BobRequest("00 04 29 00 00 01 00 00 00 00 00 01", "60 00", Ttl300000),
         Packet(NameServiceKind::Registration, 0x0004, 0x2900, Bob, 300000, false, BobIp, HNodeType)},
        {"refresh", BuildRefresh(0x0005, Bob, true, HNodeType, BobIp, 300000),
         BobRequest("00 05 41 00 00 01 00 00 00 00 00 01", "e0 00", Ttl300000),
         Packet(NameServiceKind::Refresh, 0x0005, 0x4100, Bob, 300000, true, BobIp, HNodeType)},
        {"server release", BuildServerRelease(0x0006, Bob, false, HNodeType, BobIp),
         BobRequest("00 06 30 00 00 01 00 00 00 00 00 01", "60 00"),
         Packet(NameServiceKind::Release, 0x0006, 0x3000, Bob, 0, false, BobIp, HNodeType)},
        {"positive registration response", BuildPositiveRegistrationResponse(0x0004, Bob, 300000, false, HNodeType, BobIp),
         Hex("00 04 ad 80 00 00 00 01 00 00 00 00") + BobWire() + NbIn + Ttl300000 + Hex("00 06 60 00 0a 00 00 03"),
         Packet(NameServiceKind::PositiveRegistrationResponse, 0x0004, 0xad80, Bob, 300000, false, BobIp, HNodeType)},
        {"WACK", BuildWack(0x0004, Bob, 60, 0x2900),
         Hex("00 04 bc 00 00 00 00 01 00 00 00 00") + BobWire() + NbIn + Hex("00 00 00 3c 00 02 29 00"),
         WithRequestFlags(Packet(NameServiceKind::Wack, 0x0004, 0xbc00, Bob, 60), 0x2900)},
        {"negative query response", BuildNegativeQueryResponse(0x0005, Bob),
         Hex("00 05 85 83 00 00 00 01 00 00 00 00") + BobWire() + Hex("00 0a 00 01 00 00 00 00 00 00"),
         Packet(NameServiceKind::NegativeQueryResponse, 0x0005, 0x8583, Bob)},
        {"release response", BuildReleaseResponse(0x0006, Bob, false, HNodeType, BobIp, 0),
         Hex("00 06 b4 00 00 00 00 01 00 00 00 00") + BobWire() + NbIn + Hex("00 00 00 00 00 06 60 00 0a 00 00 03"),
         Packet(NameServiceKind::ReleaseResponse, 0x0006, 0xb400, Bob, 0, false, BobIp, HNodeType)},
        // Node status of the name `*`: the table as raw 16-byte names, then
        // the unit ID and 40 bytes of zero counters.
        {"node status request", BuildNodeStatusRequest(0x0007, BroadcastName()),
         Hex("00 07 00 00 00 01 00 00 00 00 00 00") + StarWire + Hex("00 21 00 01"),
         Packet(NameServiceKind::NodeStatusRequest, 0x0007, 0x0000, BroadcastName())},
        {"node status response", BuildNodeStatusResponse(0x0007, BroadcastName(), TwoNames()),
         Hex("00 07 84 00 00 00 00 01 00 00 00 00") + StarWire + Hex("00 21 00 01 00 00 00 00 00 53 02") +
             Hex("41 4c 49 43 45 20 20 20 20 20 20 20 20 20 20 03 64 00") +
             Hex("57 4f 52 4b 47 52 4f 55 50 20 20 20 20 20 20 00 e4 00") + Hex("02 00 0a 00 00 02") +
             Times(Hex("00"), 40),
         WithStatus(Packet(NameServiceKind::NodeStatusResponse, 0x0007, 0x8400, BroadcastName()), TwoNames())},
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
    EXPECT_EQ(BuildWack(1, Alice, 0, 0).size(), WackSize);
    EXPECT_EQ(BuildNegativeQueryResponse(1, Alice).size(), NegativeQueryResponseSize);
    EXPECT_EQ(BuildNodeStatusResponse(1, Alice, TwoNames()).size(), NodeStatusHeadSize + 1 + 2 * 18 + 46);
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
    const Wire wack = BuildWack(7, Alice, 60, 0x2900);
    const Wire negative = BuildNegativeQueryResponse(7, Alice);
    const Wire status = BuildNodeStatusRequest(7, BroadcastName());
    const Wire statusAnswer = BuildNodeStatusResponse(7, BroadcastName(), TwoNames());
    const Wire fullName = Cut(registration, 50) + BobWire() + NbIn + Hex("00 00 00 00 00 06 00 00 0a 00 00 03");
    const ParseCase cases[] = {
        {"answer with AA and RA", Patched(answer, 2, Hex("85 80")), true, NameServiceKind::PositiveQueryResponse, AliceIp},
        {"answer of two entries gives the first",
         Patched(answer, 54, Hex("00 0c 80 00 0a 00 00 09 00 00 0a 00 00 02")), true,
         NameServiceKind::PositiveQueryResponse, 0x0A000009},
        {"unicast query", Patched(query, 2, Hex("01 00")), true, NameServiceKind::Query},
        {"bytes after the packet", query + Hex("00 00"), true, NameServiceKind::Query},
        {"record naming the question in full", fullName, true, NameServiceKind::Registration, BobIp},
        // Microsoft clients refresh with OPCODE 9; Samba's nmbd answers a
        // refresh with OPCODE 5, and sends WACK and NAM_ERR with records of
        // type NULL (seen from nmbd 4.17).
        {"refresh, opcode 9", Patched(registration, 2, Hex("49 00")), true, NameServiceKind::Refresh, BobIp},
        {"answer to a refresh, opcode 8", Patched(answer, 2, Hex("c5 80")), true,
         NameServiceKind::PositiveRegistrationResponse, AliceIp},
        {"refused refresh, opcode 9", Patched(answer, 2, Hex("cd 85")), true,
         NameServiceKind::NegativeRegistrationResponse, AliceIp},
        {"nmbd's WACK, type NULL", Patched(wack, 46, Hex("00 0a")), true, NameServiceKind::Wack},
        {"negative query response as the RFC counts it", Patched(negative, 6, Hex("00 00")), true,
         NameServiceKind::NegativeQueryResponse},
        {"negative query response of type NB", Patched(answer, 2, Hex("85 83")), true,
         NameServiceKind::NegativeQueryResponse},
        {"node status question with B", Patched(status, 2, Hex("00 10")), true, NameServiceKind::NodeStatusRequest},
        {"pointer elsewhere", Patched(registration, 50, Hex("c0 0d")), false},
        {"record naming another name", Patched(fullName, 63, Hex("45 42")), false},
        {"record name missing", Cut(registration, 51), false},
        {"header only", Cut(query, 12), false},
        {"truncated header", Cut(query, 11), false},
        {"question truncated", Cut(query, 49), false},
        {"question with a scope", Patched(query, 45, Hex("03 4c 41 4e 00") + NbIn), false},
        {"class not IN", Patched(query, 48, Hex("00 02")), false},
        {"query with an answer count", Patched(query, 6, Hex("00 01")), false},
        {"two questions", Patched(query, 4, Hex("00 02")), false},
        {"answer named by pointer", Patched(answer, 12, Hex("c0 0c")), false},
        {"RDLENGTH 0", Patched(answer, 54, Hex("00 00")), false},
        {"RDLENGTH 7", Patched(answer, 54, Hex("00 07")) + Hex("00"), false},
        {"RDLENGTH past the end", Patched(answer, 54, Hex("00 0c")), false},
        {"request with two entries", Patched(registration, 60, Hex("00 0c")) + Hex("00 00 0a 00 00 04"), false},
        {"WACK with an NB entry for data", Patched(answer, 2, Hex("bc 00")), false},
        {"WACK with an NB_STAT record", Patched(wack, 46, Hex("00 21")), false},
        {"node status question of class 2", Patched(status, 48, Hex("00 02")), false},
        {"node status of a name past the table", Patched(statusAnswer, 56, Hex("03")), false},
        {"node status without the whole statistics", Cut(statusAnswer, statusAnswer.size() - 1), false},
        {"release response of a query", Patched(answer, 2, Hex("b4 00")) + Hex("00"), true,
         NameServiceKind::ReleaseResponse, AliceIp},
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
