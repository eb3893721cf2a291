// The NetBIOS name service packets of a B-node (RFC 1002 4.2), UDP port 137:
// building the seven a B-node sends and parsing the same seven when they
// arrive. Anything else (WACK, refresh, node status, NBNS replies, a
// question for another type or class, a scope) is not parsed: a B-node of
// the empty scope has no use for it.
// Pure logic; no sockets, no <windows.h>, nothing thrown on bad input.
#pragma once

#include "gateway/codec/NetbiosName.h"

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr std::uint16_t NameServicePort = 137;

// Sizes of the built packets (the notes' table): query 50, responses and the
// conflict demand 62, registration, overwrite demand and release 68.
constexpr std::size_t NameQuerySize = 50;
constexpr std::size_t NameResponseSize = 62;
constexpr std::size_t NameRequestWithRecordSize = 68;

// RCODEs of a NEGATIVE NAME REGISTRATION RESPONSE (RFC 1002 4.2.6).
constexpr std::uint8_t ActiveError = 6;   // ACT_ERR: the name is owned by another node
constexpr std::uint8_t ConflictError = 7; // CFT_ERR: only in the NAME CONFLICT DEMAND

enum class NameServiceKind {
    Query,                        // NAME QUERY REQUEST, 4.2.12
    PositiveQueryResponse,        // 4.2.13
    Registration,                 // NAME REGISTRATION REQUEST, 4.2.2 (RD set)
    OverwriteDemand,              // NAME OVERWRITE DEMAND, 4.2.3 (RD clear)
    NegativeRegistrationResponse, // 4.2.6, any RCODE but CFT_ERR
    ConflictDemand,               // NAME CONFLICT DEMAND, 4.2.8 (RCODE CFT_ERR)
    Release,                      // NAME RELEASE REQUEST / DEMAND, 4.2.9
};

// One parsed packet, or the fields of one to build. IPv4 addresses are in
// host order: 10.0.0.2 is 0x0A000002.
struct NameServicePacket {
    NameServiceKind Kind = NameServiceKind::Query;
    std::uint16_t TransactionId = 0;
    std::uint16_t Flags = 0; // as received; the builders set the notes' values
    NetbiosName Name;        // the question's, or the answer record's
    // Of the resource record (all but Query): the first NB entry.
    std::uint32_t Ttl = 0;
    bool Group = false;       // NB_FLAGS G
    std::uint8_t NodeType = 0; // NB_FLAGS ONT: 0 B, 1 P, 2 M, 3 H
    std::uint32_t Address = 0;
    std::uint8_t Rcode = 0;
    bool Broadcast = false; // the B flag of the header
};

// FLAGS 0x0110, the question only: 50 bytes.
std::vector<std::uint8_t> BuildNameQuery(std::uint16_t id, const NetbiosName &name);
// FLAGS 0x8500 (AA, as end nodes answer), one NB entry of node type B: 62 bytes.
std::vector<std::uint8_t> BuildPositiveQueryResponse(std::uint16_t id, const NetbiosName &name, std::uint32_t ttl,
                                                     bool group, std::uint32_t address);
// FLAGS 0x2910 / 0x2810 / 0x3010: the question, then the record whose name is
// the pointer C0 0C to it, TTL 0, node type B: 68 bytes.
std::vector<std::uint8_t> BuildRegistration(std::uint16_t id, const NetbiosName &name, bool group, std::uint32_t address);
std::vector<std::uint8_t> BuildOverwriteDemand(std::uint16_t id, const NetbiosName &name, bool group,
                                               std::uint32_t address);
std::vector<std::uint8_t> BuildRelease(std::uint16_t id, const NetbiosName &name, bool group, std::uint32_t address);
// FLAGS 0xAD86 (RCODE ACT_ERR) with the owner's entry: 62 bytes; the reply
// that defends a name against a registration.
std::vector<std::uint8_t> BuildNegativeRegistrationResponse(std::uint16_t id, const NetbiosName &name,
                                                            std::uint32_t ttl, bool group, std::uint32_t ownerAddress);
// FLAGS 0xAD87 (RCODE CFT_ERR), TTL 0, node type B, address 0: 62 bytes.
std::vector<std::uint8_t> BuildConflictDemand(std::uint16_t id, const NetbiosName &name);

// Builds whichever kind `packet` names from its fields (Flags and Rcode are
// ignored: each kind has its own). For tests and callers that keep packets
// as values.
std::vector<std::uint8_t> BuildNameService(const NameServicePacket &packet);

// Fills `out` and returns true when the bytes are one of the seven kinds:
// the counts of the table, a question of type NB class IN, a record of type
// NB class IN with RDLENGTH a multiple of 6 (6 exactly for requests), names
// in the empty scope; the record of a request may name the question through
// the pointer C0 0C, and if it names it in full it must be the same name.
// AA, TC and RA are not checked (end nodes answer with AA and RA set or
// clear); bytes after the last record are ignored. False for anything else.
bool ParseNameService(const std::uint8_t *data, std::size_t size, NameServicePacket &out);
