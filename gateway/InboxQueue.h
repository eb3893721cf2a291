// The gateway's side of the inbox stream: datagrams waiting to go into the
// FIFO (bounded; past the bound they are dropped and counted), and the frame
// boundaries of what was already written, so that a new relay can start on a
// whole frame after one died in the middle of reading. Pure; not thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

class InboxQueue {
public:
    // `maxFrames`: datagrams that may wait here; `pipeCapacity`: the most
    // bytes the FIFO holds unread, which bounds the boundaries kept.
    InboxQueue(std::size_t maxFrames, std::size_t pipeCapacity);

    enum class Verdict { Queued, Full, BadSize };
    Verdict Push(const std::uint8_t *data, std::size_t size);

    // Encoded bytes not yet in the FIFO; Written(n) after n of them went in.
    std::string_view Pending() const { return pending_; }
    void Written(std::size_t n);
    std::size_t Waiting() const { return waitingFrames_; }

    // The reader died leaving `unread` bytes in the FIFO. Returns how many of
    // them to read away so that the next reader starts on a frame; a frame
    // the dead reader had begun is dropped, including any part still here.
    std::size_t SkipToBoundary(std::size_t unread);

private:
    std::size_t maxFrames_, pipeCapacity_;
    std::string pending_;
    std::size_t waitingFrames_ = 0; // frames that are not wholly in the FIFO
    std::uint64_t written_ = 0;      // stream offset of pending_'s first byte
    std::deque<std::uint64_t> ends_; // stream offsets where frames end
};
