// See PopupQueue.h.
#include "presentation/PopupQueue.h"

void PopupQueue::Hold(Popup popup)
{
    const std::lock_guard<std::mutex> hold(lock_);
    waiting_.push_back(std::move(popup));
}

std::vector<Popup> PopupQueue::Release()
{
    const std::lock_guard<std::mutex> hold(lock_);
    std::vector<Popup> now;
    while (open_ < limit_ && !waiting_.empty()) {
        now.push_back(std::move(waiting_.front()));
        waiting_.pop_front();
        ++open_;
    }
    return now;
}

std::optional<Popup> PopupQueue::Next()
{
    const std::lock_guard<std::mutex> hold(lock_);
    if (waiting_.empty()) {
        if (open_ > 0)
            --open_;
        return std::nullopt;
    }
    Popup next = std::move(waiting_.front());
    waiting_.pop_front();
    return next;
}

void PopupQueue::Abandon()
{
    const std::lock_guard<std::mutex> hold(lock_);
    if (open_ > 0)
        --open_;
}

std::size_t PopupQueue::Open() const
{
    const std::lock_guard<std::mutex> hold(lock_);
    return open_;
}

std::size_t PopupQueue::Waiting() const
{
    const std::lock_guard<std::mutex> hold(lock_);
    return waiting_.size();
}
