// The inbox as the daemon uses it, on a real FIFO in a temporary prefix: the
// caller never waits, order is kept, the bound drops and counts; and its
// relay, here a stand-in for `wine`, is started with the prefix, restarted
// on a frame boundary after it died halfway through one, and stopped, and
// never signalled once reaped, even when its process ID went to another.
#include "gateway/Inbox.h"
#include "gateway/RelaySupervisor.h"

#include "gateway/InboxFrame.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "gateway/Pidfd.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/stat.h>
#include <sys/wait.h>
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
        inbox_ = Inbox::Open(prefix_, error);
        ASSERT_TRUE(inbox_) << error;
    }
    void TearDown() override
    {
        inbox_.reset();
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
    void Deliver(const std::string &d)
    {
        inbox_->Deliver(reinterpret_cast<const std::uint8_t *>(d.data()), d.size());
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
    std::unique_ptr<Inbox> inbox_;
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

    InboxCounts counts = inbox_->Counts();
    EXPECT_EQ(counts.Queued + counts.DroppedFull, static_cast<std::uint64_t>(Total));
    EXPECT_GE(counts.Queued, InboxQueueLimit);
    EXPECT_GT(counts.DroppedFull, 0u);
    EXPECT_EQ(counts.DroppedSize, 2u);

    const auto frames = Read(counts.Queued);
    ASSERT_EQ(frames.size(), counts.Queued);
    for (std::size_t i = 0; i < frames.size(); ++i)
        ASSERT_EQ(frames[i], Datagram(static_cast<int>(i))) << "the first ones are kept, in order";
    EXPECT_EQ(inbox_->Counts().Waiting, 0u);

    Deliver(Datagram(7, 1024)); // room again once the station read
    EXPECT_EQ(Read(1), std::vector<std::string>{Datagram(7, 1024)});
}

// The stand-in for `wine`: its first run reads the start of a frame and
// dies; the second stays and ignores SIGTERM.
const char *FakeWine = R"sh(#!/bin/sh
printf '%s|%s|%s|%s|%s|%s\n' "$WINEPREFIX" "$WINEDEBUG" "$HOME" "$USER" "$1" "$2" >> "$FAKE_WINE_DIR/log"
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
    RelayCommand command;
    Account account;
    account.Name = "station";
    account.Home = "/home/station";
    account.Switch = true;
    const bool built = WineRelayCommand(bin + "/relay.exe", prefix_, fifo_, account, command, error);
    setenv("PATH", path.c_str(), 1);
    ASSERT_TRUE(built) << error;
    auto relay = RelaySupervisor::Start(*inbox_, command);

    const auto until = Clock::now() + std::chrono::seconds(10);
    while (access((bin + "/pid").c_str(), F_OK) != 0 && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    pid_t second = 0;
    std::ifstream(bin + "/pid") >> second;
    ASSERT_GT(second, 0) << "restarted";
    EXPECT_EQ(inbox_->Counts().RelayStarts, 2u);
    EXPECT_EQ(Read(2), (std::vector<std::string>{Datagram(1), Datagram(2)}));

    std::ifstream log(bin + "/log");
    std::string line;
    ASSERT_TRUE(std::getline(log, line));
    std::string windows = "Z:" + fifo_;
    for (auto &c : windows)
        c = c == '/' ? '\\' : c;
    EXPECT_EQ(line, prefix_ + "|-all|/home/station|station|" + bin + "/relay.exe|" + windows);

    relay.reset();
    EXPECT_EQ(kill(second, 0), -1) << "killed after its grace";
    EXPECT_EQ(errno, ESRCH);
}

// Runs `body` as process 1 of a PID namespace of its own, in a grandchild
// of the test; returns the failure it reports, empty when it passed.
std::string InNewPidNamespace(const std::function<std::string()> &body)
{
    int report[2];
    if (pipe(report) != 0)
        return "pipe";
    const pid_t child = fork();
    if (child == 0) {
        close(report[0]);
        std::string failure;
        if (unshare(CLONE_NEWPID) != 0) {
            failure = std::string("unshare: ") + std::strerror(errno);
        } else if (const pid_t init = fork(); init == 0) {
            failure = body();
            failure += failure.empty() ? "" : "\n";
        } else {
            int status = 0;
            waitpid(init, &status, 0);
            _exit(0);
        }
        if (write(report[1], failure.data(), failure.size()) < 0)
            _exit(1);
        _exit(0);
    }
    close(report[1]);
    std::string failure;
    char buffer[512];
    for (ssize_t n; (n = read(report[0], buffer, sizeof buffer)) > 0;)
        failure.append(buffer, static_cast<std::size_t>(n));
    close(report[0]);
    waitpid(child, nullptr, 0);
    return failure;
}

// The relay dies and something else reaps it (here the kernel, with SIGCHLD
// ignored); its process ID goes to a bystander before the supervisor is
// stopped. A supervisor that signals by ID would hit the bystander.
std::string ReapedRelayIdGoesToABystander()
{
    signal(SIGCHLD, SIG_IGN);
    char dir[] = "/tmp/relay-pid-XXXXXX";
    if (!mkdtemp(dir))
        return "mkdtemp";
    const std::string prefix = dir;
    std::string error;
    auto inbox = Inbox::Open(prefix, error);
    if (!inbox)
        return error;
    const std::string pidFile = prefix + "/pid";
    auto supervisor = RelaySupervisor::Start(
        *inbox, {"/bin/sh", {"sh", "-c", "echo $$ > " + pidFile + "; exec sleep 60"}, {}});
    pid_t relay = 0;
    for (int i = 0; i < 500 && relay <= 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::ifstream(pidFile) >> relay;
    }
    if (relay <= 0)
        return "the relay did not start";
    UniqueFd relayFd(pidfd_open(relay, 0));
    pollfd gone{relayFd.get(), POLLIN, 0};
    if (pidfd_send_signal(relayFd.get(), SIGKILL, nullptr, 0) != 0 || poll(&gone, 1, 5000) != 1)
        return "the relay did not die";

    // The next process of this namespace takes the relay's ID.
    std::ofstream(std::string("/proc/sys/kernel/ns_last_pid")) << relay - 1 << std::flush;
    int signalled[2];
    if (pipe2(signalled, O_NONBLOCK) != 0)
        return "pipe";
    sigset_t all;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, nullptr);
    const pid_t bystander = fork();
    if (bystander == 0) {
        int sig = 0;
        sigwait(&all, &sig);
        if (write(signalled[1], &sig, sizeof sig) < 0)
            _exit(1);
        _exit(0);
    }
    UniqueFd bystanderFd(pidfd_open(bystander, 0));
    if (bystander != relay)
        return "the bystander got ID " + std::to_string(bystander) + ", not the relay's " + std::to_string(relay);

    supervisor.reset();
    int sig = 0;
    pollfd report{signalled[0], POLLIN, 0};
    pollfd alive{bystanderFd.get(), POLLIN, 0};
    std::string failure;
    if (poll(&report, 1, 200) == 1 && read(signalled[0], &sig, sizeof sig) == sizeof sig)
        failure = "the supervisor sent signal " + std::to_string(sig) + " to the bystander";
    else if (poll(&alive, 1, 0) != 0)
        failure = "the bystander died";
    pidfd_send_signal(bystanderFd.get(), SIGKILL, nullptr, 0);
    inbox.reset();
    std::filesystem::remove_all(prefix);
    return failure;
}

TEST(RelaySupervisorTest, NeverSignalsAProcessThatTookTheIdOfAReapedRelay)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root: a PID namespace and ns_last_pid";
    EXPECT_EQ(InNewPidNamespace(ReapedRelayIdGoesToABystander), "");
}

} // namespace
