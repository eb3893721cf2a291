#include "gateway/codec/Datagram.h"

#include "gateway/codec/WireBytes.h"

namespace {

constexpr std::uint8_t MoreFragments = 0x01;
constexpr std::size_t NamesSize = 2 * EncodedNameSize;

void PutName(std::vector<std::uint8_t> &out, const NetbiosName &name)
{
    const EncodedName wire = EncodeName(name);
    out.insert(out.end(), wire.begin(), wire.end());
}

} // namespace

const char *DropText(DatagramDrop drop)
{
    switch (drop) {
    case DatagramDrop::None: return "accepted";
    case DatagramDrop::TruncatedHeader: return "truncated header";
    case DatagramDrop::UnknownType: return "not a direct or broadcast datagram";
    case DatagramDrop::Fragment: return "fragment";
    case DatagramDrop::LengthPastEnd: return "length past the end";
    case DatagramDrop::BadName: return "malformed name";
    case DatagramDrop::TruncatedSmb: return "truncated SMB header";
    case DatagramDrop::NotSmb: return "not SMB";
    case DatagramDrop::WrongCommand: return "not an SMB transaction";
    case DatagramDrop::WrongWordCount: return "wrong SMB word count";
    case DatagramDrop::NotMailslotWrite: return "not a mailslot write";
    case DatagramDrop::BadMailslotName: return "malformed mailslot name";
    case DatagramDrop::DataOutside: return "data outside the message";
    case DatagramDrop::OtherMailslot: return "another mailslot";
    }
    return "unknown";
}

std::vector<std::uint8_t> BuildDatagram(const DatagramHeader &header, const std::uint8_t *userData, std::size_t size)
{
    if (size > 0xFFFF - NamesSize)
        return {};
    std::vector<std::uint8_t> out;
    out.reserve(DatagramHeaderSize + NamesSize + size);
    out.push_back(header.Type);
    out.push_back(header.Flags);
    PutBig16(out, header.Id);
    PutBig32(out, header.SourceIp);
    PutBig16(out, header.SourcePort);
    PutBig16(out, static_cast<std::uint16_t>(NamesSize + size));
    PutBig16(out, 0); // PACKET_OFFSET
    PutName(out, header.Source);
    PutName(out, header.Destination);
    if (size > 0)
        out.insert(out.end(), userData, userData + size);
    return out;
}

DatagramDrop ParseDatagram(const std::uint8_t *data, std::size_t size, ParsedDatagram &out)
{
    if (size == 0)
        return DatagramDrop::TruncatedHeader;
    ParsedDatagram parsed;
    DatagramHeader &h = parsed.Header;
    h.Type = data[0];
    if (h.Type != DirectUnique && h.Type != DirectGroup && h.Type != BroadcastDatagram)
        return DatagramDrop::UnknownType;
    if (size < DatagramHeaderSize)
        return DatagramDrop::TruncatedHeader;
    h.Flags = data[1];
    h.Id = ReadBig16(data, 2);
    h.SourceIp = ReadBig32(data, 4);
    h.SourcePort = ReadBig16(data, 8);
    const std::size_t length = ReadBig16(data, 10);
    if ((h.Flags & MoreFragments) || ReadBig16(data, 12) != 0)
        return DatagramDrop::Fragment;
    if (length < NamesSize || length > size - DatagramHeaderSize)
        return DatagramDrop::LengthPastEnd;
    const std::optional<NetbiosName> source = DecodeName(data, size, DatagramHeaderSize);
    const std::optional<NetbiosName> destination = DecodeName(data, size, DatagramHeaderSize + EncodedNameSize);
    if (!source || !destination)
        return DatagramDrop::BadName;
    h.Source = *source;
    h.Destination = *destination;
    parsed.UserDataOffset = DatagramHeaderSize + NamesSize;
    parsed.UserDataSize = length - NamesSize;
    out = parsed;
    return DatagramDrop::None;
}

std::vector<std::uint8_t> BuildDatagramError(std::uint16_t id, std::uint32_t sourceIp, std::uint16_t sourcePort,
                                             std::uint8_t errorCode)
{
    std::vector<std::uint8_t> out{DatagramErrorType, 0x00};
    PutBig16(out, id);
    PutBig32(out, sourceIp);
    PutBig16(out, sourcePort);
    out.push_back(errorCode);
    return out;
}
