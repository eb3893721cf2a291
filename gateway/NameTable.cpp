#include "gateway/NameTable.h"

#include <algorithm>

const char *NameStateText(NameState state)
{
    switch (state) {
    case NameState::Registering: return "registering";
    case NameState::Held: return "held";
    case NameState::Conflict: return "conflict";
    case NameState::Refused: return "refused";
    case NameState::Releasing: return "releasing";
    case NameState::Released: return "released";
    }
    return "?";
}

void NameTable::Add(const NetbiosName &name, bool group)
{
    NameEntry entry;
    entry.Name = name;
    entry.Group = group;
    entries_.push_back(entry);
}

std::uint8_t NameTable::NodeType() const { return server_ ? HNodeType : BNodeType; }

void NameTable::StartRegistration(SteadyTime now, std::uint16_t firstTrnId)
{
    for (NameEntry &e : entries_) {
        e.State = NameState::Registering;
        e.TrnId = firstTrnId++;
        e.Sent = 0;
        e.Next = now;
        e.AtServer = false;
        e.Step = ServerStep::None;
    }
    nextTrnId_ = firstTrnId;
    refusal_.reset();
    // An H-node asks its server first; broadcast only when it is silent.
    if (server_ && server_->Up())
        for (NameEntry &e : entries_)
            StartStep(e, ServerStep::Register, now);
}

void NameTable::StartRelease(SteadyTime now)
{
    // Only names we own are released; one in conflict belongs to someone
    // else now (RFC 1001 15.1.3.5), one still registering was never ours.
    for (NameEntry &e : entries_) {
        if (e.State == NameState::Held) {
            e.State = NameState::Releasing;
            e.Sent = 0;
            e.Next = now;
            e.Step = ServerStep::None;
            if (e.AtServer && server_->Up())
                StartStep(e, ServerStep::Release, now);
        } else if (e.State == NameState::Registering) {
            e.State = NameState::Released;
            e.Step = ServerStep::None;
        }
    }
}

std::vector<NameAction> NameTable::Due(SteadyTime now)
{
    std::vector<NameAction> out;
    if (server_)
        StartProbe(now);
    for (NameEntry &e : entries_) {
        if (server_)
            ServerDue(e, now, out);
        if (e.State != NameState::Registering && e.State != NameState::Releasing)
            continue;
        // The server first: broadcast registration waits for its step.
        if (now < e.Next || (e.State == NameState::Registering && e.Step != ServerStep::None))
            continue;
        NameAction a;
        a.Name = e.Name;
        a.Group = e.Group;
        a.TrnId = e.TrnId;
        if (e.State == NameState::Registering) {
            if (e.Sent < Retries) {
                a.What = NameAction::Register;
                ++e.Sent;
                e.Next = now + RetryInterval;
            } else {
                // Silence after the last retry: the name is ours (RFC 1002 5.1.1.1).
                a.What = NameAction::Overwrite;
                e.State = NameState::Held;
            }
        } else {
            a.What = NameAction::Release;
            if (++e.Sent < Retries)
                e.Next = now + RetryInterval;
            else
                e.State = NameState::Released;
        }
        out.push_back(a);
    }
    return out;
}

std::optional<SteadyTime> NameTable::NextDeadline() const
{
    std::optional<SteadyTime> next;
    auto consider = [&next](SteadyTime t) {
        if (!next || t < *next)
            next = t;
    };
    for (const NameEntry &e : entries_) {
        if ((e.State == NameState::Registering && e.Step == ServerStep::None) || e.State == NameState::Releasing)
            consider(e.Next);
        if (e.Step != ServerStep::None)
            consider(e.ServerNext);
        else if (e.AtServer && e.State == NameState::Held)
            consider(e.RefreshAt);
    }
    if (server_ && server_->NextProbe())
        consider(*server_->NextProbe());
    return next;
}

std::optional<NameAction> NameTable::OnQuery(const NetbiosName &name, std::uint16_t trnId,
                                             const Endpoint &from) const
{
    const NameEntry *e = Find(name);
    if (!e || e->State != NameState::Held)
        return std::nullopt;
    return NameAction{NameAction::AnswerQuery, e->Name, e->Group, trnId, from};
}

std::optional<NameAction> NameTable::OnRegistration(const NetbiosName &name, bool group,
                                                    std::uint16_t trnId,
                                                    const Endpoint &from) const
{
    const NameEntry *e = Find(name);
    // RFC 1002 5.1.1.5: a unique name of ours is defended against any claim,
    // a group name only against a unique claim.
    if (!e || e->State != NameState::Held || (e->Group && group))
        return std::nullopt;
    return NameAction{NameAction::RefuseRegistration, e->Name, e->Group, trnId, from};
}

bool NameTable::OnNegativeResponse(const NetbiosName &name, std::uint16_t trnId, Ipv4 owner)
{
    NameEntry *e = Find(name);
    if (!e || e->State != NameState::Registering || e->TrnId != trnId)
        return false;
    e->State = NameState::Refused;
    if (!refusal_)
        refusal_ = Refusal{e->Name, owner};
    return true;
}

bool NameTable::OnConflictDemand(const NetbiosName &name)
{
    NameEntry *e = Find(name);
    if (!e || e->State != NameState::Held)
        return false;
    e->State = NameState::Conflict;
    return true;
}

bool NameTable::AllHeld() const
{
    for (const NameEntry &e : entries_)
        if (e.State != NameState::Held && e.State != NameState::Conflict)
            return false;
    return true;
}

std::optional<Refusal> NameTable::Refused() const
{
    const bool asking = std::any_of(entries_.begin(), entries_.end(),
                                    [](const NameEntry &e) { return e.Step == ServerStep::AskOwner; });
    return asking ? std::nullopt : refusal_;
}

bool NameTable::Released() const
{
    for (const NameEntry &e : entries_)
        if (e.State == NameState::Releasing || e.Step == ServerStep::Release)
            return false;
    return true;
}

bool NameTable::Holds(const NetbiosName &name) const
{
    const NameEntry *e = Find(name);
    return e && e->State == NameState::Held;
}

NameEntry *NameTable::Find(const NetbiosName &name)
{
    for (NameEntry &e : entries_)
        if (e.Name == name)
            return &e;
    return nullptr;
}

const NameEntry *NameTable::Find(const NetbiosName &name) const
{
    return const_cast<NameTable *>(this)->Find(name);
}
