// The inbox FIFO's framing: what the gateway writes is what the relay reads,
// whole and in order, however the reads cut the stream; and what the format
// cannot carry is refused at both ends.
#include "gateway/InboxFrame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Datagram(std::size_t size, char seed)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(seed + i * 7);
    return bytes;
}

std::vector<std::string> ReadAll(const std::string &stream, std::size_t piece)
{
    FrameReader reader;
    std::vector<std::string> frames;
    std::string frame;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
        reader.Feed(stream.data() + at, std::min(piece, stream.size() - at));
        FrameReader::Result result;
        while ((result = reader.Next(frame)) == FrameReader::Result::Frame)
            frames.push_back(frame);
        EXPECT_EQ(result, FrameReader::Result::NeedMore);
    }
    return frames;
}

TEST(InboxFrame, DatagramsComeBackWholeAndInOrderHoweverTheStreamIsCut)
{
    const std::vector<std::string> sent = {Datagram(420, 'a'), Datagram(1, 'b'), Datagram(1024, 'c'),
                                           Datagram(256, 'd'), Datagram(420, 'e')};
    std::string stream;
    for (const auto &d : sent)
        ASSERT_TRUE(AppendFrame(stream, reinterpret_cast<const std::uint8_t *>(d.data()), d.size()));
    EXPECT_EQ(stream.substr(0, 2), std::string("\xa4\x01", 2)) << "420, little-endian";
    for (std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{421},
                              std::size_t{4096}})
        EXPECT_EQ(ReadAll(stream, piece), sent) << "pieces of " << piece;
}

TEST(InboxFrame, SizesTheFormatCannotCarryAreRefused)
{
    const std::string big(1025, 'x');
    std::string stream = "kept";
    EXPECT_FALSE(AppendFrame(stream, reinterpret_cast<const std::uint8_t *>(big.data()), 0));
    EXPECT_FALSE(AppendFrame(stream, reinterpret_cast<const std::uint8_t *>(big.data()), big.size()));
    EXPECT_EQ(stream, "kept");

    for (const std::string &header : {std::string("\x00\x00", 2), std::string("\x01\x04", 2),
                                     std::string("\xff\xff", 2)}) {
        FrameReader reader;
        reader.Feed(header.data(), header.size());
        std::string frame;
        EXPECT_EQ(reader.Next(frame), FrameReader::Result::Corrupt);
    }
}

} // namespace
