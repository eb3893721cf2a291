// The gateway's view of the network: which interface it speaks on (address,
// prefix, broadcast, hardware address), owned file descriptors, and sending
// and receiving on UDP sockets. The sockets themselves are opened by
// Sockets.h.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

// An owned file descriptor; closes on destruction.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd &&other) noexcept : fd_(other.release()) {}
    UniqueFd &operator=(UniqueFd &&other) noexcept
    {
        reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd &) = delete;
    UniqueFd &operator=(const UniqueFd &) = delete;
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

// IPv4 addresses in host byte order.
using Ipv4 = std::uint32_t;

struct Endpoint {
    Ipv4 Address = 0;
    std::uint16_t Port = 0;
};

struct Interface {
    std::string Name;
    Ipv4 Address = 0;
    Ipv4 Broadcast = 0;
    int PrefixLength = 0;
    // The Ethernet address; zeros when the interface has none (a tunnel).
    std::array<std::uint8_t, 6> Mac{};
};

// The interface called `wanted`, or the first one that is up, not loopback
// and has an IPv4 address when `wanted` is empty.
bool FindInterface(const std::string &wanted, Interface &out, std::string &error);

// One datagram; false when the kernel refused it (the caller counts it).
bool SendTo(int fd, const Endpoint &to, const std::uint8_t *data, std::size_t size);

// One waiting datagram into buf; -1 when none waits (or on error), else its
// length, cut to capacity (longer ones are reported as capacity + 1).
long ReceiveFrom(int fd, std::uint8_t *buf, std::size_t capacity, Endpoint &from);

// Takes a pending asynchronous error (poll's POLLERR) off the socket, so the
// loop does not wake for it again.
void ClearSocketError(int fd);

std::string FormatIpv4(Ipv4 address);
