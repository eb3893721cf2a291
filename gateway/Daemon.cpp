#include "gateway/Daemon.h"

#include "gateway/codec/Datagram.h"
#include "gateway/codec/MailslotWrite.h"
#include "gateway/codec/NameService.h"

#include <algorithm>
#include <cstdio>
#include <poll.h>
#include <random>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

using std::chrono::milliseconds;

// TTL in our answers: RFC 1002 leaves it open; B-nodes do not refresh, so
// the name lives as long as we answer for it.
constexpr std::uint32_t AnswerTtl = 300000;
// What one poll round reads from a socket before it looks at the others.
constexpr int ReadBurst = 64;
// The largest UDP payload a NetBIOS datagram may have (RFC 1001 17.1.2:
// 1064 bytes with the IP and UDP headers); larger ones are not ours.
constexpr std::size_t MaxPacket = 1064 - 28;
constexpr int DatagramErrorsPerSecond = 10;
// Lookup waits: both suffixes' broadcast tries (1.5 s) plus the loop's
// slack; with a server, also its tries when it falls silent (1.5 s).
constexpr milliseconds BroadcastLookupWait{2500};
constexpr milliseconds ServerLookupWait{4000};

std::uint16_t RandomId()
{
    std::random_device rd;
    return static_cast<std::uint16_t>(rd());
}

std::string Where(const Endpoint &e)
{
    return FormatIpv4(e.Address) + ":" + std::to_string(e.Port);
}

} // namespace

std::unique_ptr<Daemon> Daemon::Create(DaemonConfig config, std::string &error)
{
    std::unique_ptr<Daemon> d(new Daemon);
    struct Wanted {
        const char *what;
        const std::string &text;
        std::uint8_t suffix;
        NetbiosName &into;
    } wanted[] = {
        {"user name", config.User, MessengerSuffix, d->user_},
        {"computer name", config.Computer, MessengerSuffix, d->computer_},
        {"computer name", config.Computer, WorkstationSuffix, d->computer00_},
        {"workgroup", config.Workgroup, MessengerSuffix, d->workgroup_},
    };
    for (const Wanted &w : wanted) {
        const auto name = MakeNetbiosName(w.text, w.suffix);
        if (!name) {
            error = std::string("the ") + w.what + " \"" + w.text +
                    "\" is not a NetBIOS name (1 to 15 printable ASCII characters, none of \\ / : * ? \" < > |)";
            return nullptr;
        }
        w.into = *name;
    }
    if (d->user_ == d->computer_) {
        error = "the user name and the computer name must differ: both would be " + ToString(d->user_);
        return nullptr;
    }
    NetbiosName workgroup00 = d->workgroup_;
    workgroup00.Bytes[NetbiosNameTextLimit] = WorkstationSuffix;
    if (d->workgroup_ == d->user_ || d->workgroup_ == d->computer_) {
        error = "the workgroup must differ from the user name and the computer name";
        return nullptr;
    }
    // In the order Windows lists them (nbtstat -n): nbtscan takes the last
    // unique <03> name of a node status answer for its user.
    d->table_.Add(d->computer00_, false);
    d->table_.Add(workgroup00, true);
    d->table_.Add(d->computer_, false);
    d->table_.Add(d->user_, false);
    d->table_.Add(d->workgroup_, true);
    d->config_ = std::move(config);
    d->resolver_ = std::make_unique<Resolver>(RandomId());
    if (d->config_.Wins) {
        d->server_ = std::make_unique<NameServer>(*d->config_.Wins);
        d->table_.UseServer(d->server_.get());
        d->resolver_->UseServer(d->server_.get());
    }
    d->nextDatagramId_ = RandomId();
    d->wake_.reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!d->wake_) {
        error = "cannot create an eventfd";
        return nullptr;
    }
    return d;
}

void Daemon::Attach(DaemonSockets sockets) { sockets_ = sockets; }

void Daemon::Log(const std::string &line) const
{
    if (config_.Log)
        config_.Log(line);
}

bool Daemon::Register(std::string &error)
{
    table_.StartRegistration(std::chrono::steady_clock::now(), RandomId());
    while (!stop_ && !table_.Refused() && !table_.AllHeld())
        Pump();
    if (table_.AllHeld() && !stop_)
        return true;
    if (const auto refusal = table_.Refused())
        error = "the name " + ToString(refusal->Name) + " is held by " +
                (refusal->Owner ? FormatIpv4(refusal->Owner)
                                : "another host (the WINS server " + FormatIpv4(server_->Address()) +
                                      " did not say which)");
    Release();
    return false;
}

void Daemon::Run()
{
    receiving_ = true;
    while (!stop_)
        Pump();
    receiving_ = false;
    EndLookups();
}

void Daemon::Release()
{
    EndLookups();
    table_.StartRelease(std::chrono::steady_clock::now());
    stop_ = true; // a signal now only ends what is already ending
    while (!table_.Released())
        Pump();
}

void Daemon::EndLookups()
{
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
    for (auto &r : posted_)
        r->Reply.set_value(std::nullopt);
    posted_.clear();
    for (auto &[ticket, r] : waiting_)
        r->Reply.set_value(std::nullopt);
    waiting_.clear();
}

void Daemon::Pump()
{
    const SteadyTime now = std::chrono::steady_clock::now();
    int timeout = 1000;
    for (const auto &deadline : {table_.NextDeadline(), resolver_->NextDeadline()})
        if (deadline) {
            const auto ms = std::chrono::ceil<milliseconds>(*deadline - now).count();
            timeout = static_cast<int>(std::clamp<long long>(ms, 0, timeout));
        }

    enum { Names, NamesBroadcast, Datagrams, DatagramsBroadcast, Control, Wake, Signals, Count };
    pollfd fds[Count] = {
        {sockets_.Names, POLLIN, 0},
        {sockets_.NamesBroadcast, POLLIN, 0},
        {receiving_ ? sockets_.Datagrams : -1, POLLIN, 0},
        {receiving_ ? sockets_.DatagramsBroadcast : -1, POLLIN, 0},
        {sockets_.Control, POLLIN, 0},
        {wake_.get(), POLLIN, 0},
        {sockets_.Signals, POLLIN, 0},
    };
    if (::poll(fds, Count, timeout) < 0)
        return; // EINTR: the next round looks again

    const SteadyTime after = std::chrono::steady_clock::now();
    for (int i : {Names, NamesBroadcast, Datagrams, DatagramsBroadcast})
        if (fds[i].revents & POLLERR)
            ClearSocketError(fds[i].fd);
    if (fds[Signals].revents & POLLIN) {
        signalfd_siginfo info{};
        if (::read(sockets_.Signals, &info, sizeof info) > 0 && !stop_) {
            Log("signal " + std::to_string(info.ssi_signo) + ": ending");
            stop_ = true;
        }
    }
    if (fds[Wake].revents & POLLIN) {
        std::uint64_t count;
        while (::read(wake_.get(), &count, sizeof count) > 0) {
        }
    }
    TakeRequests(after);
    for (int i : {Names, NamesBroadcast})
        if (fds[i].revents & POLLIN)
            ReadNameService(fds[i].fd, after);
    for (int i : {Datagrams, DatagramsBroadcast})
        if (fds[i].revents & POLLIN)
            ReadDatagrams(fds[i].fd);
    if (fds[Control].revents & POLLIN)
        AnswerControl(sockets_.Control, StatusText());
    // Last, so that the callers' checks see what the timers just did.
    RunTimers(std::chrono::steady_clock::now());
}

void Daemon::RunTimers(SteadyTime now)
{
    for (const NameAction &a : table_.Due(now)) {
        SendNameAction(a);
        if (a.What == NameAction::Overwrite)
            Log("registered " + ToString(a.Name) + " by broadcast");
    }
    ResolverStep step = resolver_->Due(now);
    for (const ResolverQuery &q : step.Queries) {
        if (q.ToServer) {
            SendName(BuildServerQuery(q.TrnId, q.Name), server_->Where());
            Log("query " + ToString(q.Name) + " at the WINS server");
        } else {
            SendName(BuildNameQuery(q.TrnId, q.Name), {config_.Iface.Broadcast, NameServicePort});
            Log("query " + ToString(q.Name));
        }
    }
    NoteServer();
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Resolution &r : step.Done) {
        const auto it = waiting_.find(r.Ticket);
        if (it == waiting_.end())
            continue;
        Log("no host holds " + NameText(it->second->Name));
        it->second->Reply.set_value(std::nullopt);
        waiting_.erase(it);
    }
}

void Daemon::TakeRequests(SteadyTime now)
{
    std::lock_guard<std::mutex> lock(mutex_);
    while (!posted_.empty()) {
        std::shared_ptr<Request> r = std::move(posted_.front());
        posted_.pop_front();
        if (const auto hit = resolver_->Cached(r->Name, now)) {
            r->Reply.set_value(hit);
            continue;
        }
        const std::uint64_t ticket = nextTicket_++;
        waiting_[ticket] = r;
        resolver_->Begin(r->Name, ticket, now);
    }
}

std::optional<Target> Daemon::Lookup(const std::string &text)
{
    const auto name = MakeNetbiosName(text, MessengerSuffix);
    if (!name)
        return std::nullopt;
    // The station's own names are answered here: they need no query, and
    // the workgroup goes to every member, this station included.
    if (*name == user_ || *name == computer_)
        return Target{*name, false, config_.Iface.Address};
    if (*name == workgroup_)
        return Target{workgroup_, true, config_.Iface.Broadcast};

    auto request = std::make_shared<Request>();
    request->Name = *name;
    std::future<std::optional<Target>> reply = request->Reply.get_future();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (closed_)
            return std::nullopt;
        posted_.push_back(request);
    }
    const std::uint64_t one = 1;
    if (::write(wake_.get(), &one, sizeof one) < 0) {
        // The counter is already non-zero: the loop wakes anyway.
    }
    if (reply.wait_for(LookupWait()) != std::future_status::ready)
        return std::nullopt;
    return reply.get();
}

bool Daemon::Send(const std::string &name, const std::uint8_t *data, std::size_t size)
{
    const auto target = Lookup(name);
    if (!target)
        return false;
    DatagramHeader h;
    h.Type = target->Group ? DirectGroup : DirectUnique;
    h.Id = nextDatagramId_++;
    h.SourceIp = config_.Iface.Address;
    h.SourcePort = DatagramPort;
    h.Source = user_;
    h.Destination = target->Name;
    const std::vector<std::uint8_t> packet = BuildMessengerDatagram(h, data, size);
    if (packet.empty()) {
        Log("not sent to " + ToString(target->Name) + ": " + std::to_string(size) +
            " bytes is more than a mailslot write carries");
        ++counters_.SendFailed;
        return false;
    }
    const Endpoint to{target->Group ? config_.Iface.Broadcast : target->Address, DatagramPort};
    if (!SendTo(sockets_.Datagrams, to, packet.data(), packet.size())) {
        ++counters_.SendFailed;
        Log("send to " + ToString(target->Name) + " at " + Where(to) + " failed");
        return false;
    }
    ++counters_.DatagramsOut;
    Log("sent " + std::to_string(size) + " bytes to " + ToString(target->Name) + " at " + Where(to));
    return true;
}

milliseconds Daemon::LookupWait() const { return server_ ? ServerLookupWait : BroadcastLookupWait; }

bool Daemon::Answerable(Ipv4 a) const
{
    // Never answer towards a broadcast, multicast or unspecified source: a
    // forged one would turn one packet into many.
    return a != 0 && a != 0xFFFFFFFFu && a != config_.Iface.Broadcast && (a >> 28) != 0xE;
}

void Daemon::ReadNameService(int fd, SteadyTime now)
{
    std::uint8_t buf[MaxPacket];
    for (int i = 0; i < ReadBurst; ++i) {
        Endpoint from;
        const long n = ReceiveFrom(fd, buf, sizeof buf, from);
        if (n < 0)
            return;
        // Our own broadcasts come back to us; they are not another host's.
        if (from.Address == config_.Iface.Address)
            continue;
        ++counters_.NameIn;
        if (static_cast<std::size_t>(n) > sizeof buf) {
            ++counters_.NameMalformed;
            continue;
        }
        HandleNamePacket(buf, static_cast<std::size_t>(n), from, now);
    }
}

void Daemon::HandleNamePacket(const std::uint8_t *data, std::size_t size, const Endpoint &from, SteadyTime now)
{
    NameServicePacket p;
    if (!ParseNameService(data, size, p)) {
        ++counters_.NameMalformed;
        return;
    }
    // The server's answers to our requests; anything else from its host is
    // taken as from any other host.
    if (server_ && from.Address == server_->Address() && (p.Flags & 0x8000) && HandleServerAnswer(p, now))
        return;
    switch (p.Kind) {
    case NameServiceKind::NodeStatusRequest:
        if (Answerable(from.Address))
            AnswerNodeStatus(p, from);
        break;
    case NameServiceKind::Query:
        if (Answerable(from.Address))
            if (const auto a = table_.OnQuery(p.Name, p.TransactionId, from)) {
                SendNameAction(*a);
                Log("answered " + FormatIpv4(from.Address) + "'s query for " + ToString(p.Name));
            }
        break;
    case NameServiceKind::Registration:
    case NameServiceKind::OverwriteDemand:
        if (Answerable(from.Address))
            if (const auto a = table_.OnRegistration(p.Name, p.Group, p.TransactionId, from)) {
                SendNameAction(*a);
                Log("defended " + ToString(p.Name) + " against " + FormatIpv4(from.Address));
            }
        break;
    case NameServiceKind::NegativeRegistrationResponse:
        if (table_.OnNegativeResponse(p.Name, p.TransactionId, p.Address ? p.Address : from.Address))
            Log(FormatIpv4(from.Address) + " defends " + ToString(p.Name));
        break;
    case NameServiceKind::ConflictDemand:
        if (table_.OnConflictDemand(p.Name))
            Log("conflict demand from " + FormatIpv4(from.Address) + ": " + ToString(p.Name) +
                " is no longer used");
        break;
    case NameServiceKind::PositiveQueryResponse: {
        const auto done = resolver_->OnAnswer(p.Name, p.TransactionId, p.Group, from.Address, now);
        if (done.empty())
            break;
        Log(ToString(p.Name) + " is " + (p.Group ? "a group" : "held by " + FormatIpv4(from.Address)));
        FinishLookups(done);
        break;
    }
    case NameServiceKind::Release:
        resolver_->Forget(p.Name, from.Address);
        break;
    default:
        break; // answers of a name server come only from ours
    }
}

void Daemon::FinishLookups(const std::vector<Resolution> &done)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Resolution &r : done) {
        const auto it = waiting_.find(r.Ticket);
        if (it != waiting_.end()) {
            it->second->Reply.set_value(r.Found);
            waiting_.erase(it);
        }
    }
}

void Daemon::ReadDatagrams(int fd)
{
    std::uint8_t buf[MaxPacket];
    for (int i = 0; i < ReadBurst; ++i) {
        Endpoint from;
        const long n = ReceiveFrom(fd, buf, sizeof buf, from);
        if (n < 0)
            return;
        if (static_cast<std::size_t>(n) > sizeof buf) {
            ++counters_.Oversized;
            Log("dropped an oversized datagram from " + Where(from));
            continue;
        }
        HandleDatagram(buf, static_cast<std::size_t>(n), from);
    }
}

bool Daemon::ForStation(const NetbiosName &d) const
{
    return table_.Holds(d) || d == computer00_ || IsBroadcastName(d);
}

void Daemon::HandleDatagram(const std::uint8_t *data, std::size_t size, const Endpoint &from)
{
    if (size == DatagramErrorSize && data[0] == DatagramErrorType && from.Address != config_.Iface.Address) {
        // The host we sent to no longer holds the name: ask again next time.
        resolver_->ForgetOwner(from.Address);
        char code[8];
        std::snprintf(code, sizeof code, "0x%02x", data[10]);
        Log(std::string("DATAGRAM ERROR ") + code + " from " + Where(from));
    }
    ParsedDatagram header;
    DatagramDrop drop = ParseDatagram(data, size, header);
    if (drop == DatagramDrop::None && !ForStation(header.Header.Destination)) {
        ++counters_.NotForUs;
        Log("dropped a datagram from " + Where(from) + " to " + ToString(header.Header.Destination) +
            ": not for this station");
        if (header.Header.Type == DirectUnique)
            MaybeSendDatagramError(header.Header, from);
        return;
    }
    MessengerDatagram m;
    if (drop == DatagramDrop::None)
        drop = ParseMessengerDatagram(data, size, m);
    if (drop != DatagramDrop::None) {
        ++counters_.Dropped[static_cast<std::size_t>(drop)];
        Log("dropped a datagram from " + Where(from) + ": " + DropText(drop));
        return;
    }
    ++counters_.DatagramsIn;
    Log("delivered " + std::to_string(m.PayloadSize) + " bytes from " + ToString(m.Header.Source) + " at " +
        FormatIpv4(from.Address) + " to " + ToString(m.Header.Destination));
    if (config_.Deliver)
        config_.Deliver(data + m.PayloadOffset, m.PayloadSize);
}

void Daemon::MaybeSendDatagramError(const DatagramHeader &header, const Endpoint &from)
{
    // RFC 1002 5.3.3 answers a DIRECT_UNIQUE for a name not here with
    // DATAGRAM ERROR. It goes to the packet's real source, never to the
    // address written inside it, and at most a few a second.
    if (from.Address == config_.Iface.Address || !Answerable(from.Address) || from.Port == 0)
        return;
    const SteadyTime now = std::chrono::steady_clock::now();
    if (now - errorWindow_ >= std::chrono::seconds(1)) {
        errorWindow_ = now;
        errorsInWindow_ = 0;
    }
    if (errorsInWindow_ >= DatagramErrorsPerSecond)
        return;
    ++errorsInWindow_;
    const auto packet = BuildDatagramError(header.Id, config_.Iface.Address, DatagramPort, NameNotPresent);
    if (SendTo(sockets_.Datagrams, from, packet.data(), packet.size()))
        ++counters_.ErrorsSent;
    else
        ++counters_.SendFailed;
}

void Daemon::SendNameAction(const NameAction &a)
{
    const Ipv4 self = config_.Iface.Address;
    const Endpoint broadcast{config_.Iface.Broadcast, NameServicePort};
    const std::uint8_t type = table_.NodeType();
    constexpr std::uint32_t asked = NameServer::AskedTtl;
    switch (a.What) {
    case NameAction::Register:
        SendName(BuildRegistration(a.TrnId, a.Name, a.Group, self, type), broadcast);
        break;
    case NameAction::Overwrite:
        SendName(BuildOverwriteDemand(a.TrnId, a.Name, a.Group, self, type), broadcast);
        break;
    case NameAction::Release:
        SendName(BuildRelease(a.TrnId, a.Name, a.Group, self, type), broadcast);
        break;
    case NameAction::AnswerQuery:
        SendName(BuildPositiveQueryResponse(a.TrnId, a.Name, AnswerTtl, a.Group, self, type), a.To);
        break;
    case NameAction::RefuseRegistration:
        SendName(BuildNegativeRegistrationResponse(a.TrnId, a.Name, AnswerTtl, a.Group, self, type), a.To);
        break;
    case NameAction::ServerRegister:
        SendName(BuildServerRegistration(a.TrnId, a.Name, a.Group, type, self, asked), a.To);
        break;
    case NameAction::ServerRefresh:
        SendName(BuildRefresh(a.TrnId, a.Name, a.Group, type, self, asked), a.To);
        break;
    case NameAction::ServerRelease:
        SendName(BuildServerRelease(a.TrnId, a.Name, a.Group, type, self), a.To);
        break;
    case NameAction::AskServer:
        SendName(BuildServerQuery(a.TrnId, a.Name), a.To);
        break;
    }
}

void Daemon::SendName(const std::vector<std::uint8_t> &packet, const Endpoint &to)
{
    if (SendTo(sockets_.Names, to, packet.data(), packet.size()))
        ++counters_.NameOut;
    else
        ++counters_.SendFailed;
}

std::string Daemon::NamesText() const
{
    std::string text;
    for (const NameEntry &e : table_.Entries())
        text += (text.empty() ? "" : " ") + ToString(e.Name);
    return text;
}

std::string Daemon::StatusText() const
{
    const Interface &i = config_.Iface;
    std::string text = "gateway of " + config_.User + " on " + config_.Computer + ", " + FormatIpv4(i.Address) +
                       "/" + std::to_string(i.PrefixLength) + " (" + i.Name + ")\nnames:\n";
    const SteadyTime now = std::chrono::steady_clock::now();
    for (const NameEntry &e : table_.Entries()) {
        text += "  " + ToString(e.Name) + " " + (e.Group ? "group" : "unique") + " " + NameStateText(e.State);
        if (e.State == NameState::Held && e.AtServer)
            text += ", WINS " + FormatIpv4(server_->Address()) + ", refresh in " +
                    std::to_string(std::max<long long>(
                        0, std::chrono::duration_cast<std::chrono::seconds>(e.RefreshAt - now).count())) +
                    " s";
        else if (e.State == NameState::Held)
            text += " by broadcast";
        text += "\n";
    }
    text += CountersText(counters_);
    if (config_.ExtraStatus)
        text += config_.ExtraStatus();
    return text;
}
