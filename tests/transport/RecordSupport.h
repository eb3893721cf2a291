// Identities, receive areas and received records as the record tests state
// them, shared by the transport, presentation and regression tests.
#pragma once

#include "transport/Record.h"

#include <algorithm>
#include <cstring>
#include <string>

// Names longer than a buffer are cut to leave its NUL.
inline LocalIdentity IdentityOf(const std::string &user, const std::string &computer)
{
    LocalIdentity id;
    std::memcpy(id.UserName, user.data(), std::min(user.size(), NameBufferSize - 1));
    std::memcpy(id.ComputerName, computer.data(), std::min(computer.size(), NameBufferSize - 1));
    return id;
}

// The receive area after a read of these bytes into the cleared area.
inline ReceiveArea AreaOf(const std::string &datagram)
{
    ReceiveArea area{};
    std::copy_n(datagram.begin(), std::min(datagram.size(), area.size()), area.begin());
    return area;
}

inline std::string Bytes(const DatagramBlock &block) { return std::string(block.data(), block.size()); }

// The record a receiver takes from a datagram of these bytes.
inline MessageRecord ReceivedRecord(const std::string &datagram) { return FromBlock(AreaOf(datagram)).second; }
