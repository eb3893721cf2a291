// The NetBIOS name service packets (RFC 1002 4.2), UDP port 137: those of a
// B-node, by broadcast; those of an H-node with a name server (WINS), by
// unicast with B clear; node status. Each is built here and parsed from what
// arrives. Anything else (a question for another type or class, a scope, a
// record of another shape) is not parsed: a node of the empty scope has no
// use for it.
// Pure logic; no sockets, no <windows.h>, nothing thrown on bad input.
#pragma once

#include "gateway/codec/NetbiosName.h"
#include "gateway/codec/NodeStatus.h"

#include <cstddef>
#include <cstdint>
#include <vector>

constexpr std::uint16_t NameServicePort = 137;

// Sizes of the built packets (the notes' table): query 50, responses and the
// conflict demand 62, registration, overwrite demand and release 68; a WACK
// 58, a negative query response 56; a node status response 103 + 18 a name.
constexpr std::size_t NameQuerySize = 50;
constexpr std::size_t NameResponseSize = 62;
constexpr std::size_t NameRequestWithRecordSize = 68;
constexpr std::size_t WackSize = 58;
constexpr std::size_t NegativeQueryResponseSize = 56;
constexpr std::size_t NodeStatusHeadSize = 56; // up to RDATA

// RCODEs (RFC 1002 4.2.6, 4.2.14).
constexpr std::uint8_t NameError = 3;     // NAM_ERR: no such name
constexpr std::uint8_t RefusedError = 5;  // RFS_ERR: the server will not register it
constexpr std::uint8_t ActiveError = 6;   // ACT_ERR: the name is owned by another node
constexpr std::uint8_t ConflictError = 7; // CFT_ERR: only in the NAME CONFLICT DEMAND

// NB_FLAGS ONT: B without a name server; H with one, as Microsoft uses the
// value the RFC reserves.
constexpr std::uint8_t BNodeType = 0;
constexpr std::uint8_t HNodeType = 3;

enum class NameServiceKind {
    Query,                        // NAME QUERY REQUEST, 4.2.12 (B set or clear)
    PositiveQueryResponse,        // 4.2.13
    NegativeQueryResponse,        // 4.2.14 (a name server's; RR of type NULL or NB)
    NodeStatusRequest,            // 4.2.17
    NodeStatusResponse,           // 4.2.18
    Registration,                 // NAME REGISTRATION REQUEST, 4.2.2 (RD set)
    OverwriteDemand,              // NAME OVERWRITE DEMAND, 4.2.3 (RD clear)
    Refresh,                      // NAME REFRESH REQUEST, 4.2.4 (OPCODE 8, or Microsoft's 9)
    PositiveRegistrationResponse, // 4.2.5, also to a refresh
    NegativeRegistrationResponse, // 4.2.6, any RCODE but CFT_ERR; also to a refresh
    ConflictDemand,               // NAME CONFLICT DEMAND, 4.2.8 (RCODE CFT_ERR, whatever the OPCODE)
    Release,                      // NAME RELEASE REQUEST / DEMAND, 4.2.9
    ReleaseResponse,              // 4.2.10-11, positive or negative by RCODE
    Wack,                         // WAIT FOR ACKNOWLEDGEMENT RESPONSE, 4.2.16
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
    bool Broadcast = false;        // the B flag of the header
    std::uint16_t RequestFlags = 0; // WACK: the OPCODE and NM_FLAGS it answers
    NodeStatus Status;              // NodeStatusResponse
};

// A B-node's packets, by broadcast (B set), and its answers.
// FLAGS 0x0110, the question only: 50 bytes.
std::vector<std::uint8_t> BuildNameQuery(std::uint16_t id, const NetbiosName &name);
// FLAGS 0x8500 (AA, as end nodes answer), one NB entry: 62 bytes.
std::vector<std::uint8_t> BuildPositiveQueryResponse(std::uint16_t id, const NetbiosName &name, std::uint32_t ttl,
                                                     bool group, std::uint32_t address,
                                                     std::uint8_t nodeType = BNodeType);
// FLAGS 0x2910 / 0x2810 / 0x3010: the question, then the record whose name is
// the pointer C0 0C to it, TTL 0: 68 bytes.
std::vector<std::uint8_t> BuildRegistration(std::uint16_t id, const NetbiosName &name, bool group, std::uint32_t address,
                                            std::uint8_t nodeType = BNodeType);
std::vector<std::uint8_t> BuildOverwriteDemand(std::uint16_t id, const NetbiosName &name, bool group,
                                               std::uint32_t address, std::uint8_t nodeType = BNodeType);
std::vector<std::uint8_t> BuildRelease(std::uint16_t id, const NetbiosName &name, bool group, std::uint32_t address,
                                       std::uint8_t nodeType = BNodeType);
// FLAGS 0xAD86 (RCODE ACT_ERR) with the owner's entry: 62 bytes; the reply
// that defends a name against a registration.
std::vector<std::uint8_t> BuildNegativeRegistrationResponse(std::uint16_t id, const NetbiosName &name,
                                                            std::uint32_t ttl, bool group, std::uint32_t ownerAddress,
                                                            std::uint8_t nodeType = BNodeType);
// FLAGS 0xAD87 (RCODE CFT_ERR), TTL 0, node type B, address 0: 62 bytes.
std::vector<std::uint8_t> BuildConflictDemand(std::uint16_t id, const NetbiosName &name);

// Requests to a name server: unicast, B clear. Query FLAGS 0x0100 (RD): 50
// bytes; registration 0x2900, refresh 0x4100 (OPCODE 8, RD), release 0x3000,
// each with the TTL asked for: 68 bytes.
std::vector<std::uint8_t> BuildServerQuery(std::uint16_t id, const NetbiosName &name);
std::vector<std::uint8_t> BuildServerRegistration(std::uint16_t id, const NetbiosName &name, bool group,
                                                  std::uint8_t nodeType, std::uint32_t address, std::uint32_t ttl);
std::vector<std::uint8_t> BuildRefresh(std::uint16_t id, const NetbiosName &name, bool group, std::uint8_t nodeType,
                                       std::uint32_t address, std::uint32_t ttl);
std::vector<std::uint8_t> BuildServerRelease(std::uint16_t id, const NetbiosName &name, bool group,
                                             std::uint8_t nodeType, std::uint32_t address);

// A name server's answers. Positive registration FLAGS 0xAD80 with the TTL
// granted: 62 bytes. WACK 0xBC00, TTL = seconds to wait, RDATA the request's
// FLAGS: 58 bytes. Negative query 0x8583 (NAM_ERR), a record of type NULL
// without data: 56 bytes. Release 0xB400 | rcode with the entry: 62 bytes.
std::vector<std::uint8_t> BuildPositiveRegistrationResponse(std::uint16_t id, const NetbiosName &name,
                                                            std::uint32_t ttl, bool group, std::uint8_t nodeType,
                                                            std::uint32_t address);
std::vector<std::uint8_t> BuildWack(std::uint16_t id, const NetbiosName &name, std::uint32_t ttl,
                                    std::uint16_t requestFlags);
std::vector<std::uint8_t> BuildNegativeQueryResponse(std::uint16_t id, const NetbiosName &name);
std::vector<std::uint8_t> BuildReleaseResponse(std::uint16_t id, const NetbiosName &name, bool group,
                                               std::uint8_t nodeType, std::uint32_t address, std::uint8_t rcode);

// Node status: the request FLAGS 0x0000 (unicast, no RD), question of type
// NBSTAT: 50 bytes; the response 0x8400, TTL 0, the name table and the
// statistics: 103 + 18 bytes a name.
std::vector<std::uint8_t> BuildNodeStatusRequest(std::uint16_t id, const NetbiosName &name);
std::vector<std::uint8_t> BuildNodeStatusResponse(std::uint16_t id, const NetbiosName &name, const NodeStatus &status);

// Builds whichever kind `packet` names from its fields: B from Broadcast,
// the TTL, NB_FLAGS from Group and NodeType, RCODE of negative answers from
// Rcode (its kind's usual one when 0), WACK's RequestFlags, node status's
// Status. The rest of FLAGS is each kind's own.
std::vector<std::uint8_t> BuildNameService(const NameServicePacket &packet);

// Fills `out` and returns true when the bytes are one of the kinds: counts
// that fit it, a question of type NB (NBSTAT for node status) class IN,
// records of class IN with an NB type and RDLENGTH a multiple of 6 (6 exactly
// for requests), names in the empty scope; the record of a request may name
// the question through the pointer C0 0C, and if it names it in full it must
// be the same name. A WACK's or a negative query response's record may be of
// type NULL, as Samba's nmbd sends them; a node status response must hold its
// names and the whole statistics block. AA, TC and RA are not checked; bytes
// after the last record are ignored. False for anything else.
bool ParseNameService(const std::uint8_t *data, std::size_t size, NameServicePacket &out);
