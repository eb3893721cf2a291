#include "gateway/Resolver.h"

#include <algorithm>

Resolver::Key Resolver::KeyOf(const NetbiosName &name)
{
    Key key;
    std::copy_n(name.Bytes.begin(), key.size(), key.begin());
    return key;
}

NetbiosName Resolver::WithSuffix(const Key &key, std::uint8_t suffix)
{
    NetbiosName name;
    std::copy(key.begin(), key.end(), name.Bytes.begin());
    name.Bytes[NetbiosNameTextLimit] = suffix;
    return name;
}

std::optional<Target> Resolver::Cached(const NetbiosName &name, SteadyTime now)
{
    const auto it = cache_.find(KeyOf(name));
    if (it == cache_.end())
        return std::nullopt;
    if (now >= it->second.Expires) {
        cache_.erase(it);
        return std::nullopt;
    }
    return it->second.Found;
}

void Resolver::Begin(const NetbiosName &name, std::uint64_t ticket, SteadyTime now)
{
    auto [it, fresh] = lookups_.try_emplace(KeyOf(name));
    it->second.Tickets.push_back(ticket);
    if (fresh) {
        it->second.Next = now;
        // A server that is down is not waited for: straight to broadcast.
        if (server_ && server_->Up())
            it->second.ServerSuffix = MessengerSuffix;
    }
}

void Resolver::ToBroadcast(Lookup &l, SteadyTime now)
{
    l.ServerSuffix = -1;
    l.Next = now;
}

bool Resolver::ServerDue(const Key &key, Lookup &l, SteadyTime now, ResolverStep &step)
{
    if (!server_->Up()) {
        ToBroadcast(l, now);
        return false;
    }
    if (l.ServerSent == NameServer::Retries) {
        server_->Silent(now);
        ToBroadcast(l, now);
        return false;
    }
    if (l.ServerSent == 0)
        l.Asked.push_back({WithSuffix(key, static_cast<std::uint8_t>(l.ServerSuffix)), nextTrnId_++, true});
    step.Queries.push_back(l.Asked.back());
    ++l.ServerSent;
    l.Next = now + NameServer::RetryInterval;
    return true;
}

ResolverStep Resolver::Due(SteadyTime now)
{
    ResolverStep step;
    for (auto it = lookups_.begin(); it != lookups_.end();) {
        Lookup &l = it->second;
        if (now < l.Next) {
            ++it;
            continue;
        }
        if (l.ServerSuffix >= 0 && ServerDue(it->first, l, now, step)) {
            ++it;
            continue;
        }
        if (l.Sent == 2 * Retries) {
            for (std::uint64_t t : l.Tickets)
                step.Done.push_back({t, std::nullopt});
            it = lookups_.erase(it);
            continue;
        }
        // The messenger's own suffix first; a plain workstation or a
        // workgroup answers only to <00>.
        const std::uint8_t suffix = l.Sent < Retries ? MessengerSuffix : WorkstationSuffix;
        if (l.Sent == 0 || l.Sent == Retries)
            l.Asked.push_back({WithSuffix(it->first, suffix), nextTrnId_++});
        step.Queries.push_back(l.Asked.back());
        ++l.Sent;
        l.Next = now + RetryInterval;
        ++it;
    }
    return step;
}

std::optional<SteadyTime> Resolver::NextDeadline() const
{
    std::optional<SteadyTime> next;
    for (const auto &[key, l] : lookups_)
        if (!next || l.Next < *next)
            next = l.Next;
    return next;
}

void Resolver::OnServerNegative(const NetbiosName &name, std::uint16_t trnId, SteadyTime now)
{
    const auto it = lookups_.find(KeyOf(name));
    if (it == lookups_.end() || it->second.ServerSuffix < 0 || it->second.Asked.empty())
        return;
    Lookup &l = it->second;
    const ResolverQuery &last = l.Asked.back();
    if (!last.ToServer || last.TrnId != trnId || last.Name != name)
        return;
    // No such name at the server: a plain workstation holds only NAME<00>,
    // and a host of this subnet may not be registered there at all.
    if (l.ServerSuffix == MessengerSuffix) {
        l.ServerSuffix = WorkstationSuffix;
        l.ServerSent = 0;
        l.Next = now;
    } else {
        ToBroadcast(l, now);
    }
}

std::vector<Resolution> Resolver::OnAnswer(const NetbiosName &name, std::uint16_t trnId, bool group,
                                           Ipv4 from, SteadyTime now)
{
    std::vector<Resolution> done;
    const auto it = lookups_.find(KeyOf(name));
    if (it == lookups_.end())
        return done;
    const auto &asked = it->second.Asked;
    const bool ours = std::any_of(asked.begin(), asked.end(), [&](const ResolverQuery &q) {
        return q.TrnId == trnId && q.Name == name;
    });
    if (!ours)
        return done;
    Target found{name, group, from};
    for (std::uint64_t t : it->second.Tickets)
        done.push_back({t, found});
    lookups_.erase(it);
    if (cache_.size() >= CacheLimit) {
        // Expired entries first; if none, the one closest to expiry.
        for (auto c = cache_.begin(); c != cache_.end();)
            c = now >= c->second.Expires ? cache_.erase(c) : std::next(c);
        if (cache_.size() >= CacheLimit)
            cache_.erase(std::min_element(cache_.begin(), cache_.end(), [](const auto &a, const auto &b) {
                return a.second.Expires < b.second.Expires;
            }));
    }
    cache_[KeyOf(name)] = {found, now + CacheTime};
    return done;
}

void Resolver::Forget(const NetbiosName &name, Ipv4 owner)
{
    const auto it = cache_.find(KeyOf(name));
    if (it != cache_.end() && it->second.Found.Name == name &&
        (it->second.Found.Group || it->second.Found.Address == owner))
        cache_.erase(it);
}

void Resolver::ForgetOwner(Ipv4 owner)
{
    for (auto it = cache_.begin(); it != cache_.end();)
        it = !it->second.Found.Group && it->second.Found.Address == owner ? cache_.erase(it) : std::next(it);
}
