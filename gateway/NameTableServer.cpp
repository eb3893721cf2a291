// The name table's exchanges with a WINS server: registration, refresh,
// release and, when the server refuses a name without saying who holds it,
// the query that finds out. Each is a request retried NameServer::Retries
// times; a WACK moves the deadline instead of counting a try; silence marks
// the server down and hands the name to the broadcast rules.
#include "gateway/NameTable.h"

#include <algorithm>

namespace {

NameAction::Kind ActionOf(ServerStep step)
{
    switch (step) {
    case ServerStep::Register: return NameAction::ServerRegister;
    case ServerStep::Refresh: return NameAction::ServerRefresh;
    case ServerStep::Release: return NameAction::ServerRelease;
    default: return NameAction::AskServer;
    }
}

} // namespace

void NameTable::StartStep(NameEntry &e, ServerStep step, SteadyTime now)
{
    e.Step = step;
    e.ServerTrnId = nextTrnId_++;
    e.ServerSent = 0;
    e.ServerNext = now;
}

void NameTable::StartProbe(SteadyTime now)
{
    // While the server is down every held name is offered to it again now
    // and then; the first answer brings it back (NameServer::Answered).
    if (!server_->ProbeDue(now))
        return;
    server_->Probed(now);
    for (NameEntry &e : entries_)
        if (e.State == NameState::Held && e.Step == ServerStep::None)
            StartStep(e, ServerStep::Register, now);
}

void NameTable::ServerDue(NameEntry &e, SteadyTime now, std::vector<NameAction> &out)
{
    if (e.Step == ServerStep::None && e.AtServer && e.State == NameState::Held && now >= e.RefreshAt)
        StartStep(e, ServerStep::Refresh, now);
    if (e.Step == ServerStep::None || now < e.ServerNext)
        return;
    if (e.ServerSent < NameServer::Retries) {
        NameAction a;
        a.What = ActionOf(e.Step);
        a.Name = e.Name;
        a.Group = e.Group;
        a.TrnId = e.ServerTrnId;
        a.To = server_->Where();
        out.push_back(a);
        ++e.ServerSent;
        e.ServerNext = now + NameServer::RetryInterval;
        return;
    }
    // No answer at all: the server is down; the broadcast rules take over.
    server_->Silent(now);
    if (e.Step == ServerStep::Register || e.Step == ServerStep::Refresh)
        e.AtServer = false;
    e.Step = ServerStep::None;
    if (e.State == NameState::Registering)
        e.Next = now;
}

ServerOutcome NameTable::OnServerAnswer(NameServiceKind kind, const NetbiosName &name, std::uint16_t trnId,
                                        std::uint32_t ttl, std::uint8_t rcode, Ipv4 address, SteadyTime now)
{
    if (!server_)
        return ServerOutcome::Ignored;
    const auto it = std::find_if(entries_.begin(), entries_.end(), [&](const NameEntry &e) {
        return e.Step != ServerStep::None && e.ServerTrnId == trnId && e.Name == name;
    });
    if (it == entries_.end())
        return ServerOutcome::Ignored;
    NameEntry &e = *it;
    server_->Answered();
    const ServerStep step = e.Step;
    if (kind == NameServiceKind::Wack) {
        // Keep waiting for the final answer instead of asking again.
        e.ServerNext = now + std::min<std::chrono::seconds>(std::chrono::seconds(ttl), NameServer::LongestWack);
        return ServerOutcome::Waiting;
    }
    if (step == ServerStep::AskOwner) {
        if (kind == NameServiceKind::PositiveQueryResponse && refusal_ && refusal_->Name == e.Name)
            refusal_->Owner = address;
        e.Step = ServerStep::None;
        return ServerOutcome::Refused;
    }
    if (step == ServerStep::Release) {
        if (kind != NameServiceKind::ReleaseResponse)
            return ServerOutcome::Ignored;
        e.Step = ServerStep::None;
        e.AtServer = false;
        return ServerOutcome::Released;
    }
    if (kind == NameServiceKind::PositiveRegistrationResponse) {
        const std::uint32_t granted = ttl ? ttl : NameServer::AskedTtl;
        e.Step = ServerStep::None;
        e.AtServer = true;
        e.RefreshAt = now + std::max<std::chrono::seconds>(std::chrono::seconds(granted / 2), std::chrono::seconds(1));
        const bool fresh = e.State == NameState::Registering;
        e.State = NameState::Held;
        return fresh || step == ServerStep::Register ? ServerOutcome::Registered : ServerOutcome::Refreshed;
    }
    if (kind != NameServiceKind::NegativeRegistrationResponse)
        return ServerOutcome::Ignored;
    e.Step = ServerStep::None;
    e.AtServer = false;
    if (rcode != ActiveError) {
        // Refused for another reason (RFS_ERR): the subnet still has the rules of a B-node.
        if (e.State == NameState::Registering)
            e.Next = now;
        return ServerOutcome::NotTaken;
    }
    if (e.State != NameState::Registering) {
        // Held here, but the server gave it to another host meanwhile.
        e.State = NameState::Conflict;
        return ServerOutcome::Lost;
    }
    e.State = NameState::Refused;
    if (!refusal_)
        refusal_ = Refusal{e.Name, address};
    if (!address && refusal_->Name == e.Name)
        StartStep(e, ServerStep::AskOwner, now);
    return ServerOutcome::Refused;
}
