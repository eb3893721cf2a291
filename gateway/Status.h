// The gateway's counters and the control socket that reports them:
// WINEPREFIX/tindrel-gateway/control.sock, a Unix stream socket on which the
// running gateway writes its status text to whoever connects, then closes.
// `tindrel-gateway status` is the client side.
#pragma once

#include "gateway/Network.h"
#include "gateway/codec/Datagram.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

// Written by the event loop and by the file system's thread (sends).
struct Counters {
    std::atomic<std::uint64_t> DatagramsIn{0};    // delivered to the station
    std::atomic<std::uint64_t> DatagramsOut{0};   // sent
    std::atomic<std::uint64_t> SendFailed{0};     // a send the kernel refused
    std::atomic<std::uint64_t> NameIn{0};         // name-service packets taken in
    std::atomic<std::uint64_t> NameOut{0};        // name-service packets sent
    std::atomic<std::uint64_t> NameMalformed{0};  // port 137 packets that parse as none of the B-node's
    std::atomic<std::uint64_t> NotForUs{0};       // datagrams to a name the station does not hold
    std::atomic<std::uint64_t> Oversized{0};      // past the largest UDP payload NetBIOS allows
    std::atomic<std::uint64_t> ErrorsSent{0};     // DATAGRAM ERROR answers
    // Indexed by DatagramDrop.
    std::array<std::atomic<std::uint64_t>, static_cast<int>(DatagramDrop::OtherMailslot) + 1> Dropped{};

    std::uint64_t DroppedTotal() const;
};

std::string CountersText(const Counters &counters);

std::string ControlSocketPath(const std::string &prefix);

// The running gateway's end: listens on the prefix's control socket until
// destroyed, then removes it. Fails when another gateway answers on it; a
// socket file left by a gateway that died is replaced.
class ControlSocket {
public:
    static std::unique_ptr<ControlSocket> Listen(const std::string &prefix, std::string &error);
    ~ControlSocket();
    int Fd() const { return fd_.get(); }

private:
    ControlSocket() = default;
    std::string path_;
    UniqueFd fd_;
};
// Accepts one waiting client and writes `text` to it without blocking long.
void AnswerControl(int listenFd, const std::string &text);
// The client: prints the running gateway's status text to stdout.
bool PrintStatus(const std::string &prefix, std::string &error);
