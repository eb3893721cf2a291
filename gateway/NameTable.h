// The station's own NetBIOS names and the rules for them. As a B-node
// (RFC 1002 5.1.1): registration by broadcast with retries, then an
// overwrite demand; defence against others' registrations; answers to
// queries; conflict; the release at the end. As an H-node with a WINS server
// (RFC 1001 15.1, RFC 1002 5.1.4): registration with the server first, by
// unicast, waiting out its WACKs; refreshes at half the granted TTL; the
// release there too; broadcast whenever the server is silent
// (NameTableServer.cpp). Pure logic: it is given the time and the packets it
// must react to, and says what to send; the daemon does the sending.
#pragma once

#include "gateway/NameServer.h"
#include "gateway/Network.h"
#include "gateway/codec/NameService.h"
#include "gateway/codec/NetbiosName.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

using SteadyTime = std::chrono::steady_clock::time_point;

enum class NameState { Registering, Held, Conflict, Refused, Releasing, Released };
const char *NameStateText(NameState state);

// What the name's current exchange with the server is, if any.
enum class ServerStep { None, Register, Refresh, Release, AskOwner };

struct NameEntry {
    NetbiosName Name;
    bool Group = false;
    NameState State = NameState::Registering;
    std::uint16_t TrnId = 0;
    int Sent = 0;            // broadcasts of the current step so far
    SteadyTime Next{};       // when the next one is due
    // With a server: held there (else by broadcast), the step under way,
    // and when a name held there must be refreshed.
    bool AtServer = false;
    ServerStep Step = ServerStep::None;
    std::uint16_t ServerTrnId = 0;
    int ServerSent = 0;
    SteadyTime ServerNext{};
    SteadyTime RefreshAt{};
};

struct NameAction {
    enum Kind {
        Register, Overwrite, Release, AnswerQuery, RefuseRegistration,
        ServerRegister, ServerRefresh, ServerRelease, AskServer
    };
    Kind What = Register;
    NetbiosName Name;
    bool Group = false;
    std::uint16_t TrnId = 0;
    Endpoint To;             // answers and requests to the server; the rest go to the broadcast address
};

struct Refusal {
    NetbiosName Name;
    Ipv4 Owner = 0; // 0 when no host told
};

// What an answer of the server did, for the log.
enum class ServerOutcome { Ignored, Waiting, Registered, Refreshed, Refused, Lost, NotTaken, Released };

class NameTable {
public:
    static constexpr std::chrono::milliseconds RetryInterval{250}; // BCAST_REQ_RETRY_TIMEOUT
    static constexpr int Retries = 3;                              // BCAST_REQ_RETRY_COUNT

    // Names to hold; each gets its own transaction id, counting from firstTrnId.
    void Add(const NetbiosName &name, bool group);
    // An H-node from now on: `server` outlives the table.
    void UseServer(NameServer *server) { server_ = server; }
    std::uint8_t NodeType() const;
    void StartRegistration(SteadyTime now, std::uint16_t firstTrnId);
    void StartRelease(SteadyTime now);

    // Packets due by now, in order; the states move on as they are sent.
    std::vector<NameAction> Due(SteadyTime now);
    std::optional<SteadyTime> NextDeadline() const;

    // Packets from other hosts.
    std::optional<NameAction> OnQuery(const NetbiosName &name, std::uint16_t trnId,
                                      const Endpoint &from) const;
    std::optional<NameAction> OnRegistration(const NetbiosName &name, bool group,
                                             std::uint16_t trnId, const Endpoint &from) const;
    // A negative registration response: refuses a name being registered when
    // it answers that registration's transaction. True when it did.
    bool OnNegativeResponse(const NetbiosName &name, std::uint16_t trnId, Ipv4 owner);
    // True when a held name became unusable.
    bool OnConflictDemand(const NetbiosName &name);

    // The server's answers to the requests of Due: `kind` is the packet's
    // (positive or negative registration response, WACK, release response,
    // positive or negative query response), with its TTL, RCODE and address.
    ServerOutcome OnServerAnswer(NameServiceKind kind, const NetbiosName &name, std::uint16_t trnId, std::uint32_t ttl,
                                 std::uint8_t rcode, Ipv4 address, SteadyTime now);

    bool AllHeld() const;       // every name held or in conflict: registration over
    // A name another host holds, once its owner is known or cannot be learnt.
    std::optional<Refusal> Refused() const;
    bool Released() const;      // nothing left to send for the release
    // Held and not in conflict: datagrams to it are ours, queries answered.
    bool Holds(const NetbiosName &name) const;
    const std::vector<NameEntry> &Entries() const { return entries_; }

private:
    NameEntry *Find(const NetbiosName &name);
    const NameEntry *Find(const NetbiosName &name) const;
    // NameTableServer.cpp: the server steps.
    void StartStep(NameEntry &e, ServerStep step, SteadyTime now);
    void ServerDue(NameEntry &e, SteadyTime now, std::vector<NameAction> &out);
    void StartProbe(SteadyTime now);

    std::vector<NameEntry> entries_;
    std::optional<Refusal> refusal_;
    NameServer *server_ = nullptr;
    std::uint16_t nextTrnId_ = 0;
};
