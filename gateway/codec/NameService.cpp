#include "gateway/codec/NameService.h"

#include "gateway/codec/WireBytes.h"

namespace {

constexpr std::size_t HeaderSize = 12;
constexpr std::uint16_t TypeNb = 0x0020;
constexpr std::uint16_t ClassIn = 0x0001;
constexpr std::uint16_t NbEntrySize = 6;
// The record of a request names the question at offset 12 (RFC 1002 4.2.2).
constexpr std::uint8_t QuestionPointer[2] = {0xC0, 0x0C};

constexpr std::uint16_t ResponseBit = 0x8000;
constexpr std::uint16_t RecursionDesired = 0x0100;
constexpr std::uint16_t BroadcastBit = 0x0010;
constexpr std::uint16_t GroupBit = 0x8000;

enum Opcode : std::uint8_t { OpQuery = 0, OpRegistration = 5, OpRelease = 6 };

struct Counts {
    std::uint16_t Questions, Answers, Authority, Additional;
    bool operator==(const Counts &o) const
    {
        return Questions == o.Questions && Answers == o.Answers && Authority == o.Authority &&
               Additional == o.Additional;
    }
};

constexpr Counts QuestionOnly{1, 0, 0, 0}, AnswerOnly{0, 1, 0, 0}, QuestionAndRecord{1, 0, 0, 1};

std::vector<std::uint8_t> Header(std::uint16_t id, std::uint16_t flags, Counts counts)
{
    std::vector<std::uint8_t> out;
    out.reserve(NameRequestWithRecordSize);
    for (std::uint16_t field : {id, flags, counts.Questions, counts.Answers, counts.Authority, counts.Additional})
        PutBig16(out, field);
    return out;
}

void PutName(std::vector<std::uint8_t> &out, const NetbiosName &name)
{
    const EncodedName wire = EncodeName(name);
    out.insert(out.end(), wire.begin(), wire.end());
}

void PutTypeAndClass(std::vector<std::uint8_t> &out)
{
    PutBig16(out, TypeNb);
    PutBig16(out, ClassIn);
}

// TTL, RDLENGTH and one NB entry of node type B (ONT 0).
void PutNbRecordData(std::vector<std::uint8_t> &out, std::uint32_t ttl, std::uint16_t nbFlags, std::uint32_t address)
{
    PutBig32(out, ttl);
    PutBig16(out, NbEntrySize);
    PutBig16(out, nbFlags);
    PutBig32(out, address);
}

std::vector<std::uint8_t> Response(std::uint16_t id, std::uint16_t flags, const NetbiosName &name, std::uint32_t ttl,
                                   std::uint16_t nbFlags, std::uint32_t address)
{
    std::vector<std::uint8_t> out = Header(id, flags, AnswerOnly);
    PutName(out, name);
    PutTypeAndClass(out);
    PutNbRecordData(out, ttl, nbFlags, address);
    return out;
}

std::vector<std::uint8_t> RequestWithRecord(std::uint16_t id, std::uint16_t flags, const NetbiosName &name, bool group,
                                            std::uint32_t address)
{
    std::vector<std::uint8_t> out = Header(id, flags, QuestionAndRecord);
    PutName(out, name);
    PutTypeAndClass(out);
    out.insert(out.end(), std::begin(QuestionPointer), std::end(QuestionPointer));
    PutTypeAndClass(out);
    PutNbRecordData(out, 0, group ? GroupBit : 0, address);
    return out;
}

bool ReadTypeAndClass(const std::uint8_t *data, std::size_t size, std::size_t at)
{
    return size >= at + 4 && ReadBig16(data, at) == TypeNb && ReadBig16(data, at + 2) == ClassIn;
}

bool Classify(std::uint16_t flags, Counts counts, NameServiceKind &kind)
{
    const bool response = flags & ResponseBit;
    const std::uint8_t opcode = (flags >> 11) & 0x0F, rcode = flags & 0x0F;
    if (!response && opcode == OpQuery && counts == QuestionOnly)
        kind = NameServiceKind::Query;
    else if (response && opcode == OpQuery && rcode == 0 && counts == AnswerOnly)
        kind = NameServiceKind::PositiveQueryResponse;
    else if (!response && opcode == OpRegistration && counts == QuestionAndRecord)
        kind = flags & RecursionDesired ? NameServiceKind::Registration : NameServiceKind::OverwriteDemand;
    else if (response && opcode == OpRegistration && rcode != 0 && counts == AnswerOnly)
        kind = rcode == ConflictError ? NameServiceKind::ConflictDemand : NameServiceKind::NegativeRegistrationResponse;
    else if (!response && opcode == OpRelease && counts == QuestionAndRecord)
        kind = NameServiceKind::Release;
    else
        return false;
    return true;
}

} // namespace

std::vector<std::uint8_t> BuildNameQuery(std::uint16_t id, const NetbiosName &name)
{
    std::vector<std::uint8_t> out = Header(id, 0x0110, QuestionOnly);
    PutName(out, name);
    PutTypeAndClass(out);
    return out;
}

std::vector<std::uint8_t> BuildPositiveQueryResponse(std::uint16_t id, const NetbiosName &name, std::uint32_t ttl,
                                                     bool group, std::uint32_t address)
{
    return Response(id, 0x8500, name, ttl, group ? GroupBit : 0, address);
}

std::vector<std::uint8_t> BuildRegistration(std::uint16_t id, const NetbiosName &name, bool group, std::uint32_t address)
{
    return RequestWithRecord(id, 0x2910, name, group, address);
}

std::vector<std::uint8_t> BuildOverwriteDemand(std::uint16_t id, const NetbiosName &name, bool group,
                                               std::uint32_t address)
{
    return RequestWithRecord(id, 0x2810, name, group, address);
}

std::vector<std::uint8_t> BuildRelease(std::uint16_t id, const NetbiosName &name, bool group, std::uint32_t address)
{
    return RequestWithRecord(id, 0x3010, name, group, address);
}

std::vector<std::uint8_t> BuildNegativeRegistrationResponse(std::uint16_t id, const NetbiosName &name,
                                                            std::uint32_t ttl, bool group, std::uint32_t ownerAddress)
{
    return Response(id, 0xAD86, name, ttl, group ? GroupBit : 0, ownerAddress);
}

std::vector<std::uint8_t> BuildConflictDemand(std::uint16_t id, const NetbiosName &name)
{
    return Response(id, 0xAD87, name, 0, 0, 0);
}

std::vector<std::uint8_t> BuildNameService(const NameServicePacket &p)
{
    switch (p.Kind) {
    case NameServiceKind::Query:
        return BuildNameQuery(p.TransactionId, p.Name);
    case NameServiceKind::PositiveQueryResponse:
        return BuildPositiveQueryResponse(p.TransactionId, p.Name, p.Ttl, p.Group, p.Address);
    case NameServiceKind::Registration:
        return BuildRegistration(p.TransactionId, p.Name, p.Group, p.Address);
    case NameServiceKind::OverwriteDemand:
        return BuildOverwriteDemand(p.TransactionId, p.Name, p.Group, p.Address);
    case NameServiceKind::NegativeRegistrationResponse:
        return BuildNegativeRegistrationResponse(p.TransactionId, p.Name, p.Ttl, p.Group, p.Address);
    case NameServiceKind::ConflictDemand:
        return BuildConflictDemand(p.TransactionId, p.Name);
    case NameServiceKind::Release:
        return BuildRelease(p.TransactionId, p.Name, p.Group, p.Address);
    }
    return {};
}

bool ParseNameService(const std::uint8_t *data, std::size_t size, NameServicePacket &out)
{
    if (size < HeaderSize)
        return false;
    NameServicePacket packet;
    packet.TransactionId = ReadBig16(data, 0);
    packet.Flags = ReadBig16(data, 2);
    const Counts counts{ReadBig16(data, 4), ReadBig16(data, 6), ReadBig16(data, 8), ReadBig16(data, 10)};
    if (!Classify(packet.Flags, counts, packet.Kind))
        return false;
    packet.Rcode = packet.Flags & 0x0F;
    packet.Broadcast = packet.Flags & BroadcastBit;

    std::size_t at = HeaderSize;
    const bool hasQuestion = counts.Questions == 1;
    if (hasQuestion) {
        const std::optional<NetbiosName> question = DecodeName(data, size, at);
        if (!question || !ReadTypeAndClass(data, size, at + EncodedNameSize))
            return false;
        packet.Name = *question;
        at += EncodedNameSize + 4;
        if (packet.Kind == NameServiceKind::Query) {
            out = packet;
            return true;
        }
        if (size >= at + 2 && data[at] == QuestionPointer[0] && data[at + 1] == QuestionPointer[1]) {
            at += 2;
        } else {
            const std::optional<NetbiosName> named = DecodeName(data, size, at);
            if (!named || *named != packet.Name)
                return false;
            at += EncodedNameSize;
        }
    } else {
        const std::optional<NetbiosName> answer = DecodeName(data, size, at);
        if (!answer)
            return false;
        packet.Name = *answer;
        at += EncodedNameSize;
    }

    // TYPE, CLASS, TTL, RDLENGTH, then the first NB entry.
    if (!ReadTypeAndClass(data, size, at) || size < at + 10)
        return false;
    packet.Ttl = ReadBig32(data, at + 4);
    const std::uint16_t rdLength = ReadBig16(data, at + 8);
    at += 10;
    if (rdLength == 0 || rdLength % NbEntrySize != 0 || (hasQuestion && rdLength != NbEntrySize) ||
        size - at < rdLength)
        return false;
    const std::uint16_t nbFlags = ReadBig16(data, at);
    packet.Group = nbFlags & GroupBit;
    packet.NodeType = (nbFlags >> 13) & 0x03;
    packet.Address = ReadBig32(data, at + 2);
    out = packet;
    return true;
}
