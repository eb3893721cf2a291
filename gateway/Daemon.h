// The gateway's event loop: one thread that owns the name table, the
// resolver, the WINS server's state and both UDP sockets' input, runs their
// timers, answers the control socket, and hands datagrams for the station
// to `Deliver` (the server's answers and node status: DaemonNameServer.cpp).
// Other threads (the file system's) reach it only through Lookup and Send,
// which post a request and wait for the loop's answer.
#pragma once

#include "gateway/NameServer.h"
#include "gateway/NameTable.h"
#include "gateway/Network.h"
#include "gateway/Resolver.h"
#include "gateway/Status.h"
#include "gateway/codec/NameService.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

struct DaemonConfig {
    std::string User, Computer, Workgroup;
    Interface Iface;
    std::optional<Ipv4> Wins; // an H-node with this server, else a B-node
    // Both may be empty: no -v, no station.
    std::function<void(const std::string &line)> Log;
    // What a user must know even without -v (the WINS server's silence).
    std::function<void(const std::string &line)> Notice;
    std::function<void(const std::uint8_t *data, std::size_t size)> Deliver;
    // Lines about the station's side, appended to the status text.
    std::function<std::string()> ExtraStatus;
};

// Borrowed: their owners keep them open while the daemon runs.
struct DaemonSockets {
    int Names = -1;              // UDP 137 on the interface's address: unicasts in, everything out
    int NamesBroadcast = -1;     // UDP 137 on the subnet's broadcast address, or -1
    int Datagrams = -1;          // UDP 138, likewise
    int DatagramsBroadcast = -1;
    int Control = -1;            // listening Unix socket
    int Signals = -1;            // readable when the gateway must end (a signalfd)
};

class Daemon {
public:
    // Checks the station's names; on failure says why in `error`.
    static std::unique_ptr<Daemon> Create(DaemonConfig config, std::string &error);

    void Attach(DaemonSockets sockets);
    // Registers the names with the WINS server, or by broadcast. False, with
    // the line to print, when another host holds one of them or a signal
    // came first (error empty).
    bool Register(std::string &error);
    // Serves until a signal, then ends lookups (EndLookups): nothing answers
    // them any more.
    void Run();
    // Answers every lookup in flight, and all later ones, with "no such
    // name", so the file system's threads can end.
    void EndLookups();
    // Ends lookups, then releases the names (by broadcast, and at the server).
    void Release();

    // Thread-safe; block while the name is resolved (at most LookupWait).
    std::optional<Target> Lookup(const std::string &name);
    bool Send(const std::string &name, const std::uint8_t *data, std::size_t size);

    std::string StatusText() const;
    const Counters &Counts() const { return counters_; }
    // The held names as the ready line lists them: "ALICE-PC<00> WORKGROUP<00> ...".
    std::string NamesText() const;

private:
    struct Request {
        NetbiosName Name;
        std::promise<std::optional<Target>> Reply;
    };

    Daemon() = default;
    void Pump();
    void RunTimers(SteadyTime now);
    void TakeRequests(SteadyTime now);
    void ReadNameService(int fd, SteadyTime now);
    void ReadDatagrams(int fd);
    void HandleNamePacket(const std::uint8_t *data, std::size_t size, const Endpoint &from, SteadyTime now);
    void HandleDatagram(const std::uint8_t *data, std::size_t size, const Endpoint &from);
    void SendNameAction(const NameAction &action);
    // True when it was the answer to one of our requests.
    bool HandleServerAnswer(const NameServicePacket &p, SteadyTime now);
    void AnswerNodeStatus(const NameServicePacket &p, const Endpoint &from);
    void FinishLookups(const std::vector<Resolution> &done);
    void NoteServer();
    std::chrono::milliseconds LookupWait() const;
    void SendName(const std::vector<std::uint8_t> &packet, const Endpoint &to);
    void MaybeSendDatagramError(const DatagramHeader &header, const Endpoint &from);
    bool Answerable(Ipv4 address) const;
    bool ForStation(const NetbiosName &destination) const;
    void Log(const std::string &line) const;

    DaemonConfig config_;
    NetbiosName user_, computer_, computer00_, workgroup_;
    DaemonSockets sockets_;
    UniqueFd wake_;
    NameTable table_;
    std::unique_ptr<NameServer> server_;
    bool serverSilenceTold_ = false;
    std::unique_ptr<Resolver> resolver_;
    Counters counters_;
    bool receiving_ = false;
    bool stop_ = false;
    std::atomic<std::uint16_t> nextDatagramId_{0};

    std::mutex mutex_;
    bool closed_ = false;
    std::deque<std::shared_ptr<Request>> posted_;
    std::map<std::uint64_t, std::shared_ptr<Request>> waiting_;
    std::uint64_t nextTicket_ = 1;

    // DATAGRAM ERROR answers allowed in the current second.
    SteadyTime errorWindow_{};
    int errorsInWindow_ = 0;
};
