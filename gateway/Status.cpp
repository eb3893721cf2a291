#include "gateway/Status.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

constexpr int ClientTimeoutMs = 2000;

bool MakeAddress(const std::string &path, sockaddr_un &sa, std::string &error)
{
    sa = {};
    sa.sun_family = AF_UNIX;
    if (path.size() >= sizeof sa.sun_path) {
        error = "the control socket path " + path + " is too long for a Unix socket; use a shorter prefix";
        return false;
    }
    std::memcpy(sa.sun_path, path.c_str(), path.size() + 1);
    return true;
}

bool Connect(const sockaddr_un &sa, UniqueFd &fd)
{
    fd.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    return fd && ::connect(fd.get(), reinterpret_cast<const sockaddr *>(&sa), sizeof sa) == 0;
}

} // namespace

std::uint64_t Counters::DroppedTotal() const
{
    std::uint64_t total = NotForUs + Oversized;
    for (const auto &d : Dropped)
        total += d;
    return total;
}

std::string CountersText(const Counters &c)
{
    std::string text;
    auto line = [&](const std::string &label, std::uint64_t value) {
        text += label + ": " + std::to_string(value) + "\n";
    };
    line("datagrams in", c.DatagramsIn);
    line("datagrams out", c.DatagramsOut);
    line("send failures", c.SendFailed);
    line("dropped", c.DroppedTotal());
    if (c.NotForUs)
        line("  not for this station", c.NotForUs);
    if (c.Oversized)
        line("  oversized", c.Oversized);
    for (std::size_t i = 1; i < c.Dropped.size(); ++i)
        if (c.Dropped[i])
            line(std::string("  ") + DropText(static_cast<DatagramDrop>(i)), c.Dropped[i]);
    line("datagram errors sent", c.ErrorsSent);
    line("name service in", c.NameIn);
    line("name service out", c.NameOut);
    line("name service malformed", c.NameMalformed);
    return text;
}

std::string ControlSocketPath(const std::string &prefix)
{
    return prefix + "/tindrel-gateway/control.sock";
}

std::unique_ptr<ControlSocket> ControlSocket::Listen(const std::string &prefix, std::string &error)
{
    const std::string dir = prefix + "/tindrel-gateway";
    if (::mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
        error = "cannot create " + dir + ": " + std::strerror(errno);
        return nullptr;
    }
    const std::string path = ControlSocketPath(prefix);
    sockaddr_un sa;
    if (!MakeAddress(path, sa, error))
        return nullptr;
    UniqueFd probe;
    if (Connect(sa, probe)) {
        error = "another tindrel-gateway already runs for the prefix " + prefix;
        return nullptr;
    }
    ::unlink(path.c_str());
    std::unique_ptr<ControlSocket> control(new ControlSocket);
    control->fd_.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!control->fd_ || ::bind(control->fd_.get(), reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
        error = "cannot listen on " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    control->path_ = path;
    if (::listen(control->fd_.get(), 8) != 0) {
        error = "cannot listen on " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    return control;
}

ControlSocket::~ControlSocket() { ::unlink(path_.c_str()); }

void AnswerControl(int listenFd, const std::string &text)
{
    UniqueFd client(::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC));
    if (!client)
        return;
    // The loop must not wait on a client that does not read: a short send
    // timeout bounds the write; the text is a few hundred bytes.
    timeval tv{0, 200 * 1000};
    setsockopt(client.get(), SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::send(client.get(), text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

bool PrintStatus(const std::string &prefix, std::string &error)
{
    const std::string path = ControlSocketPath(prefix);
    sockaddr_un sa;
    if (!MakeAddress(path, sa, error))
        return false;
    UniqueFd fd;
    if (!Connect(sa, fd)) {
        error = "no gateway runs for the prefix " + prefix + " (nothing answers on " + path + ")";
        return false;
    }
    std::string text;
    char buf[4096];
    for (;;) {
        pollfd p{fd.get(), POLLIN, 0};
        if (::poll(&p, 1, ClientTimeoutMs) <= 0) {
            error = "the gateway for the prefix " + prefix + " did not answer within 2 s";
            return false;
        }
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n < 0) {
            error = std::string("cannot read the gateway's status: ") + std::strerror(errno);
            return false;
        }
        if (n == 0)
            break;
        text.append(buf, static_cast<std::size_t>(n));
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    return true;
}
