// Fuzz target: what anyone on the subnet can send to UDP 138. The input is
// read as a datagram and, on its own, as the SMB message of a mailslot
// write. An accepted datagram re-encodes to the bytes it came in; an
// accepted write keeps its name and data inside the message, after the
// name, and rebuilds to a write with the same name and data; a delivered
// messenger datagram passes the receiver's "must" checks (MS-MAIL 3.2.5.1,
// checked here apart from the parser) and its payload lies in the packet.
#include "gateway/codec/MailslotWrite.h"

#include "FuzzCheck.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>

namespace {

bool SameIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::toupper(static_cast<unsigned char>(x)) == std::toupper(static_cast<unsigned char>(y));
           });
}

void CheckDatagram(const std::uint8_t *data, std::size_t size)
{
    ParsedDatagram parsed;
    if (ParseDatagram(data, size, parsed) != DatagramDrop::None)
        return;
    const std::size_t length = data[10] << 8 | data[11];
    Require(parsed.UserDataOffset == 82 && parsed.UserDataSize + 68 == length, "USER_DATA is what DGM_LENGTH gives");
    Require(parsed.UserDataOffset + parsed.UserDataSize <= size, "USER_DATA lies within the packet");
    const std::vector<std::uint8_t> built = BuildDatagram(parsed.Header, data + 82, parsed.UserDataSize);
    Require(built.size() == 82 + parsed.UserDataSize && std::equal(built.begin(), built.end(), data),
            "an accepted datagram re-encodes to the same bytes");
}

void CheckMailslotWrite(const std::uint8_t *smb, std::size_t size)
{
    MailslotWrite write;
    if (ParseMailslotWrite(smb, size, write) != DatagramDrop::None)
        return;
    Require(size >= 69 && std::memcmp(smb, "\xFFSMB", 4) == 0 && smb[4] == 0x25 && smb[32] == 17 && smb[59] == 3 &&
                smb[61] == 1 && smb[62] == 0,
            "an accepted write has the must fields");
    Require(write.Mailslot.size() > 10 && SameIgnoringCase(write.Mailslot.substr(0, 10), "\\MAILSLOT\\"),
            "the name is \\MAILSLOT\\ and more");
    Require(write.Mailslot.find('\0') == std::string::npos &&
                std::memcmp(smb + 69, write.Mailslot.data(), write.Mailslot.size()) == 0 &&
                smb[69 + write.Mailslot.size()] == 0,
            "the name is the bytes at 69 up to a NUL inside the message");
    Require(write.DataOffset >= 70 + write.Mailslot.size() && write.DataOffset + write.DataSize <= size,
            "the data lies after the name and inside the message");

    const std::vector<std::uint8_t> built = BuildMailslotWrite(write.Mailslot, smb + write.DataOffset, write.DataSize);
    if (built.empty()) {
        Require(write.DataSize + ((70 + write.Mailslot.size() + 3) / 4 * 4) > MaxSmbSize, "only an oversized write is refused");
        return;
    }
    MailslotWrite again;
    Require(ParseMailslotWrite(built.data(), built.size(), again) == DatagramDrop::None, "a rebuilt write parses");
    Require(again.Mailslot == write.Mailslot && again.DataSize == write.DataSize &&
                std::equal(built.begin() + again.DataOffset, built.end(), smb + write.DataOffset),
            "a rebuilt write keeps name and data");
    Require(again.DataOffset % 4 == 0 && built.size() == again.DataOffset + again.DataSize, "a built write is aligned and exact");
}

void CheckMessenger(const std::uint8_t *data, std::size_t size)
{
    MessengerDatagram messenger;
    const DatagramDrop drop = ParseMessengerDatagram(data, size, messenger);
    ParsedDatagram datagram;
    const DatagramDrop outer = ParseDatagram(data, size, datagram);
    if (outer != DatagramDrop::None)
        Require(drop == outer, "a broken datagram is dropped for its header's reason");
    if (drop != DatagramDrop::None)
        return;
    Require(messenger.PayloadOffset >= 82 + 87 &&
                messenger.PayloadOffset + messenger.PayloadSize <= datagram.UserDataOffset + datagram.UserDataSize,
            "the payload lies after the mailslot name and within USER_DATA");
    Require(SameIgnoringCase(std::string_view(reinterpret_cast<const char *>(data) + 82 + 69, 18),
                             std::string_view("\\MAILSLOT\\MESSNGR\0", 18)),
            "only \\MAILSLOT\\MESSNGR is delivered");
    if (messenger.PayloadSize > MaxMessengerPayload)
        return;
    const std::vector<std::uint8_t> built =
        BuildMessengerDatagram(messenger.Header, data + messenger.PayloadOffset, messenger.PayloadSize);
    MessengerDatagram again;
    Require(ParseMessengerDatagram(built.data(), built.size(), again) == DatagramDrop::None, "a rebuilt datagram is delivered");
    Require(again.PayloadSize == messenger.PayloadSize &&
                std::equal(built.begin() + again.PayloadOffset, built.end(), data + messenger.PayloadOffset) &&
                again.Header.Source == messenger.Header.Source && again.Header.Destination == messenger.Header.Destination &&
                again.Header.SourceIp == messenger.Header.SourceIp && again.Header.Id == messenger.Header.Id,
            "a rebuilt datagram keeps header and payload");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    CheckDatagram(data, size);
    CheckMailslotWrite(data, size);
    CheckMessenger(data, size);
    return 0;
}
