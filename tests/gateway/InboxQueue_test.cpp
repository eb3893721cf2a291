// The queue in front of the inbox FIFO: its bound, and where a new relay
// starts after one died in the middle of the stream.
#include "gateway/InboxQueue.h"

#include "gateway/InboxFrame.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::uint8_t *Bytes(const std::string &s) { return reinterpret_cast<const std::uint8_t *>(s.data()); }

// Frames of 10 bytes of data, 12 on the wire, each filled with its own letter.
std::string Frame(char letter) { return std::string(10, letter); }

std::vector<std::string> Decode(const std::string &stream)
{
    FrameReader reader;
    reader.Feed(stream.data(), stream.size());
    std::vector<std::string> frames;
    std::string frame;
    while (reader.Next(frame) == FrameReader::Result::Frame)
        frames.push_back(frame);
    return frames;
}

TEST(InboxQueue, HoldsAtMostItsBoundOfWaitingDatagrams)
{
    InboxQueue queue(3, 65536);
    for (char c : {'a', 'b', 'c'})
        EXPECT_EQ(queue.Push(Bytes(Frame(c)), 10), InboxQueue::Verdict::Queued);
    EXPECT_EQ(queue.Push(Bytes(Frame('d')), 10), InboxQueue::Verdict::Full);

    queue.Written(13); // one frame and one byte of the next went into the FIFO
    EXPECT_EQ(queue.Waiting(), 2u);
    EXPECT_EQ(queue.Push(Bytes(Frame('e')), 10), InboxQueue::Verdict::Queued);
    EXPECT_EQ(queue.Push(Bytes(Frame('f')), 10), InboxQueue::Verdict::Full);

    queue.Written(queue.Pending().size());
    EXPECT_EQ(queue.Waiting(), 0u);
    EXPECT_EQ(queue.Push(Bytes(std::string(1025, 'x')), 1025), InboxQueue::Verdict::BadSize);
    EXPECT_EQ(queue.Push(Bytes(Frame('g')), 0), InboxQueue::Verdict::BadSize);
}

// The FIFO as a string: what was written and not yet read.
struct Pipe {
    InboxQueue Queue{100, 65536};
    std::string Fifo;
    void Push(char c) { ASSERT_EQ(Queue.Push(Bytes(Frame(c)), 10), InboxQueue::Verdict::Queued); }
    void Write(std::size_t n)
    {
        Fifo.append(Queue.Pending().substr(0, n));
        Queue.Written(n);
    }
    void Read(std::size_t n) { Fifo.erase(0, n); }
    // What the next relay reads, after the realignment and the rest written.
    std::vector<std::string> Restart()
    {
        Fifo.erase(0, Queue.SkipToBoundary(Fifo.size()));
        Write(Queue.Pending().size());
        return Decode(Fifo);
    }
};

TEST(InboxQueue, ANewRelayStartsOnTheFrameAfterTheOneTheDeadRelayBegan)
{
    const std::vector<std::string> bcd = {Frame('b'), Frame('c'), Frame('d')};
    {
        Pipe p; // died between frames: nothing is lost
        for (char c : {'a', 'b', 'c', 'd'})
            p.Push(c);
        p.Write(48);
        p.Read(12);
        EXPECT_EQ(p.Restart(), bcd);
    }
    {
        Pipe p; // died inside a frame that was wholly in the FIFO
        for (char c : {'a', 'b', 'c', 'd'})
            p.Push(c);
        p.Write(48);
        p.Read(5);
        EXPECT_EQ(p.Restart(), bcd);
    }
    {
        Pipe p; // died inside a frame that was only partly written
        for (char c : {'z', 'a', 'b', 'c', 'd'})
            p.Push(c);
        p.Write(17);
        p.Read(15);
        EXPECT_EQ(p.Restart(), bcd);
    }
    {
        Pipe p; // nothing read at all
        p.Push('b');
        p.Write(3);
        EXPECT_EQ(p.Restart(), std::vector<std::string>{Frame('b')});
    }
}

TEST(InboxQueue, BoundariesSurviveALongStreamThroughASmallFifo)
{
    InboxQueue queue(1000, 40); // the FIFO holds at most 40 bytes unread
    std::string fifo;
    for (int i = 0; i < 1000; ++i) {
        const char letter = static_cast<char>('a' + i % 26);
        ASSERT_EQ(queue.Push(Bytes(Frame(letter)), 10), InboxQueue::Verdict::Queued);
        const std::size_t room = 40 - fifo.size();
        const std::size_t n = std::min(room, queue.Pending().size());
        fifo.append(queue.Pending().substr(0, n));
        queue.Written(n);
        fifo.erase(0, std::min<std::size_t>(fifo.size(), 11)); // the reader lags behind
    }
    fifo.erase(0, queue.SkipToBoundary(fifo.size()));
    fifo.append(queue.Pending());
    const auto frames = Decode(fifo);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back(), Frame(static_cast<char>('a' + 999 % 26)));
    EXPECT_EQ(frames.size() * 12, fifo.size()) << "starts on a boundary";
}

} // namespace
