// NetBIOS names: the 16-byte name (15 name bytes padded with spaces, then the
// suffix byte), made from a user's text, printed as "ALICE<03>", and its
// first-level encoding in the 34-byte wire form (RFC 1001 14.1, RFC 1002 4.1).
// The gateway is a B-node of the empty scope, so only that wire form exists
// here: a name with a scope belongs to another NetBIOS network.
// Pure logic; no sockets, no <windows.h>, nothing thrown on bad input.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

constexpr std::size_t NetbiosNameSize = 16;
constexpr std::size_t NetbiosNameTextLimit = 15;
constexpr std::size_t EncodedNameSize = 34; // 0x20, 32 letters A..P, 0x00

using EncodedName = std::array<std::uint8_t, EncodedNameSize>;

// Name suffixes the gateway uses (MS-NBTE 1.8).
constexpr std::uint8_t WorkstationSuffix = 0x00;
constexpr std::uint8_t MessengerSuffix = 0x03;

struct NetbiosName {
    std::array<std::uint8_t, NetbiosNameSize> Bytes{};

    std::uint8_t Suffix() const { return Bytes[NetbiosNameSize - 1]; }
    // Byte-exact over all 16 bytes (MS-NBTE 2.2.1); MakeNetbiosName has
    // already upper-cased, which is what makes names case-insensitive.
    friend bool operator==(const NetbiosName &a, const NetbiosName &b) { return a.Bytes == b.Bytes; }
    friend bool operator!=(const NetbiosName &a, const NetbiosName &b) { return !(a == b); }
};

// The name of `text` with `suffix`: ASCII letters upper-cased, padded with
// spaces to 15 bytes (MS-MSRP 3.1.4.6). Nothing when the text is empty,
// longer than 15 bytes, starts with a space, is dots only, or holds a byte
// outside printable ASCII or one of \ / : * ? " < > | (no Windows computer
// name or UNC server name holds them, and only ASCII is portable, MS-NBTE 1.8).
std::optional<NetbiosName> MakeNetbiosName(std::string_view text, std::uint8_t suffix);

// '*' and 15 NULs: the destination of broadcast datagrams (RFC 1001 17.2).
NetbiosName BroadcastName();
bool IsBroadcastName(const NetbiosName &name);

// The first 15 bytes without their trailing padding spaces, e.g. "ALICE".
std::string NameText(const NetbiosName &name);

// "ALICE<03>" for logs and status ("*" for the broadcast name): every byte
// outside printable ASCII, and the backslash, as \xHH, so a forged name
// cannot break a log line.
std::string ToString(const NetbiosName &name);

// The 34-byte wire form: 0x20, the first-level encoding, the empty scope.
EncodedName EncodeName(const NetbiosName &name);

// The name whose wire form starts at data[offset] (its 34 bytes end at
// offset + 34). Nothing when those bytes run past `size`, the length byte is
// not 0x20 (a compression pointer included), a letter lies outside A..P, or
// the terminator is not 0x00 (a scope, or no terminator at all).
std::optional<NetbiosName> DecodeName(const std::uint8_t *data, std::size_t size, std::size_t offset);
