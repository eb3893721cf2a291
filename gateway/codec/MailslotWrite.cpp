#include "gateway/codec/MailslotWrite.h"

#include "gateway/codec/WireBytes.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint8_t SmbProtocol[4] = {0xFF, 'S', 'M', 'B'};
constexpr std::uint8_t TransactionCommand = 0x25; // SMB_COM_TRANSACTION
constexpr std::uint8_t TransactionWordCount = 17;
constexpr std::uint8_t MailslotSetupCount = 3;
constexpr std::uint16_t MailslotWriteOpcode = 1;
constexpr std::uint16_t SecondClass = 2;
constexpr std::string_view MailslotPrefix = "\\MAILSLOT\\";

// Offsets from the SMB start (MS-CIFS 2.2.3.1, 2.2.4.33.1).
constexpr std::size_t CommandAt = 4, WordCountAt = 32, DataCountAt = 55, DataOffsetAt = 57, SetupCountAt = 59,
                      OpcodeAt = 61, NameAt = 69;

bool EqualIgnoringCase(std::string_view a, std::string_view b)
{
    const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return upper(x) == upper(y); });
}

} // namespace

std::vector<std::uint8_t> BuildMailslotWrite(std::string_view mailslot, const std::uint8_t *data, std::size_t size)
{
    const std::size_t nameEnd = NameAt + mailslot.size() + 1;
    const std::size_t dataOffset = (nameEnd + 3) / 4 * 4;
    if (mailslot.find('\0') != std::string_view::npos || dataOffset > MaxSmbSize || size > MaxSmbSize - dataOffset)
        return {};
    const auto offset = static_cast<std::uint16_t>(dataOffset), count = static_cast<std::uint16_t>(size);

    // Header and word block as Windows sends them (MS-MAIL 2.2.1, <13>).
    std::vector<std::uint8_t> out(std::begin(SmbProtocol), std::end(SmbProtocol));
    out.push_back(TransactionCommand);
    out.insert(out.end(), 4, 0);      // Status
    out.push_back(0x18);              // Flags: canonicalized paths, case-insensitive
    PutLittle16(out, 0x0004);         // Flags2
    out.insert(out.end(), 14, 0);     // PIDHigh, SecurityFeatures, Reserved, TID
    PutLittle16(out, 0xFEFF);         // PIDLow
    out.insert(out.end(), 4, 0);      // UID, MID
    out.push_back(TransactionWordCount);
    PutLittle16(out, 0);              // TotalParameterCount
    PutLittle16(out, count);          // TotalDataCount
    out.insert(out.end(), 14, 0);     // MaxParameterCount .. Reserved2
    PutLittle16(out, 0);              // ParameterCount
    PutLittle16(out, offset);         // ParameterOffset, as Windows sets it
    PutLittle16(out, count);          // DataCount
    PutLittle16(out, offset);         // DataOffset
    out.push_back(MailslotSetupCount);
    out.push_back(0);                 // Reserved3
    PutLittle16(out, MailslotWriteOpcode);
    PutLittle16(out, 0);              // Priority
    PutLittle16(out, SecondClass);
    PutLittle16(out, static_cast<std::uint16_t>(dataOffset - NameAt + size)); // ByteCount
    out.insert(out.end(), mailslot.begin(), mailslot.end());
    out.resize(dataOffset, 0); // the name's NUL and the padding
    if (size > 0)
        out.insert(out.end(), data, data + size);
    return out;
}

DatagramDrop ParseMailslotWrite(const std::uint8_t *smb, std::size_t size, MailslotWrite &out)
{
    if (size < sizeof SmbProtocol)
        return DatagramDrop::TruncatedSmb;
    if (std::memcmp(smb, SmbProtocol, sizeof SmbProtocol) != 0)
        return DatagramDrop::NotSmb;
    if (size <= WordCountAt)
        return DatagramDrop::TruncatedSmb;
    if (smb[CommandAt] != TransactionCommand)
        return DatagramDrop::WrongCommand;
    if (smb[WordCountAt] != TransactionWordCount)
        return DatagramDrop::WrongWordCount;
    if (size < NameAt)
        return DatagramDrop::TruncatedSmb;
    if (smb[SetupCountAt] != MailslotSetupCount || ReadLittle16(smb, OpcodeAt) != MailslotWriteOpcode)
        return DatagramDrop::NotMailslotWrite;

    const auto *name = reinterpret_cast<const char *>(smb + NameAt);
    const auto *nul = static_cast<const char *>(std::memchr(name, '\0', size - NameAt));
    if (!nul)
        return DatagramDrop::BadMailslotName;
    const std::string_view mailslot(name, static_cast<std::size_t>(nul - name));
    if (mailslot.size() <= MailslotPrefix.size() ||
        !EqualIgnoringCase(mailslot.substr(0, MailslotPrefix.size()), MailslotPrefix))
        return DatagramDrop::BadMailslotName;

    // The data follows the name (MS-CIFS 2.2.4.33.1) and ends inside the message.
    const std::size_t nameEnd = NameAt + mailslot.size() + 1;
    const std::size_t dataOffset = ReadLittle16(smb, DataOffsetAt), dataCount = ReadLittle16(smb, DataCountAt);
    if (dataOffset < nameEnd || dataOffset > size || dataCount > size - dataOffset)
        return DatagramDrop::DataOutside;

    out.Mailslot = std::string(mailslot);
    out.DataOffset = dataOffset;
    out.DataSize = dataCount;
    return DatagramDrop::None;
}

std::vector<std::uint8_t> BuildMessengerDatagram(const DatagramHeader &header, const std::uint8_t *payload,
                                                 std::size_t size)
{
    if (size > MaxMessengerPayload)
        return {};
    const std::vector<std::uint8_t> smb = BuildMailslotWrite(MessengerMailslot, payload, size);
    return BuildDatagram(header, smb.data(), smb.size());
}

DatagramDrop ParseMessengerDatagram(const std::uint8_t *data, std::size_t size, MessengerDatagram &out)
{
    ParsedDatagram datagram;
    if (const DatagramDrop drop = ParseDatagram(data, size, datagram); drop != DatagramDrop::None)
        return drop;
    MailslotWrite write;
    if (const DatagramDrop drop = ParseMailslotWrite(data + datagram.UserDataOffset, datagram.UserDataSize, write);
        drop != DatagramDrop::None)
        return drop;
    if (!EqualIgnoringCase(write.Mailslot, MessengerMailslot))
        return DatagramDrop::OtherMailslot;
    out.Header = datagram.Header;
    out.PayloadOffset = datagram.UserDataOffset + write.DataOffset;
    out.PayloadSize = write.DataSize;
    return DatagramDrop::None;
}
