// Framing of the inbox FIFO between the gateway and its Wine-side relay:
// a 2-byte little-endian length, then that many bytes (1..MaxFrameData).
// Pure code shared by both ends; owns nothing but a reader's partial frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr std::size_t MaxFrameData = 1024;
constexpr std::size_t FrameHeaderSize = 2;

// Appends one frame to `out`; false (and `out` unchanged) for an empty or
// oversized datagram, which the format cannot carry.
bool AppendFrame(std::string &out, const std::uint8_t *data, std::size_t size);

// Cuts a byte stream, fed in pieces of any size, back into frames.
class FrameReader {
public:
    void Feed(const char *bytes, std::size_t size) { pending_.append(bytes, size); }
    enum class Result { Frame, NeedMore, Corrupt };
    // Takes the next whole frame into `frame`. Corrupt (a length of 0 or past
    // the limit) means the stream has lost its boundaries for good.
    Result Next(std::string &frame);

private:
    std::string pending_;
    std::size_t start_ = 0;
};
