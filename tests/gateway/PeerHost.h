// For tests that play another host on a test network: a UDP socket bound
// to one of its addresses (broadcasts allowed), and the next packet that
// comes to it, waited for a bounded time.
#pragma once

#include "gateway/Network.h"
#include "gateway/codec/NameService.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <vector>

inline UniqueFd Udp(Ipv4 address, std::uint16_t port)
{
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    const int on = 1;
    setsockopt(fd.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = htonl(address);
    EXPECT_EQ(::bind(fd.get(), reinterpret_cast<sockaddr *>(&sa), sizeof sa), 0)
        << FormatIpv4(address) << ":" << port << ": " << std::strerror(errno);
    return fd;
}

// The next packet on `fd` within `ms`; empty when none came.
inline std::vector<std::uint8_t> Next(int fd, int ms = 1500, Endpoint *from = nullptr)
{
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0)
        return {};
    std::vector<std::uint8_t> buf(2048);
    Endpoint e;
    const long n = ReceiveFrom(fd, buf.data(), buf.size(), e);
    buf.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
    if (from)
        *from = e;
    return buf;
}

inline NameServicePacket NextName(int fd, int ms = 1500)
{
    NameServicePacket p;
    const auto bytes = Next(fd, ms);
    EXPECT_TRUE(!bytes.empty() && ParseNameService(bytes.data(), bytes.size(), p)) << "no name packet";
    return p;
}
