// See InboxFrame.h.
#include "gateway/InboxFrame.h"

bool AppendFrame(std::string &out, const std::uint8_t *data, std::size_t size)
{
    if (size == 0 || size > MaxFrameData)
        return false;
    out.push_back(static_cast<char>(size & 0xFF));
    out.push_back(static_cast<char>(size >> 8));
    out.append(reinterpret_cast<const char *>(data), size);
    return true;
}

FrameReader::Result FrameReader::Next(std::string &frame)
{
    const std::size_t available = pending_.size() - start_;
    if (available < FrameHeaderSize)
        return Result::NeedMore;
    const std::size_t length = static_cast<unsigned char>(pending_[start_]) |
                               static_cast<std::size_t>(static_cast<unsigned char>(pending_[start_ + 1])) << 8;
    if (length == 0 || length > MaxFrameData)
        return Result::Corrupt;
    if (available < FrameHeaderSize + length)
        return Result::NeedMore;
    frame.assign(pending_, start_ + FrameHeaderSize, length);
    start_ += FrameHeaderSize + length;
    // Compact now and then rather than erasing the front for every frame.
    if (start_ == pending_.size() || start_ > 64 * 1024) {
        pending_.erase(0, start_);
        start_ = 0;
    }
    return Result::Frame;
}
