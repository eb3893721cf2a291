// The station's names on the network for as long as this object lives:
// registered by broadcast when it is made, released by broadcast when it is
// destroyed. A small owner over Daemon::Register and Daemon::Release.
#pragma once

#include <memory>
#include <string>

class Daemon;

class HeldNames {
public:
    // Null when they could not all be registered: `error` says which name
    // another host holds, or is empty when a signal ended the wait.
    static std::unique_ptr<HeldNames> Register(Daemon &daemon, std::string &error);
    ~HeldNames();
    HeldNames(const HeldNames &) = delete;
    HeldNames &operator=(const HeldNames &) = delete;

private:
    explicit HeldNames(Daemon &daemon) : daemon_(daemon) {}
    Daemon &daemon_;
};
