// Fuzz target: the name-service packets anyone on the subnet can send to
// UDP 137. A packet the parser accepts must carry the header bits of its
// kind (checked against RFC 1002 4.2 apart from the parser), its name must
// re-encode to the bytes it came in, and the packet built from the parsed
// fields must parse back to the same fields with the size of its kind.
#include "gateway/codec/NameService.h"

#include "FuzzCheck.h"

#include <algorithm>
#include <cstdint>

namespace {

std::size_t SizeOf(NameServiceKind kind)
{
    switch (kind) {
    case NameServiceKind::Query: return NameQuerySize;
    case NameServiceKind::Registration:
    case NameServiceKind::OverwriteDemand:
    case NameServiceKind::Release: return NameRequestWithRecordSize;
    default: return NameResponseSize;
    }
}

// R, OPCODE and RCODE of each kind; RD tells registration from overwrite.
bool HeaderFits(NameServiceKind kind, std::uint16_t flags)
{
    const bool response = flags >> 15;
    const int opcode = flags >> 11 & 0xF, rcode = flags & 0xF;
    switch (kind) {
    case NameServiceKind::Query: return !response && opcode == 0;
    case NameServiceKind::PositiveQueryResponse: return response && opcode == 0 && rcode == 0;
    case NameServiceKind::Registration: return !response && opcode == 5 && (flags & 0x0100);
    case NameServiceKind::OverwriteDemand: return !response && opcode == 5 && !(flags & 0x0100);
    case NameServiceKind::NegativeRegistrationResponse: return response && opcode == 5 && rcode != 0 && rcode != 7;
    case NameServiceKind::ConflictDemand: return response && opcode == 5 && rcode == 7;
    case NameServiceKind::Release: return !response && opcode == 6;
    }
    return false;
}

bool TtlIsBuilt(NameServiceKind kind)
{
    return kind == NameServiceKind::PositiveQueryResponse || kind == NameServiceKind::NegativeRegistrationResponse;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    NameServicePacket parsed;
    if (!ParseNameService(data, size, parsed))
        return 0;
    Require(size >= SizeOf(parsed.Kind), "an accepted packet is at least as long as its kind");
    Require(parsed.TransactionId == (data[0] << 8 | data[1]) && parsed.Flags == (data[2] << 8 | data[3]),
            "id and flags are the packet's");
    Require(HeaderFits(parsed.Kind, parsed.Flags), "the kind agrees with R, OPCODE and RCODE");
    const EncodedName wire = EncodeName(parsed.Name);
    Require(std::equal(wire.begin(), wire.end(), data + 12), "the name re-encodes to the bytes at offset 12");

    const std::vector<std::uint8_t> built = BuildNameService(parsed);
    Require(built.size() == SizeOf(parsed.Kind), "a built packet has the size of its kind");
    NameServicePacket again;
    Require(ParseNameService(built.data(), built.size(), again), "a built packet parses");
    Require(again.Kind == parsed.Kind && again.TransactionId == parsed.TransactionId && again.Name == parsed.Name,
            "kind, id and name survive a rebuild");
    if (parsed.Kind != NameServiceKind::Query && parsed.Kind != NameServiceKind::ConflictDemand)
        Require(again.Group == parsed.Group && again.Address == parsed.Address, "group and address survive a rebuild");
    Require(again.Ttl == (TtlIsBuilt(parsed.Kind) ? parsed.Ttl : 0), "the TTL survives where the kind carries one");
    Require(BuildNameService(again) == built, "building is stable");
    return 0;
}
