// See PopupQueue.h.
#include "presentation/PopupQueue.h"

std::string PopupQueue::Packed(Popup popup)
{
    // A caption comes from the clock and the locale and never holds a NUL.
    std::string packed = std::move(popup.Caption);
    packed += '\0';
    packed += popup.Text;
    return packed;
}

Popup PopupQueue::Unpacked(std::string packed)
{
    const std::size_t end = packed.find('\0');
    Popup popup{packed.substr(0, end), std::string()};
    if (end != std::string::npos)
        popup.Text = packed.substr(end + 1);
    return popup;
}

std::optional<Popup> PopupQueue::Admit(Popup popup)
{
    const std::lock_guard<std::mutex> hold(lock_);
    if (open_ < limit_) {
        ++open_;
        return popup;
    }
    waiting_.push_back(Packed(std::move(popup)));
    return std::nullopt;
}

std::optional<Popup> PopupQueue::Next()
{
    const std::lock_guard<std::mutex> hold(lock_);
    if (waiting_.empty()) {
        if (open_ > 0)
            --open_;
        return std::nullopt;
    }
    std::string next = std::move(waiting_.front());
    waiting_.pop_front();
    return Unpacked(std::move(next));
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

std::uint64_t PopupQueue::OpeningDelay(std::uint64_t nowMs)
{
    const std::lock_guard<std::mutex> hold(lock_);
    const std::uint64_t at = nextOpening_ > nowMs ? nextOpening_ : nowMs;
    nextOpening_ = at + interval_;
    return at - nowMs;
}
