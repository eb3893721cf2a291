// The daemon's part of an H-node's name service: the WINS server's answers
// handed to the name table and the resolver, the log and the one plain
// line when the server falls silent or answers again; and node status
// answers, which tell any asker every name held.
#include "gateway/Daemon.h"

#include <algorithm>

bool Daemon::HandleServerAnswer(const NameServicePacket &p, SteadyTime now)
{
    bool taken = true;
    const std::string name = ToString(p.Name), server = "the WINS server " + FormatIpv4(server_->Address());
    // Samba's nmbd refuses a registration with the requester's own entry,
    // which names no owner: the table then asks the server who holds it.
    const Ipv4 named = p.Address == config_.Iface.Address ? 0 : p.Address;
    switch (table_.OnServerAnswer(p.Kind, p.Name, p.TransactionId, p.Ttl, p.Rcode, named, now)) {
    case ServerOutcome::Waiting:
        Log(server + " asks to wait " + std::to_string(p.Ttl) + " s for " + name);
        break;
    case ServerOutcome::Registered:
        Log("registered " + name + " with " + server + " for " + std::to_string(p.Ttl) + " s");
        break;
    case ServerOutcome::Refreshed:
        Log("refreshed " + name + " at " + server + " for " + std::to_string(p.Ttl) + " s");
        break;
    case ServerOutcome::Refused:
        Log(server + " says " + name + " is held by " + (named ? FormatIpv4(named) : "another host"));
        break;
    case ServerOutcome::Lost:
        Log(server + " gave " + name + " to another host: it is no longer used");
        break;
    case ServerOutcome::NotTaken:
        Log(server + " refused " + name + " (RCODE " + std::to_string(p.Rcode) + "); held by broadcast");
        break;
    case ServerOutcome::Released:
        Log("released " + name + " at " + server);
        break;
    case ServerOutcome::Ignored:
        if (p.Kind == NameServiceKind::PositiveQueryResponse) {
            const auto done = resolver_->OnAnswer(p.Name, p.TransactionId, p.Group, p.Address, now);
            taken = !done.empty();
            if (taken) {
                server_->Answered();
                Log(name + " is " + (p.Group ? "a group" : "held by " + FormatIpv4(p.Address)) + ", says " +
                    server);
                FinishLookups(done);
            }
        } else if (p.Kind == NameServiceKind::NegativeQueryResponse) {
            server_->Answered();
            resolver_->OnServerNegative(p.Name, p.TransactionId, now);
            Log(server + " knows no " + name);
        } else {
            taken = false;
        }
        break;
    }
    NoteServer();
    return taken;
}

void Daemon::NoteServer()
{
    if (!server_)
        return;
    const auto change = server_->TakeChange();
    if (!change)
        return;
    const std::string server = "the WINS server " + FormatIpv4(server_->Address());
    if (!*change && !serverSilenceTold_) {
        serverSilenceTold_ = true;
        const std::string line = server + " does not answer; names are registered and resolved by broadcast "
                                          "until it does";
        Log(line);
        if (config_.Notice)
            config_.Notice(line);
    } else if (*change && serverSilenceTold_) {
        serverSilenceTold_ = false;
        const std::string line = server + " answers again; the names are registered there";
        Log(line);
        if (config_.Notice)
            config_.Notice(line);
    }
}

void Daemon::AnswerNodeStatus(const NameServicePacket &p, const Endpoint &from)
{
    // Asked for `*` (nbtstat -A, nmblookup -A, nbtscan) or one of our names.
    const auto &entries = table_.Entries();
    const bool ours = IsBroadcastName(p.Name) || std::any_of(entries.begin(), entries.end(), [&](const NameEntry &e) {
                          return e.Name == p.Name && e.State == NameState::Held;
                      });
    if (!ours)
        return;
    NodeStatus status;
    status.Unit = config_.Iface.Mac; // the adapter's MAC, as Windows gives it
    const std::uint16_t nodeType = static_cast<std::uint16_t>(table_.NodeType() << 13);
    for (const NameEntry &e : entries) {
        if (e.State != NameState::Held && e.State != NameState::Conflict)
            continue;
        const std::uint16_t flags = nodeType | StatusActive | (e.Group ? StatusGroup : 0) |
                                    (e.State == NameState::Conflict ? StatusConflict : 0);
        status.Names.push_back({e.Name, flags});
    }
    SendName(BuildNodeStatusResponse(p.TransactionId, p.Name, status), from);
    Log("answered " + FormatIpv4(from.Address) + "'s node status request");
}
