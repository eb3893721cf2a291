// Fuzz target: the name-service packets anyone on the subnet, or a name
// server, can send to UDP 137. A packet the parser accepts must carry the
// header bits of its kind (checked against RFC 1002 4.2 apart from the
// parser), its name must re-encode to the bytes it came in, and the packet
// built from the parsed fields must parse back to the same fields (entry,
// TTL, RCODE, WACK flags, node status table) with the size of its kind.
#include "gateway/codec/NameService.h"

#include "FuzzCheck.h"

#include <algorithm>
#include <cstdint>

namespace {

std::size_t SizeOf(const NameServicePacket &p)
{
    switch (p.Kind) {
    case NameServiceKind::Query:
    case NameServiceKind::NodeStatusRequest: return NameQuerySize;
    case NameServiceKind::Registration:
    case NameServiceKind::OverwriteDemand:
    case NameServiceKind::Refresh:
    case NameServiceKind::Release: return NameRequestWithRecordSize;
    case NameServiceKind::Wack: return WackSize;
    case NameServiceKind::NegativeQueryResponse: return NegativeQueryResponseSize;
    case NameServiceKind::NodeStatusResponse: return NodeStatusHeadSize + 1 + 18 * p.Status.Names.size() + 46;
    default: return NameResponseSize;
    }
}

// R, OPCODE and RCODE of each kind (RFC 1002 4.2); RD tells registration
// from overwrite; refreshes and their answers come as OPCODE 8 or 9.
bool HeaderFits(NameServiceKind kind, std::uint16_t flags)
{
    const bool response = flags >> 15;
    const int opcode = flags >> 11 & 0xF, rcode = flags & 0xF;
    const bool registration = opcode == 5 || opcode == 8 || opcode == 9;
    switch (kind) {
    case NameServiceKind::Query:
    case NameServiceKind::NodeStatusRequest: return !response && opcode == 0;
    case NameServiceKind::PositiveQueryResponse:
    case NameServiceKind::NodeStatusResponse: return response && opcode == 0 && rcode == 0;
    case NameServiceKind::NegativeQueryResponse: return response && opcode == 0 && rcode != 0;
    case NameServiceKind::Registration: return !response && opcode == 5 && (flags & 0x0100);
    case NameServiceKind::OverwriteDemand: return !response && opcode == 5 && !(flags & 0x0100);
    case NameServiceKind::Refresh: return !response && (opcode == 8 || opcode == 9);
    case NameServiceKind::PositiveRegistrationResponse: return response && registration && rcode == 0;
    case NameServiceKind::NegativeRegistrationResponse: return response && registration && rcode != 0 && rcode != 7;
    case NameServiceKind::ConflictDemand: return response && registration && rcode == 7;
    case NameServiceKind::Release: return !response && opcode == 6;
    case NameServiceKind::ReleaseResponse: return response && opcode == 6;
    case NameServiceKind::Wack: return response && opcode == 7;
    }
    return false;
}

// Kinds whose record carries an NB entry: its group bit, node type and address survive.
bool CarriesEntry(NameServiceKind kind)
{
    switch (kind) {
    case NameServiceKind::Query:
    case NameServiceKind::NodeStatusRequest:
    case NameServiceKind::NodeStatusResponse:
    case NameServiceKind::NegativeQueryResponse:
    case NameServiceKind::ConflictDemand:
    case NameServiceKind::Wack: return false;
    default: return true;
    }
}

bool TtlIsBuilt(NameServiceKind kind) { return CarriesEntry(kind) || kind == NameServiceKind::Wack; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    NameServicePacket parsed;
    if (!ParseNameService(data, size, parsed))
        return 0;
    Require(size >= SizeOf(parsed), "an accepted packet is at least as long as its kind");
    Require(parsed.TransactionId == (data[0] << 8 | data[1]) && parsed.Flags == (data[2] << 8 | data[3]),
            "id and flags are the packet's");
    Require(HeaderFits(parsed.Kind, parsed.Flags), "the kind agrees with R, OPCODE and RCODE");
    const EncodedName wire = EncodeName(parsed.Name);
    Require(std::equal(wire.begin(), wire.end(), data + 12), "the name re-encodes to the bytes at offset 12");

    const std::vector<std::uint8_t> built = BuildNameService(parsed);
    Require(built.size() == SizeOf(parsed), "a built packet has the size of its kind");
    NameServicePacket again;
    Require(ParseNameService(built.data(), built.size(), again), "a built packet parses");
    Require(again.Kind == parsed.Kind && again.TransactionId == parsed.TransactionId && again.Name == parsed.Name,
            "kind, id and name survive a rebuild");
    if (CarriesEntry(parsed.Kind))
        Require(again.Group == parsed.Group && again.NodeType == parsed.NodeType && again.Address == parsed.Address,
                "group, node type and address survive a rebuild");
    if (parsed.Flags & 0x8000 && parsed.Kind != NameServiceKind::Wack)
        Require(again.Rcode == parsed.Rcode, "an answer keeps its RCODE, positive or negative");
    Require(again.RequestFlags == parsed.RequestFlags, "a WACK's request flags survive");
    Require(again.Status.Names == parsed.Status.Names && again.Status.Unit == parsed.Status.Unit,
            "a node status keeps its names and unit ID");
    Require(again.Ttl == (TtlIsBuilt(parsed.Kind) ? parsed.Ttl : 0), "the TTL survives where the kind carries one");
    Require(BuildNameService(again) == built, "building is stable");
    return 0;
}
