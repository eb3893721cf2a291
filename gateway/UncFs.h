// The file system Wine sees as \\NAME\...: served on the UNC mount (UncMount),
// it holds only NAME/mailslot/messngr, for exactly the names the daemon says
// exist, and turns every write on it into one datagram. Owns the libfuse
// instance and the threads that serve it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "gateway/Network.h"

class UncMount;
struct fuse;

struct UncHooks {
    // Blocking up to ~1.5 s; thread-safe; name as Wine wrote it.
    std::function<bool(const std::string &name)> Exists;
    // One datagram; false when it could not be sent.
    std::function<bool(const std::string &name, const std::uint8_t *data, std::size_t size)> Send;
};

// A name Exists denied is not asked again for half a second; an answer that
// it exists is never kept.
class UncFs {
public:
    // Serves `mount` on threads of its own until destroyed; `mount` must
    // outlive it.
    static std::unique_ptr<UncFs> Serve(const UncMount &mount, UncHooks hooks, std::string &error);
    // Ends the threads at once, then closes its copy of the device.
    ~UncFs();

    // For the file system's callbacks.
    const UncHooks &Hooks() const { return hooks_; }

private:
    UncFs() = default;
    void ServeLoop();

    UncHooks hooks_;
    fuse *fs_ = nullptr;
    UniqueFd wake_; // eventfd, readable once the threads are to stop
    std::atomic<bool> stopping_{false};
    std::vector<std::thread> threads_;
    std::mutex reader_; // held by the one thread waiting for a request
};
