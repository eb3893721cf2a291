// The class-2 mailslot write a datagram carries in its USER_DATA: an
// SMB_COM_TRANSACTION (MS-MAIL 2.2.1, MS-CIFS 2.2.4.33) built as Windows
// sends it and read by the receiver's rules (MS-MAIL 3.2.5.1); and the
// messenger datagram as a whole, a write to \MAILSLOT\MESSNGR, which is the
// only thing the gateway sends or delivers on UDP 138.
// Pure logic; no sockets, no <windows.h>, nothing thrown on bad input.
#pragma once

#include "gateway/codec/Datagram.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

constexpr std::string_view MessengerMailslot = "\\MAILSLOT\\MESSNGR";
constexpr std::size_t MaxSmbSize = 512;               // MS-MAIL <2>
constexpr std::size_t MaxMessengerPayload = 424;      // 512 - 88 (MS-MAIL <2>)

// Where a parsed write's name and data are, relative to the SMB message.
struct MailslotWrite {
    std::string Mailslot; // as sent, e.g. "\MAILSLOT\messngr"
    std::size_t DataOffset = 0;
    std::size_t DataSize = 0;
};

// The SMB message of a write of `size` bytes to `mailslot`, the data
// 4-aligned from the SMB start. Empty when the message would exceed 512
// bytes or the name holds a NUL.
std::vector<std::uint8_t> BuildMailslotWrite(std::string_view mailslot, const std::uint8_t *data, std::size_t size);

// Checks the SMB message `smb` (USER_DATA) by MS-MAIL 3.2.5.1: the "must"
// fields, the name's NUL inside the message, "\MAILSLOT\" and a non-empty
// rest, and the data after the name and inside the message. Fills `out` and
// returns DatagramDrop::None for any well-formed write, whatever the name.
DatagramDrop ParseMailslotWrite(const std::uint8_t *smb, std::size_t size, MailslotWrite &out);

// The datagram of `header` carrying a write of `payload` to \MAILSLOT\MESSNGR.
// Empty when the payload exceeds MaxMessengerPayload.
std::vector<std::uint8_t> BuildMessengerDatagram(const DatagramHeader &header, const std::uint8_t *payload,
                                                 std::size_t size);

// A received messenger datagram: the header and where its payload lies in
// the packet.
struct MessengerDatagram {
    DatagramHeader Header;
    std::size_t PayloadOffset = 0; // from the start of the packet
    std::size_t PayloadSize = 0;
};

// ParseDatagram, then ParseMailslotWrite on its USER_DATA, then the mailslot
// name compared with \MAILSLOT\MESSNGR case-insensitively (MS-MAIL 3.2.1).
// Returns DatagramDrop::None and fills `out` only for a messenger write.
DatagramDrop ParseMessengerDatagram(const std::uint8_t *data, std::size_t size, MessengerDatagram &out);
