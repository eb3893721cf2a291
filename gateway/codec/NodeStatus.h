// The RDATA of a NODE STATUS RESPONSE (RFC 1002 4.2.18): the node's name
// table (16 raw bytes and NAME_FLAGS per name) and its statistics, of which
// only the unit ID (the adapter's MAC) is kept; the counters are sent as 0.
// Pure logic; no sockets, no <windows.h>, nothing thrown on bad input.
#pragma once

#include "gateway/codec/NetbiosName.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

// NAME_FLAGS of a node status entry.
constexpr std::uint16_t StatusGroup = 0x8000;
constexpr std::uint16_t StatusConflict = 0x0800; // CNF
constexpr std::uint16_t StatusActive = 0x0400;   // ACT
constexpr std::uint16_t StatusPermanent = 0x0200; // PRM

constexpr std::size_t StatusEntrySize = 18;
constexpr std::size_t StatisticsSize = 46;
constexpr std::size_t StatusNamesLimit = 255; // NUM_NAMES is one byte

using UnitId = std::array<std::uint8_t, 6>;

struct StatusEntry {
    NetbiosName Name;
    std::uint16_t Flags = 0; // G, ONT (bits 13-14), DRG, CNF, ACT, PRM

    friend bool operator==(const StatusEntry &a, const StatusEntry &b)
    {
        return a.Name == b.Name && a.Flags == b.Flags;
    }
};

struct NodeStatus {
    std::vector<StatusEntry> Names; // at most StatusNamesLimit are sent
    UnitId Unit{};
};

// NUM_NAMES, the entries, the 46 bytes of statistics: 1 + 18 N + 46 bytes.
void PutNodeStatus(std::vector<std::uint8_t> &out, const NodeStatus &status);
std::size_t NodeStatusSize(const NodeStatus &status);

// From RDATA of `size` bytes; false unless it holds NUM_NAMES entries and the
// whole statistics block (bytes after it are ignored).
bool ReadNodeStatus(const std::uint8_t *rdata, std::size_t size, NodeStatus &out);
