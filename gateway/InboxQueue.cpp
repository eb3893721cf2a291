// See InboxQueue.h.
#include "gateway/InboxQueue.h"

#include "gateway/InboxFrame.h"

#include <algorithm>

InboxQueue::InboxQueue(std::size_t maxFrames, std::size_t pipeCapacity)
    : maxFrames_(maxFrames), pipeCapacity_(pipeCapacity)
{
}

InboxQueue::Verdict InboxQueue::Push(const std::uint8_t *data, std::size_t size)
{
    if (size == 0 || size > MaxFrameData)
        return Verdict::BadSize;
    if (waitingFrames_ >= maxFrames_)
        return Verdict::Full;
    AppendFrame(pending_, data, size);
    ends_.push_back(written_ + pending_.size());
    ++waitingFrames_;
    return Verdict::Queued;
}

void InboxQueue::Written(std::size_t n)
{
    n = std::min(n, pending_.size());
    pending_.erase(0, n);
    written_ += n;
    // Frames now wholly in the FIFO no longer wait here.
    waitingFrames_ = static_cast<std::size_t>(
        ends_.end() - std::upper_bound(ends_.begin(), ends_.end(), written_));
    // The FIFO cannot hold more than its capacity unread, so a reader has
    // consumed at least up to here; earlier boundaries can never matter.
    while (!ends_.empty() && ends_.front() + pipeCapacity_ < written_)
        ends_.pop_front();
}

std::size_t InboxQueue::SkipToBoundary(std::size_t unread)
{
    unread = std::min<std::uint64_t>(unread, written_);
    const std::uint64_t consumed = written_ - unread;
    if (consumed == 0)
        return 0;
    const auto end = std::lower_bound(ends_.begin(), ends_.end(), consumed);
    if (end == ends_.end() || *end == consumed)
        return 0;
    if (*end <= written_)
        return static_cast<std::size_t>(*end - consumed);
    // The broken frame is only partly in the FIFO: drop the rest of it here.
    const std::size_t rest = static_cast<std::size_t>(*end - written_);
    Written(rest);
    return unread;
}
