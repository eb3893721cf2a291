// Delivery of received datagrams to the station: the inbox FIFO under
// WINEPREFIX/tindrel-gateway/, the bounded queue in front of it with the
// thread that writes it, and the Wine-side relay process that empties it into
// the station's \\.\mailslot\messngr (started, restarted when it dies, stopped
// at the end). One inbox per process; all functions are thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Creates WINEPREFIX/tindrel-gateway/inbox (a FIFO) and starts writing it.
bool OpenInbox(const std::string &prefix, std::string &error);
// Queues one datagram; never blocks. Past the queue's bound, or for a size
// the FIFO cannot carry (0 or more than 1024 bytes), it is dropped and counted.
void DeliverToStation(const std::uint8_t *data, std::size_t size);
// Runs `wine RELAY Z:\...\inbox` in the prefix until CloseInbox.
bool StartRelay(const std::string &relayExe, const std::string &prefix, std::string &error);
// Stops the relay (after a short grace to empty the queue) and the writer,
// and removes the FIFO.
void CloseInbox();

struct InboxCounts {
    std::uint64_t Queued = 0;       // accepted for the station
    std::uint64_t DroppedFull = 0;  // the queue was at its bound
    std::uint64_t DroppedSize = 0;  // empty or longer than a frame carries
    std::uint64_t RelayStarts = 0;  // includes restarts after the relay died
    std::size_t Waiting = 0;        // accepted, not yet wholly in the FIFO
};
InboxCounts InboxStatistics();

// Datagrams that may wait in the gateway when the station is slow (the FIFO
// holds about 150 more).
constexpr std::size_t InboxQueueLimit = 4096;
