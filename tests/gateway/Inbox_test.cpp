// The inbox as the daemon uses it, on a real FIFO in a temporary prefix: the
// caller never waits, order is kept, the bound drops and counts; and the
// relay, here a stand-in for `wine`, is started with the prefix, restarted
// on a frame boundary after it died halfway through one, and stopped.
#include "gateway/Inbox.h"

#include "gateway/InboxFrame.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
using Clock = std::chrono::steady_clock;

class InboxTest : public testing::Test {
protected:
    void SetUp() override
    {
        char dir[] = "/tmp/inbox-test-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        prefix_ = dir;
        fifo_ = prefix_ + "/tindrel-gateway/inbox";
        std::string error;
        ASSERT_TRUE(OpenInbox(prefix_, error)) << error;
    }
    void TearDown() override
    {
        CloseInbox();
        EXPECT_NE(access(fifo_.c_str(), F_OK), 0) << "the FIFO is removed";
        std::error_code error;
        std::filesystem::remove_all(prefix_, error);
        EXPECT_FALSE(error) << error.message();
    }
    static std::string Datagram(int index, std::size_t size = 420)
    {
        std::string d = std::to_string(index) + ":";
        d.resize(size, '.');
        return d;
    }
    static void Deliver(const std::string &d)
    {
        DeliverToStation(reinterpret_cast<const std::uint8_t *>(d.data()), d.size());
    }
    // Reads `count` frames off the FIFO as the relay would, for at most 10 s.
    std::vector<std::string> Read(std::size_t count)
    {
        const int fd = open(fifo_.c_str(), O_RDONLY | O_NONBLOCK);
        EXPECT_GE(fd, 0);
        FrameReader reader;
        std::vector<std::string> frames;
        std::string frame;
        char buffer[8192];
        const auto until = Clock::now() + std::chrono::seconds(10);
        while (frames.size() < count && Clock::now() < until) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                continue;
            }
            reader.Feed(buffer, static_cast<std::size_t>(n));
            while (reader.Next(frame) == FrameReader::Result::Frame)
                frames.push_back(frame);
        }
        close(fd);
        return frames;
    }

    std::string prefix_, fifo_;
};

TEST_F(InboxTest, AStationThatDoesNotReadNeitherBlocksNorReordersTheGateway)
{
    const auto start = Clock::now();
    constexpr int Total = 6000;
    for (int i = 0; i < Total; ++i)
        Deliver(Datagram(i));
    Deliver(std::string());
    Deliver(std::string(1025, 'x'));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));

    InboxCounts counts = InboxStatistics();
    EXPECT_EQ(counts.Queued + counts.DroppedFull, static_cast<std::uint64_t>(Total));
    EXPECT_GE(counts.Queued, InboxQueueLimit);
    EXPECT_GT(counts.DroppedFull, 0u);
    EXPECT_EQ(counts.DroppedSize, 2u);

    const auto frames = Read(counts.Queued);
    ASSERT_EQ(frames.size(), counts.Queued);
    for (std::size_t i = 0; i < frames.size(); ++i)
        ASSERT_EQ(frames[i], Datagram(static_cast<int>(i))) << "the first ones are kept, in order";
    EXPECT_EQ(InboxStatistics().Waiting, 0u);

    Deliver(Datagram(7, 1024)); // room again once the station read
    EXPECT_EQ(Read(1), std::vector<std::string>{Datagram(7, 1024)});
}

// The stand-in for `wine`: its first run reads the start of a frame and
// dies; the second stays and ignores SIGTERM.
const char *FakeWine = R"sh(#!/bin/sh
printf '%s|%s|%s|%s\n' "$WINEPREFIX" "$WINEDEBUG" "$1" "$2" >> "$FAKE_WINE_DIR/log"
fifo=$(printf '%s' "$2" | sed 's/^Z://; s/\\/\//g')
if [ "$(wc -l < "$FAKE_WINE_DIR/log")" = 1 ]; then
    dd if="$fifo" bs=5 count=1 status=none >/dev/null
    exit 4
fi
trap '' TERM
echo $$ > "$FAKE_WINE_DIR/pid"
exec sleep 60
)sh";

TEST_F(InboxTest, TheRelayRestartsOnAFrameBoundaryAndIsStoppedAtTheEnd)
{
    const std::string bin = prefix_ + "/bin";
    ASSERT_EQ(mkdir(bin.c_str(), 0755), 0);
    std::ofstream(bin + "/wine") << FakeWine;
    ASSERT_EQ(chmod((bin + "/wine").c_str(), 0755), 0);
    std::ofstream(bin + "/relay.exe") << "";
    const std::string path = std::getenv("PATH");
    setenv("PATH", (bin + ":" + path).c_str(), 1);
    setenv("FAKE_WINE_DIR", bin.c_str(), 1);

    for (int i = 0; i < 3; ++i)
        Deliver(Datagram(i));
    std::string error;
    const bool started = StartRelay(bin + "/relay.exe", prefix_, error);
    setenv("PATH", path.c_str(), 1);
    ASSERT_TRUE(started) << error;

    const auto until = Clock::now() + std::chrono::seconds(10);
    while (access((bin + "/pid").c_str(), F_OK) != 0 && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pid_t second = 0;
    std::ifstream(bin + "/pid") >> second;
    ASSERT_GT(second, 0) << "restarted";
    EXPECT_EQ(InboxStatistics().RelayStarts, 2u);
    EXPECT_EQ(Read(2), (std::vector<std::string>{Datagram(1), Datagram(2)}));

    std::ifstream log(bin + "/log");
    std::string line;
    ASSERT_TRUE(std::getline(log, line));
    std::string windows = "Z:" + fifo_;
    for (auto &c : windows)
        c = c == '/' ? '\\' : c;
    EXPECT_EQ(line, prefix_ + "|-all|" + bin + "/relay.exe|" + windows);

    CloseInbox();
    EXPECT_EQ(kill(second, 0), -1) << "killed after its grace";
    EXPECT_EQ(errno, ESRCH);
}

} // namespace
