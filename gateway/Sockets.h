// The gateway's UDP sockets, on one network only: for the name service (137)
// and the datagram service (138) each, one socket on the interface's own
// address, which takes unicasts and sends everything, and one on its subnet's
// broadcast address, which takes broadcasts, as nmbd's "bind interfaces only"
// does. Never 0.0.0.0: on a host with several networks the gateway hears and
// answers the chosen one alone. Binding is the gateway's privileged work
// (ports below 1024), done before it gives up its rights.
#pragma once

#include "gateway/Network.h"

#include <memory>
#include <string>

class Sockets {
public:
    // Null, with one line in `error`, when a port is held by another program
    // or may not be bound (then the line says how to allow it).
    static std::unique_ptr<Sockets> Open(const Interface &iface, std::string &error);

    int Names() const { return names_.get(); }
    int Datagrams() const { return datagrams_.get(); }
    // -1 when the interface's broadcast address is its own (a /32 link).
    int NamesBroadcast() const { return namesBroadcast_.get(); }
    int DatagramsBroadcast() const { return datagramsBroadcast_.get(); }

private:
    Sockets() = default;
    UniqueFd names_, namesBroadcast_, datagrams_, datagramsBroadcast_;
};
