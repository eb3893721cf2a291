#include "gateway/codec/NameService.h"

#include "gateway/codec/WireBytes.h"

namespace {

constexpr std::size_t HeaderSize = 12;
constexpr std::uint16_t TypeNull = 0x000A;
constexpr std::uint16_t TypeNb = 0x0020;
constexpr std::uint16_t TypeNbStat = 0x0021;
constexpr std::uint16_t ClassIn = 0x0001;
constexpr std::uint16_t NbEntrySize = 6;
constexpr std::uint16_t WackDataSize = 2;
// The record of a request names the question at offset 12 (RFC 1002 4.2.2).
constexpr std::uint8_t QuestionPointer[2] = {0xC0, 0x0C};

constexpr std::uint16_t ResponseBit = 0x8000;
constexpr std::uint16_t RecursionDesired = 0x0100;
constexpr std::uint16_t BroadcastBit = 0x0010;
constexpr std::uint16_t GroupBit = 0x8000;

enum Opcode : std::uint8_t {
    OpQuery = 0, OpRegistration = 5, OpRelease = 6, OpWack = 7, OpRefresh = 8, OpRefreshMicrosoft = 9
};

struct Counts {
    std::uint16_t Questions, Answers, Authority, Additional;
    bool operator==(const Counts &o) const
    {
        return Questions == o.Questions && Answers == o.Answers && Authority == o.Authority &&
               Additional == o.Additional;
    }
};

constexpr Counts QuestionOnly{1, 0, 0, 0}, AnswerOnly{0, 1, 0, 0}, QuestionAndRecord{1, 0, 0, 1}, NoCounts{0, 0, 0, 0};

// What follows the header.
enum class Body { Question, QuestionAndRecord, Answer };

Body BodyOf(NameServiceKind kind)
{
    switch (kind) {
    case NameServiceKind::Query:
    case NameServiceKind::NodeStatusRequest: return Body::Question;
    case NameServiceKind::Registration:
    case NameServiceKind::OverwriteDemand:
    case NameServiceKind::Refresh:
    case NameServiceKind::Release: return Body::QuestionAndRecord;
    default: return Body::Answer;
    }
}

std::uint16_t NbFlags(bool group, std::uint8_t nodeType)
{
    return static_cast<std::uint16_t>((group ? GroupBit : 0) | (nodeType & 0x03) << 13);
}

// FLAGS of each kind as built; B and RCODE are added by the caller.
std::uint16_t FlagsOf(NameServiceKind kind)
{
    switch (kind) {
    case NameServiceKind::Query: return 0x0100;
    case NameServiceKind::PositiveQueryResponse: return 0x8500;
    case NameServiceKind::NegativeQueryResponse: return 0x8580;
    case NameServiceKind::NodeStatusRequest: return 0x0000;
    case NameServiceKind::NodeStatusResponse: return 0x8400;
    case NameServiceKind::Registration: return 0x2900;
    case NameServiceKind::OverwriteDemand: return 0x2800;
    case NameServiceKind::Refresh: return 0x4100;
    case NameServiceKind::PositiveRegistrationResponse:
    case NameServiceKind::NegativeRegistrationResponse:
    case NameServiceKind::ConflictDemand: return 0xAD80;
    case NameServiceKind::Release: return 0x3000;
    case NameServiceKind::ReleaseResponse: return 0xB400;
    case NameServiceKind::Wack: return 0xBC00;
    }
    return 0;
}

std::uint8_t RcodeOf(const NameServicePacket &p)
{
    switch (p.Kind) {
    case NameServiceKind::NegativeQueryResponse: return p.Rcode ? p.Rcode : NameError;
    case NameServiceKind::NegativeRegistrationResponse: return p.Rcode ? p.Rcode : ActiveError;
    case NameServiceKind::ConflictDemand: return ConflictError;
    case NameServiceKind::ReleaseResponse: return p.Rcode;
    default: return 0;
    }
}

void PutName(std::vector<std::uint8_t> &out, const NetbiosName &name)
{
    const EncodedName wire = EncodeName(name);
    out.insert(out.end(), wire.begin(), wire.end());
}

void PutTypeAndClass(std::vector<std::uint8_t> &out, std::uint16_t type)
{
    PutBig16(out, type);
    PutBig16(out, ClassIn);
}

// TYPE, CLASS, TTL, RDLENGTH and the RDATA of the kind.
void PutRecordTail(std::vector<std::uint8_t> &out, const NameServicePacket &p)
{
    switch (p.Kind) {
    case NameServiceKind::NegativeQueryResponse:
        PutTypeAndClass(out, TypeNull);
        PutBig32(out, 0);
        PutBig16(out, 0);
        return;
    case NameServiceKind::Wack:
        PutTypeAndClass(out, TypeNb);
        PutBig32(out, p.Ttl);
        PutBig16(out, WackDataSize);
        PutBig16(out, p.RequestFlags);
        return;
    case NameServiceKind::NodeStatusResponse:
        PutTypeAndClass(out, TypeNbStat);
        PutBig32(out, 0);
        PutBig16(out, static_cast<std::uint16_t>(NodeStatusSize(p.Status)));
        PutNodeStatus(out, p.Status);
        return;
    case NameServiceKind::ConflictDemand:
        PutTypeAndClass(out, TypeNb);
        PutBig32(out, 0);
        PutBig16(out, NbEntrySize);
        PutBig16(out, 0);
        PutBig32(out, 0);
        return;
    default:
        PutTypeAndClass(out, TypeNb);
        PutBig32(out, p.Ttl);
        PutBig16(out, NbEntrySize);
        PutBig16(out, NbFlags(p.Group, p.NodeType));
        PutBig32(out, p.Address);
        return;
    }
}

NameServicePacket Fields(NameServiceKind kind, std::uint16_t id, const NetbiosName &name, std::uint32_t ttl = 0,
                         bool group = false, std::uint8_t nodeType = BNodeType, std::uint32_t address = 0)
{
    NameServicePacket p;
    p.Kind = kind;
    p.TransactionId = id;
    p.Name = name;
    p.Ttl = ttl;
    p.Group = group;
    p.NodeType = nodeType;
    p.Address = address;
    return p;
}

NameServicePacket Broadcast(NameServicePacket p)
{
    p.Broadcast = true;
    return p;
}

bool Classify(std::uint16_t flags, Counts counts, NameServiceKind &kind)
{
    const bool response = flags & ResponseBit;
    const std::uint8_t opcode = (flags >> 11) & 0x0F, rcode = flags & 0x0F;
    const bool registrationAnswer = opcode == OpRegistration || opcode == OpRefresh || opcode == OpRefreshMicrosoft;
    if (!response && opcode == OpQuery && counts == QuestionOnly)
        kind = NameServiceKind::Query; // or node status, by the question's type
    else if (response && opcode == OpQuery && rcode == 0 && counts == AnswerOnly)
        kind = NameServiceKind::PositiveQueryResponse; // or node status, by the record's type
    else if (response && opcode == OpQuery && rcode != 0 && (counts == AnswerOnly || counts == NoCounts))
        kind = NameServiceKind::NegativeQueryResponse;
    else if (!response && opcode == OpRegistration && counts == QuestionAndRecord)
        kind = flags & RecursionDesired ? NameServiceKind::Registration : NameServiceKind::OverwriteDemand;
    else if (!response && (opcode == OpRefresh || opcode == OpRefreshMicrosoft) && counts == QuestionAndRecord)
        kind = NameServiceKind::Refresh;
    else if (response && registrationAnswer && counts == AnswerOnly)
        kind = rcode == 0               ? NameServiceKind::PositiveRegistrationResponse
               : rcode == ConflictError ? NameServiceKind::ConflictDemand
                                        : NameServiceKind::NegativeRegistrationResponse;
    else if (!response && opcode == OpRelease && counts == QuestionAndRecord)
        kind = NameServiceKind::Release;
    else if (response && opcode == OpRelease && counts == AnswerOnly)
        kind = NameServiceKind::ReleaseResponse;
    else if (response && opcode == OpWack && counts == AnswerOnly)
        kind = NameServiceKind::Wack;
    else
        return false;
    return true;
}

// The question's TYPE when CLASS is IN, else 0.
std::uint16_t QuestionType(const std::uint8_t *data, std::size_t size, std::size_t at)
{
    return size >= at + 4 && ReadBig16(data, at + 2) == ClassIn ? ReadBig16(data, at) : 0;
}

// The record from `at` (its name already read): TYPE, CLASS, TTL, RDLENGTH
// and the RDATA each kind allows.
bool ReadRecord(const std::uint8_t *data, std::size_t size, std::size_t at, bool request, NameServicePacket &p)
{
    if (size < at + 10 || ReadBig16(data, at + 2) != ClassIn)
        return false;
    const std::uint16_t type = ReadBig16(data, at);
    p.Ttl = ReadBig32(data, at + 4);
    const std::uint16_t rdLength = ReadBig16(data, at + 8);
    const std::uint8_t *rdata = data + at + 10;
    if (size - at - 10 < rdLength)
        return false;
    if (p.Kind == NameServiceKind::PositiveQueryResponse && type == TypeNbStat) {
        p.Kind = NameServiceKind::NodeStatusResponse;
        return ReadNodeStatus(rdata, rdLength, p.Status);
    }
    if (p.Kind == NameServiceKind::NegativeQueryResponse)
        return type == TypeNb || type == TypeNull;
    if (p.Kind == NameServiceKind::Wack) {
        if ((type != TypeNb && type != TypeNull) || rdLength != WackDataSize)
            return false;
        p.RequestFlags = ReadBig16(rdata, 0);
        return true;
    }
    if (type != TypeNb || rdLength == 0 || rdLength % NbEntrySize != 0 || (request && rdLength != NbEntrySize))
        return false;
    const std::uint16_t nbFlags = ReadBig16(rdata, 0);
    p.Group = nbFlags & GroupBit;
    p.NodeType = (nbFlags >> 13) & 0x03;
    p.Address = ReadBig32(rdata, 2);
    return true;
}

} // namespace

std::vector<std::uint8_t> BuildNameService(const NameServicePacket &p)
{
    std::vector<std::uint8_t> out;
    const Body body = BodyOf(p.Kind);
    const Counts counts = body == Body::Question ? QuestionOnly
                          : body == Body::QuestionAndRecord ? QuestionAndRecord
                                                            : AnswerOnly;
    const std::uint16_t flags = FlagsOf(p.Kind) | (p.Broadcast ? BroadcastBit : 0) | RcodeOf(p);
    out.reserve(NameRequestWithRecordSize);
    for (std::uint16_t field :
         {p.TransactionId, flags, counts.Questions, counts.Answers, counts.Authority, counts.Additional})
        PutBig16(out, field);
    PutName(out, p.Name);
    if (body == Body::Question) {
        PutTypeAndClass(out, p.Kind == NameServiceKind::NodeStatusRequest ? TypeNbStat : TypeNb);
    } else if (body == Body::QuestionAndRecord) {
        PutTypeAndClass(out, TypeNb);
        out.insert(out.end(), std::begin(QuestionPointer), std::end(QuestionPointer));
        PutRecordTail(out, p);
    } else {
        PutRecordTail(out, p);
    }
    return out;
}

std::vector<std::uint8_t> BuildNameQuery(std::uint16_t id, const NetbiosName &name)
{
    return BuildNameService(Broadcast(Fields(NameServiceKind::Query, id, name)));
}

std::vector<std::uint8_t> BuildPositiveQueryResponse(std::uint16_t id, const NetbiosName &name, std::uint32_t ttl,
                                                     bool group, std::uint32_t address, std::uint8_t nodeType)
{
    return BuildNameService(Fields(NameServiceKind::PositiveQueryResponse, id, name, ttl, group, nodeType, address));
}

std::vector<std::uint8_t> BuildRegistration(std::uint16_t id, const NetbiosName &name, bool group,
                                            std::uint32_t address, std::uint8_t nodeType)
{
    return BuildNameService(Broadcast(Fields(NameServiceKind::Registration, id, name, 0, group, nodeType, address)));
}

std::vector<std::uint8_t> BuildOverwriteDemand(std::uint16_t id, const NetbiosName &name, bool group,
                                               std::uint32_t address, std::uint8_t nodeType)
{
    return BuildNameService(
        Broadcast(Fields(NameServiceKind::OverwriteDemand, id, name, 0, group, nodeType, address)));
}

std::vector<std::uint8_t> BuildRelease(std::uint16_t id, const NetbiosName &name, bool group, std::uint32_t address,
                                       std::uint8_t nodeType)
{
    return BuildNameService(Broadcast(Fields(NameServiceKind::Release, id, name, 0, group, nodeType, address)));
}

std::vector<std::uint8_t> BuildNegativeRegistrationResponse(std::uint16_t id, const NetbiosName &name,
                                                            std::uint32_t ttl, bool group, std::uint32_t ownerAddress,
                                                            std::uint8_t nodeType)
{
    return BuildNameService(
        Fields(NameServiceKind::NegativeRegistrationResponse, id, name, ttl, group, nodeType, ownerAddress));
}

std::vector<std::uint8_t> BuildConflictDemand(std::uint16_t id, const NetbiosName &name)
{
    return BuildNameService(Fields(NameServiceKind::ConflictDemand, id, name));
}

std::vector<std::uint8_t> BuildServerQuery(std::uint16_t id, const NetbiosName &name)
{
    return BuildNameService(Fields(NameServiceKind::Query, id, name));
}

std::vector<std::uint8_t> BuildServerRegistration(std::uint16_t id, const NetbiosName &name, bool group,
                                                  std::uint8_t nodeType, std::uint32_t address, std::uint32_t ttl)
{
    return BuildNameService(Fields(NameServiceKind::Registration, id, name, ttl, group, nodeType, address));
}

std::vector<std::uint8_t> BuildRefresh(std::uint16_t id, const NetbiosName &name, bool group, std::uint8_t nodeType,
                                       std::uint32_t address, std::uint32_t ttl)
{
    return BuildNameService(Fields(NameServiceKind::Refresh, id, name, ttl, group, nodeType, address));
}

std::vector<std::uint8_t> BuildServerRelease(std::uint16_t id, const NetbiosName &name, bool group,
                                             std::uint8_t nodeType, std::uint32_t address)
{
    return BuildNameService(Fields(NameServiceKind::Release, id, name, 0, group, nodeType, address));
}

std::vector<std::uint8_t> BuildPositiveRegistrationResponse(std::uint16_t id, const NetbiosName &name,
                                                            std::uint32_t ttl, bool group, std::uint8_t nodeType,
                                                            std::uint32_t address)
{
    return BuildNameService(
        Fields(NameServiceKind::PositiveRegistrationResponse, id, name, ttl, group, nodeType, address));
}

std::vector<std::uint8_t> BuildWack(std::uint16_t id, const NetbiosName &name, std::uint32_t ttl,
                                    std::uint16_t requestFlags)
{
    NameServicePacket p = Fields(NameServiceKind::Wack, id, name, ttl);
    p.RequestFlags = requestFlags;
    return BuildNameService(p);
}

std::vector<std::uint8_t> BuildNegativeQueryResponse(std::uint16_t id, const NetbiosName &name)
{
    return BuildNameService(Fields(NameServiceKind::NegativeQueryResponse, id, name));
}

std::vector<std::uint8_t> BuildReleaseResponse(std::uint16_t id, const NetbiosName &name, bool group,
                                               std::uint8_t nodeType, std::uint32_t address, std::uint8_t rcode)
{
    NameServicePacket p = Fields(NameServiceKind::ReleaseResponse, id, name, 0, group, nodeType, address);
    p.Rcode = rcode & 0x0F;
    return BuildNameService(p);
}

std::vector<std::uint8_t> BuildNodeStatusRequest(std::uint16_t id, const NetbiosName &name)
{
    return BuildNameService(Fields(NameServiceKind::NodeStatusRequest, id, name));
}

std::vector<std::uint8_t> BuildNodeStatusResponse(std::uint16_t id, const NetbiosName &name, const NodeStatus &status)
{
    NameServicePacket p = Fields(NameServiceKind::NodeStatusResponse, id, name);
    p.Status = status;
    return BuildNameService(p);
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

    const std::optional<NetbiosName> first = DecodeName(data, size, HeaderSize);
    if (!first)
        return false;
    packet.Name = *first;
    std::size_t at = HeaderSize + EncodedNameSize;
    const Body body = BodyOf(packet.Kind);
    if (body != Body::Answer) {
        const std::uint16_t type = QuestionType(data, size, at);
        at += 4;
        if (body == Body::Question) {
            if (type == TypeNbStat)
                packet.Kind = NameServiceKind::NodeStatusRequest;
            else if (type != TypeNb)
                return false;
            out = packet;
            return true;
        }
        if (type != TypeNb)
            return false;
        if (size >= at + 2 && data[at] == QuestionPointer[0] && data[at + 1] == QuestionPointer[1]) {
            at += 2;
        } else {
            const std::optional<NetbiosName> named = DecodeName(data, size, at);
            if (!named || *named != packet.Name)
                return false;
            at += EncodedNameSize;
        }
    }
    if (!ReadRecord(data, size, at, body == Body::QuestionAndRecord, packet))
        return false;
    out = std::move(packet);
    return true;
}
