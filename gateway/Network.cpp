#include "gateway/Network.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

void UniqueFd::reset(int fd)
{
    const int old = std::exchange(fd_, fd);
    if (old >= 0)
        ::close(old);
}

namespace {

int PrefixOf(Ipv4 mask)
{
    int bits = 0;
    while (mask & 0x80000000u) {
        ++bits;
        mask <<= 1;
    }
    return bits;
}

Ipv4 HostOrder(const sockaddr *sa)
{
    return ntohl(reinterpret_cast<const sockaddr_in *>(sa)->sin_addr.s_addr);
}

} // namespace

bool FindInterface(const std::string &wanted, Interface &out, std::string &error)
{
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0) {
        error = std::string("cannot list the network interfaces: ") + std::strerror(errno);
        return false;
    }
    bool nameSeen = false;
    bool found = false;
    for (const ifaddrs *ifa = list; ifa && !found; ifa = ifa->ifa_next) {
        if (!wanted.empty() && wanted != ifa->ifa_name)
            continue;
        nameSeen = true;
        if (!ifa->ifa_addr || ifa->ifa_addr->sa_family != AF_INET || !ifa->ifa_netmask)
            continue;
        if (!(ifa->ifa_flags & IFF_UP) || (ifa->ifa_flags & IFF_LOOPBACK))
            continue;
        out.Name = ifa->ifa_name;
        out.Address = HostOrder(ifa->ifa_addr);
        const Ipv4 mask = HostOrder(ifa->ifa_netmask);
        out.PrefixLength = PrefixOf(mask);
        // Point-to-point links have no broadcast address; the subnet's
        // all-ones address is what RFC 1002 means by BROADCAST_ADDRESS.
        out.Broadcast = (ifa->ifa_flags & IFF_BROADCAST) && ifa->ifa_broadaddr
                            ? HostOrder(ifa->ifa_broadaddr)
                            : (out.Address | ~mask);
        found = true;
    }
    // The hardware address is listed apart, as the interface's AF_PACKET entry.
    for (const ifaddrs *ifa = list; ifa && found; ifa = ifa->ifa_next) {
        if (!ifa->ifa_addr || ifa->ifa_addr->sa_family != AF_PACKET || out.Name != ifa->ifa_name)
            continue;
        const auto *ll = reinterpret_cast<const sockaddr_ll *>(ifa->ifa_addr);
        if (ll->sll_halen == out.Mac.size())
            std::memcpy(out.Mac.data(), ll->sll_addr, out.Mac.size());
        break;
    }
    freeifaddrs(list);
    if (found)
        return true;
    if (wanted.empty())
        error = "no network interface is up with an IPv4 address; give one with --interface";
    else if (!nameSeen)
        error = "there is no network interface called " + wanted;
    else
        error = "the interface " + wanted + " is down, loopback, or has no IPv4 address";
    return false;
}

bool SendTo(int fd, const Endpoint &to, const std::uint8_t *data, std::size_t size)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(to.Port);
    sa.sin_addr.s_addr = htonl(to.Address);
    const ssize_t sent = ::sendto(fd, data, size, MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr *>(&sa), sizeof sa);
    return sent == static_cast<ssize_t>(size);
}

long ReceiveFrom(int fd, std::uint8_t *buf, std::size_t capacity, Endpoint &from)
{
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    // MSG_TRUNC reports the real length, so an oversized datagram is seen as
    // such rather than parsed from its first bytes.
    const ssize_t got = ::recvfrom(fd, buf, capacity, MSG_TRUNC,
                                   reinterpret_cast<sockaddr *>(&sa), &len);
    if (got < 0)
        return -1;
    from.Address = ntohl(sa.sin_addr.s_addr);
    from.Port = ntohs(sa.sin_port);
    return static_cast<std::size_t>(got) > capacity ? static_cast<long>(capacity) + 1
                                                    : static_cast<long>(got);
}

void ClearSocketError(int fd)
{
    int error = 0;
    socklen_t len = sizeof error;
    getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len);
}

std::string FormatIpv4(Ipv4 address)
{
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}
