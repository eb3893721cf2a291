// The WINS server the gateway was given (--wins) and whether it answers:
// the name table and the resolver report its answers and its silences here
// and ask before they wait for it. When a request runs out of tries the
// server counts as down: registration and lookups go by broadcast, and the
// names are offered to it again at a bounded pace until it answers. Pure
// logic, given the time.
#pragma once

#include "gateway/Network.h"

#include <chrono>
#include <optional>

using SteadyTime = std::chrono::steady_clock::time_point;

class NameServer {
public:
    // UCAST_REQ_RETRY_TIMEOUT and _COUNT: a server on the LAN or a routed
    // site answers within milliseconds, so half a second leaves room for a
    // slow link, and three tries for a lost packet or two; a server that
    // stays silent costs 1.5 s once, not RFC 1002's 15 s.
    static constexpr std::chrono::milliseconds RetryInterval{500};
    static constexpr int Retries = 3;
    // While it is down, the names are offered to it again this often: a few
    // packets, and a restarted server has them back within seconds.
    static constexpr std::chrono::seconds ProbeInterval{10};
    // The TTL asked for at registration; refreshes come at half what is granted.
    static constexpr std::uint32_t AskedTtl = 300000;
    // A WACK asks us to wait its TTL for the final answer; never longer than this.
    static constexpr std::chrono::seconds LongestWack{120};

    explicit NameServer(Ipv4 address) : address_(address) {}

    Ipv4 Address() const { return address_; }
    Endpoint Where() const;
    bool Up() const { return up_; }

    // Any packet from it.
    void Answered();
    // A request to it ran out of tries.
    void Silent(SteadyTime now);
    // Down and due for another try; Probed starts the next interval.
    bool ProbeDue(SteadyTime now) const { return !up_ && now >= probeAt_; }
    void Probed(SteadyTime now) { probeAt_ = now + ProbeInterval; }
    std::optional<SteadyTime> NextProbe() const;
    // Up or down since the last call, once per change: for the log.
    std::optional<bool> TakeChange();

private:
    Ipv4 address_;
    bool up_ = true;
    SteadyTime probeAt_{};
    std::optional<bool> change_;
};
