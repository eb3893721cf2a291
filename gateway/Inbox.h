// Delivery of received datagrams towards the station: the inbox FIFO,
// WINEPREFIX/tindrel-gateway/inbox, that the Wine-side relay reads, the
// bounded queue in front of it, and the thread that writes it. Owns the FIFO
// (removed when destroyed), the queue, the writer and the counts. Thread-safe.
#pragma once

#include "gateway/InboxQueue.h"
#include "gateway/Network.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

struct InboxCounts {
    std::uint64_t Queued = 0;       // accepted for the station
    std::uint64_t DroppedFull = 0;  // the queue was at its bound
    std::uint64_t DroppedSize = 0;  // empty or longer than a frame carries
    std::uint64_t RelayStarts = 0;  // readers started, restarts included
    std::size_t Waiting = 0;        // accepted, not yet wholly in the FIFO
};

// Datagrams that may wait in the gateway when the station is slow (the FIFO
// holds about 150 more).
constexpr std::size_t InboxQueueLimit = 4096;

class Inbox {
public:
    // Creates the folder and the FIFO (replacing whatever else has its name)
    // and starts the writer.
    static std::unique_ptr<Inbox> Open(const std::string &prefix, std::string &error);
    // Stops the writer and removes the FIFO; what is still queued is lost.
    ~Inbox();

    // Queues one datagram; never blocks. Past the queue's bound, or for a size
    // the FIFO cannot carry (0 or more than 1024 bytes), it is dropped and
    // counted.
    void Deliver(const std::uint8_t *data, std::size_t size);
    InboxCounts Counts() const;
    const std::string &FifoPath() const { return fifoPath_; }

    // For the relay supervisor: a reader started; a reader died, so the next
    // one must start on a frame boundary; wait (until `until` at most) while
    // datagrams are still queued or unread in the FIFO.
    void RelayStarted();
    void Realign();
    void Drain(std::chrono::steady_clock::time_point until);

private:
    explicit Inbox(std::size_t pipeCapacity);
    void WriteLoop();

    std::string fifoPath_;
    UniqueFd fifo_; // read-write: writes never fail for want of a reader
    UniqueFd wake_; // eventfd: tells the writer to look at stopping_
    mutable std::mutex lock_;
    std::condition_variable changed_;
    InboxQueue queue_;
    InboxCounts counts_;
    bool stopping_ = false;
    std::thread writer_;
};
