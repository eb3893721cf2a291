// See Sockets.h.
#include "gateway/Sockets.h"

#include "gateway/codec/Datagram.h"
#include "gateway/codec/NameService.h"

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

std::string OwnPath()
{
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string("tindrel-gateway");
}

// A non-blocking UDP socket on `at` that may send broadcasts. No
// SO_REUSEADDR: a port held by another program (nmbd) must be reported.
bool BindUdp(const Endpoint &at, UniqueFd &out, std::string &error)
{
    const std::string what = "UDP port " + std::to_string(at.Port);
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd) {
        error = "cannot open a UDP socket: " + std::string(std::strerror(errno));
        return false;
    }
    const int on = 1;
    if (setsockopt(fd.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0) {
        error = "cannot allow broadcasts on " + what + ": " + std::strerror(errno);
        return false;
    }
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(at.Port);
    sa.sin_addr.s_addr = htonl(at.Address);
    if (::bind(fd.get(), reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
        const int e = errno;
        if (e == EADDRINUSE)
            error = what + " is in use by another program (a Samba nmbd?); stop it "
                           "(systemctl stop nmbd) or run the gateway in a network namespace of its own";
        else if (e == EACCES || e == EPERM)
            error = "cannot bind " + what + ": permission denied; give the gateway the right to bind it "
                    "once with: sudo setcap cap_net_bind_service=ep " + OwnPath();
        else
            error = "cannot bind " + what + " on " + FormatIpv4(at.Address) + ": " + std::strerror(e);
        return false;
    }
    out = std::move(fd);
    return true;
}

} // namespace

std::unique_ptr<Sockets> Sockets::Open(const Interface &iface, std::string &error)
{
    std::unique_ptr<Sockets> s(new Sockets);
    const bool broadcasts = iface.Broadcast != iface.Address;
    for (const std::uint16_t port : {NameServicePort, DatagramPort}) {
        UniqueFd &own = port == NameServicePort ? s->names_ : s->datagrams_;
        UniqueFd &all = port == NameServicePort ? s->namesBroadcast_ : s->datagramsBroadcast_;
        if (!BindUdp({iface.Address, port}, own, error) ||
            (broadcasts && !BindUdp({iface.Broadcast, port}, all, error)))
            return nullptr;
    }
    return s;
}
