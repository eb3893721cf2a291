// Finding the owner of another station's name. With a WINS server that
// answers (H-node, RFC 1001 15.1.3.4): a unicast query with RD for NAME<03>,
// then NAME<00>, each tried NameServer::Retries times; a negative answer to
// both, or silence, leaves it to broadcast. By broadcast (RFC 1002 5.1.1.3):
// NAME QUERY for NAME<03> three times 250 ms apart, then for NAME<00>; the
// first positive answer wins. Owns the lookups in flight and the cache of
// positive answers (30 s; failures are not kept). Pure logic: it is given
// the time and the answers, and says which queries to send and which
// lookups are finished.
#pragma once

#include "gateway/NameServer.h"
#include "gateway/Network.h"
#include "gateway/codec/NetbiosName.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

using SteadyTime = std::chrono::steady_clock::time_point;

// Where datagrams for a name go.
struct Target {
    NetbiosName Name;   // with the suffix that answered
    bool Group = false; // DIRECT_GROUP to the subnet broadcast
    Ipv4 Address = 0;   // the owner of a unique name
};

struct ResolverQuery {
    NetbiosName Name;
    std::uint16_t TrnId = 0;
    bool ToServer = false; // unicast with RD to the server, else broadcast
};

struct Resolution {
    std::uint64_t Ticket = 0;
    std::optional<Target> Found; // nothing: no host holds the name
};

struct ResolverStep {
    std::vector<ResolverQuery> Queries;
    std::vector<Resolution> Done;
};

class Resolver {
public:
    static constexpr std::chrono::milliseconds RetryInterval{250};
    static constexpr int Retries = 3;
    static constexpr std::chrono::seconds CacheTime{30};
    static constexpr std::size_t CacheLimit = 256;

    explicit Resolver(std::uint16_t firstTrnId) : nextTrnId_(firstTrnId) {}
    // Ask this server first from now on: `server` outlives the resolver.
    void UseServer(NameServer *server) { server_ = server; }

    // `name` is the name with any suffix; lookups and the cache go by its
    // first 15 bytes.
    std::optional<Target> Cached(const NetbiosName &name, SteadyTime now);
    // Starts a lookup, or joins the one in flight for the same name; the
    // ticket comes back in a Resolution from Due or OnAnswer.
    void Begin(const NetbiosName &name, std::uint64_t ticket, SteadyTime now);
    // Queries to broadcast now, and lookups that ran out of tries.
    ResolverStep Due(SteadyTime now);
    std::optional<SteadyTime> NextDeadline() const;
    // A POSITIVE NAME QUERY RESPONSE naming `owner` (the sender of a
    // broadcast answer, the address a server gives); it finishes a lookup
    // only when it answers one of that lookup's queries (same name, same id).
    std::vector<Resolution> OnAnswer(const NetbiosName &name, std::uint16_t trnId, bool group,
                                     Ipv4 owner, SteadyTime now);
    // The server's NEGATIVE NAME QUERY RESPONSE: on to the next suffix, or
    // to broadcast.
    void OnServerNegative(const NetbiosName &name, std::uint16_t trnId, SteadyTime now);
    // The owner released the name: its cached answer is stale.
    void Forget(const NetbiosName &name, Ipv4 owner);
    // A host said it holds no name we sent to (DATAGRAM ERROR): every unique
    // name cached at its address is stale.
    void ForgetOwner(Ipv4 owner);
    std::size_t InFlight() const { return lookups_.size(); }

private:
    using Key = std::array<std::uint8_t, NetbiosNameTextLimit>;
    struct Lookup {
        std::vector<std::uint64_t> Tickets;
        std::vector<ResolverQuery> Asked;
        int ServerSuffix = -1; // the suffix asked of the server; -1 by broadcast
        int ServerSent = 0;    // tries of that query
        int Sent = 0;          // broadcast queries so far, both suffixes
        SteadyTime Next{};
    };
    // The next query of the server phase, or the move to broadcast.
    bool ServerDue(const Key &key, Lookup &l, SteadyTime now, ResolverStep &step);
    static void ToBroadcast(Lookup &l, SteadyTime now);
    struct Cached_ {
        Target Found;
        SteadyTime Expires{};
    };
    static Key KeyOf(const NetbiosName &name);
    static NetbiosName WithSuffix(const Key &key, std::uint8_t suffix);

    std::map<Key, Lookup> lookups_;
    std::map<Key, Cached_> cache_;
    std::uint16_t nextTrnId_;
    NameServer *server_ = nullptr;
};
