// The NetBIOS datagram service header (RFC 1002 4.4), UDP port 138: direct
// unique, direct group and broadcast datagrams with their source and
// destination names, DATAGRAM ERROR, and the reasons a received datagram is
// dropped. Only whole datagrams: a mailslot write is never fragmented
// (MS-MAIL 3.1.5), so fragments are dropped rather than reassembled.
// Pure logic; no sockets, no <windows.h>, nothing thrown on bad input.
#pragma once

#include "gateway/codec/NetbiosName.h"

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr std::uint16_t DatagramPort = 138;
constexpr std::size_t DatagramHeaderSize = 14;
constexpr std::size_t DatagramErrorSize = 11;

// MSG_TYPE values (RFC 1002 4.4.1).
constexpr std::uint8_t DirectUnique = 0x10;
constexpr std::uint8_t DirectGroup = 0x11;
constexpr std::uint8_t BroadcastDatagram = 0x12;
constexpr std::uint8_t DatagramErrorType = 0x13;

// ERROR_CODE of a DATAGRAM ERROR (RFC 1002 4.4.3).
constexpr std::uint8_t NameNotPresent = 0x82;

// F set, M clear, SNT 0 (B node): an unfragmented datagram of a B-node.
constexpr std::uint8_t FirstFragmentFlags = 0x02;

// The fields of a datagram's header. IPv4 addresses in host order:
// 10.0.0.2 is 0x0A000002.
struct DatagramHeader {
    std::uint8_t Type = DirectUnique;
    std::uint8_t Flags = FirstFragmentFlags; // as received (any SNT)
    std::uint16_t Id = 0;
    std::uint32_t SourceIp = 0;
    std::uint16_t SourcePort = DatagramPort;
    NetbiosName Source, Destination;
};

// Why a received datagram was not delivered; one counter each in the daemon.
enum class DatagramDrop {
    None,             // accepted
    TruncatedHeader,  // shorter than the 14-byte header
    UnknownType,      // MSG_TYPE other than 0x10, 0x11, 0x12
    Fragment,         // M set or PACKET_OFFSET not 0
    LengthPastEnd,    // DGM_LENGTH past the end of the packet, or too short for two names
    BadName,          // a name not in 34-byte empty-scope form (pointer, scope, no terminator)
    TruncatedSmb,     // USER_DATA too short for the transaction's header and setup words
    NotSmb,           // USER_DATA does not start with FF 'S' 'M' 'B'
    WrongCommand,     // not SMB_COM_TRANSACTION (0x25)
    WrongWordCount,   // WordCount not 17
    NotMailslotWrite, // SetupCount not 3 or MailSlotOpcode not 1 (write)
    BadMailslotName,  // no NUL inside the packet, or not \MAILSLOT\ and a non-empty rest
    DataOutside,      // the data not inside the SMB message after the name
    OtherMailslot,    // a well-formed write to another mailslot
};
// For arrays of counters indexed by DatagramDrop.
constexpr std::size_t DatagramDropCount = static_cast<std::size_t>(DatagramDrop::OtherMailslot) + 1;

// A short English phrase for status lines and logs, e.g. "truncated header".
const char *DropText(DatagramDrop drop);

// The header's 14 bytes and both names, then the user data; DGM_LENGTH is
// 68 + size and PACKET_OFFSET 0.
std::vector<std::uint8_t> BuildDatagram(const DatagramHeader &header, const std::uint8_t *userData, std::size_t size);

// Where a parsed datagram's USER_DATA lies in the packet it was parsed from.
struct ParsedDatagram {
    DatagramHeader Header;
    std::size_t UserDataOffset = 0; // from the start of the packet
    std::size_t UserDataSize = 0;
};

// Reads the header and both names of a 0x10, 0x11 or 0x12 datagram; USER_DATA
// is what DGM_LENGTH gives after the names (bytes past it are ignored).
// Returns DatagramDrop::None and fills `out` when the datagram is whole.
DatagramDrop ParseDatagram(const std::uint8_t *data, std::size_t size, ParsedDatagram &out);

// DATAGRAM ERROR (11 bytes): 0x13, FLAGS 0, the id, our address and port, the code.
std::vector<std::uint8_t> BuildDatagramError(std::uint16_t id, std::uint32_t sourceIp, std::uint16_t sourcePort,
                                             std::uint8_t errorCode);
