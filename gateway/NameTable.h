// The station's own NetBIOS names and the B-node rules for them (RFC 1002
// 5.1.1): registration by broadcast with retries, then an overwrite demand;
// defence against others' registrations; answers to queries; conflict; the
// release at the end. Pure logic: it is given the time and the packets it
// must react to, and says what to send; the daemon does the sending.
#pragma once

#include "gateway/Network.h"
#include "gateway/codec/NetbiosName.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

using SteadyTime = std::chrono::steady_clock::time_point;

enum class NameState { Registering, Held, Conflict, Refused, Releasing, Released };
const char *NameStateText(NameState state);

struct NameEntry {
    NetbiosName Name;
    bool Group = false;
    NameState State = NameState::Registering;
    std::uint16_t TrnId = 0;
    int Sent = 0;            // broadcasts of the current step so far
    SteadyTime Next{};       // when the next one is due
};

struct NameAction {
    enum Kind { Register, Overwrite, Release, AnswerQuery, RefuseRegistration };
    Kind What = Register;
    NetbiosName Name;
    bool Group = false;
    std::uint16_t TrnId = 0;
    Endpoint To;             // answers only; the rest go to the broadcast address
};

struct Refusal {
    NetbiosName Name;
    Ipv4 Owner = 0;
};

class NameTable {
public:
    static constexpr std::chrono::milliseconds RetryInterval{250}; // BCAST_REQ_RETRY_TIMEOUT
    static constexpr int Retries = 3;                              // BCAST_REQ_RETRY_COUNT

    // Names to hold; each gets its own transaction id, counting from firstTrnId.
    void Add(const NetbiosName &name, bool group);
    void StartRegistration(SteadyTime now, std::uint16_t firstTrnId);
    void StartRelease(SteadyTime now);

    // Broadcasts due by now, in order; the states move on as they are sent.
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

    bool AllHeld() const;       // every name held or in conflict: registration over
    std::optional<Refusal> Refused() const;
    bool Released() const;      // nothing left to broadcast for the release
    // Held and not in conflict: datagrams to it are ours, queries answered.
    bool Holds(const NetbiosName &name) const;
    const std::vector<NameEntry> &Entries() const { return entries_; }

private:
    NameEntry *Find(const NetbiosName &name);
    const NameEntry *Find(const NetbiosName &name) const;

    std::vector<NameEntry> entries_;
    std::optional<Refusal> refusal_;
};
