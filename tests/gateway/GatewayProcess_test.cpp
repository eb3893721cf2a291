// tindrel-gateway as a process, started as root the way a system service or
// tools/lan starts it, on a host (a network namespace) with interfaces on two
// subnets: it binds the named one only and answers and takes datagrams there
// alone; from before its first packet it runs as the --run-as user with no
// capability and no_new_privs; it clears a dead mount of that user's; at
// TERM it releases its names and leaves no mount and no process. And the
// refusals at start, each one line and exit status 1. The test process plays
// the other hosts, on the far ends of the two links.
// Needs root, /dev/fuse, ip, nsenter, useradd and fusermount3; skipped
// without them.
#include "gateway/Network.h"
#include "gateway/codec/Datagram.h"
#include "gateway/codec/MailslotWrite.h"
#include "gateway/codec/NameService.h"

#include "PeerHost.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr Ipv4 Gateway1 = 0x0A010002, Peer1 = 0x0A010009, Broadcast1 = 0x0A0100FF;
constexpr Ipv4 Gateway2 = 0x0A020002, Peer2 = 0x0A020009, Broadcast2 = 0x0A0200FF;
// Its own name: other test runs on the machine add users of their own.
const std::string TestUser = "tdl-gw" + std::to_string(getpid());

std::string Output(const std::string &command)
{
    std::string out;
    if (FILE *pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

bool Ok(const std::string &command) { return std::system(command.c_str()) == 0; }

std::string TestUserScript(const std::string &call)
{
    return "bash -c 'source " TINDREL_SOURCE_DIR "/tests/testuser.sh && " + call + " " + TestUser + "'";
}

// A started program: its stdout and stderr, read to the end or a deadline.
struct Child {
    pid_t Pid = -1;
    UniqueFd Out, Err;

    // Up to `ms` for a line on stdout; empty when none came.
    std::string Line(int ms)
    {
        std::string line;
        char c;
        pollfd p{Out.get(), POLLIN, 0};
        while (poll(&p, 1, ms) == 1 && read(Out.get(), &c, 1) == 1 && c != '\n')
            line += c;
        return line;
    }
    // What it wrote until it ended, or until `ms` went by without more.
    static std::string Text(int fd, int ms)
    {
        std::string text;
        char buffer[512];
        pollfd p{fd, POLLIN, 0};
        for (ssize_t n; poll(&p, 1, ms) == 1 && (n = read(fd, buffer, sizeof buffer)) > 0;)
            text.append(buffer, static_cast<std::size_t>(n));
        return text;
    }
    std::string Errors() { return Text(Err.get(), 200); }
    // The exit status, or -1 when it did not end within `seconds`.
    int Wait(int seconds)
    {
        for (int i = 0; i < seconds * 50; ++i) {
            int status = 0;
            if (waitpid(Pid, &status, WNOHANG) == Pid) {
                Pid = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return -1;
    }
    ~Child()
    {
        if (Pid > 0) {
            kill(Pid, SIGKILL);
            waitpid(Pid, nullptr, 0);
        }
    }
};

// Starts argv, as `user` when given (with that user's groups and ids only).
void Start(Child &child, std::vector<std::string> argv, const passwd *user = nullptr)
{
    int out[2], err[2];
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(err, O_CLOEXEC), 0);
    std::vector<char *> args;
    for (auto &a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);
    child.Pid = fork();
    if (child.Pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        if (user && (initgroups(user->pw_name, user->pw_gid) != 0 || setresgid(user->pw_gid, user->pw_gid, user->pw_gid) != 0 ||
                     setresuid(user->pw_uid, user->pw_uid, user->pw_uid) != 0))
            _exit(126);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    child.Out.reset(out[0]);
    child.Err.reset(err[0]);
}

std::vector<std::uint8_t> MessengerTo(const std::string &name, std::uint8_t suffix, Ipv4 from)
{
    DatagramHeader h;
    h.Type = DirectUnique;
    h.SourceIp = from;
    h.Source = *MakeNetbiosName("bob", MessengerSuffix);
    h.Destination = *MakeNetbiosName(name, suffix);
    const std::string text = "bob\0" + name + std::string("\0hello", 6);
    return BuildMessengerDatagram(h, reinterpret_cast<const std::uint8_t *>(text.data()), text.size());
}

std::vector<std::string> StatusLines(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::vector<std::string> lines;
    for (std::string line; std::getline(status, line);)
        for (const char *key : {"Uid:", "CapInh:", "CapPrm:", "CapEff:", "CapAmb:", "NoNewPrivs:"})
            if (line.rfind(key, 0) == 0)
                lines.push_back(line);
    return lines;
}

// Mounts on `point` as /proc/self/mountinfo lists them, " FSTYPE SOURCE OPTIONS" each.
std::vector<std::string> MountsOn(const std::string &point)
{
    std::ifstream info("/proc/self/mountinfo");
    std::vector<std::string> found;
    for (std::string line; std::getline(info, line);)
        if (const auto at = line.find(" " + point + " "); at != std::string::npos)
            found.push_back(line.substr(line.find(" - ")));
    return found;
}

class GatewayProcessTest : public testing::Test {
protected:
    void SetUp() override
    {
        if (geteuid() != 0 || access("/dev/fuse", R_OK | W_OK) != 0 ||
            !Ok("command -v ip nsenter useradd fusermount3 >/dev/null"))
            GTEST_SKIP() << "needs root, /dev/fuse, ip, nsenter, useradd and fusermount3";
        home_ = Output(TestUserScript("tu_add"));
        while (!home_.empty() && home_.back() == '\n')
            home_.pop_back();
        user_ = getpwnam(TestUser.c_str());
        ASSERT_TRUE(user_ && !home_.empty()) << "cannot add the user " << TestUser;
        prefix_ = home_ + "/prefix";
        unc_ = prefix_ + "/dosdevices/unc";
        ASSERT_EQ(mkdir(prefix_.c_str(), 0755), 0);
        ASSERT_EQ(mkdir((prefix_ + "/dosdevices").c_str(), 0755), 0);
        ASSERT_EQ(chown(prefix_.c_str(), user_->pw_uid, user_->pw_gid), 0);
        ASSERT_EQ(chown((prefix_ + "/dosdevices").c_str(), user_->pw_uid, user_->pw_gid), 0);

        // This process is the peers' host; the gateway's is a namespace that
        // a child holds open, linked to this one by two veth pairs.
        ASSERT_EQ(unshare(CLONE_NEWNET), 0);
        host_.Pid = fork();
        if (host_.Pid == 0) {
            if (unshare(CLONE_NEWNET) != 0)
                _exit(1);
            pause();
            _exit(0);
        }
        const std::string pid = std::to_string(host_.Pid);
        bool ready = false;
        for (int i = 0; i < 100 && !ready; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ready = Output("readlink /proc/" + pid + "/ns/net") != Output("readlink /proc/self/ns/net");
        }
        ASSERT_TRUE(ready);
        ASSERT_TRUE(Ok("ip link add p1 type veth peer name g1 netns " + pid + " && "
                       "ip link add p2 type veth peer name g2 netns " + pid + " && "
                       "ip addr add 10.1.0.9/24 brd + dev p1 && ip link set p1 up && "
                       "ip addr add 10.2.0.9/24 brd + dev p2 && ip link set p2 up && "
                       "nsenter -t " + pid + " -n sh -c 'ip addr add 10.1.0.2/24 brd + dev g1 && "
                       "ip link set g1 up && ip addr add 10.2.0.2/24 brd + dev g2 && ip link set g2 up'"));
    }

    void TearDown() override
    {
        if (!user_)
            return;
        if (gateway_.Pid > 0) {
            kill(gateway_.Pid, SIGKILL);
            gateway_.Wait(10);
        }
        if (!MountsOn(unc_).empty())
            umount2(unc_.c_str(), MNT_DETACH);
        if (host_.Pid > 0) {
            kill(host_.Pid, SIGKILL);
            host_.Wait(5);
        }
        EXPECT_TRUE(Ok(TestUserScript("tu_remove"))) << "cannot remove the user " << TestUser;
    }

    // The gateway on g1, started as root in the gateway's host.
    void StartGateway(std::vector<std::string> extra)
    {
        std::vector<std::string> argv = {"nsenter", "-t", std::to_string(host_.Pid), "-n", TINDREL_GATEWAY,
                                         "--user", "alice", "--computer", "alice-pc", "--workgroup", "wg",
                                         "--prefix", prefix_, "--interface", "g1"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        Start(gateway_, argv);
    }

    // A dead FUSE mount of the user's on the mount point, as a gateway and
    // its keeper killed together would leave.
    void LeaveDeadMount()
    {
        ASSERT_EQ(mkdir(unc_.c_str(), 0755), 0);
        ASSERT_EQ(chown(unc_.c_str(), user_->pw_uid, user_->pw_gid), 0);
        const UniqueFd device(open("/dev/fuse", O_RDWR | O_CLOEXEC));
        const std::string options = "fd=" + std::to_string(device.get()) + ",rootmode=40000,user_id=" +
                                    std::to_string(user_->pw_uid) + ",group_id=" + std::to_string(user_->pw_gid);
        ASSERT_EQ(mount("dead", unc_.c_str(), "fuse.dead", MS_NOSUID | MS_NODEV, options.c_str()), 0);
    }

    passwd *user_ = nullptr;
    std::string home_, prefix_, unc_;
    Child host_, gateway_;
};

TEST_F(GatewayProcessTest, AsRootItRunsAsTheUserAndServesTheNamedNetworkOnly)
{
    Interface p1;
    std::string error;
    ASSERT_TRUE(FindInterface("p1", p1, error)) << error;
    char mac[18];
    std::snprintf(mac, sizeof mac, "%02x:%02x:%02x:%02x:%02x:%02x", p1.Mac[0], p1.Mac[1], p1.Mac[2], p1.Mac[3],
                  p1.Mac[4], p1.Mac[5]);
    EXPECT_NE(Output("ip -o link show p1").find(std::string("link/ether ") + mac), std::string::npos) << mac;
    EXPECT_EQ(p1.Broadcast, Broadcast1);

    ASSERT_NO_FATAL_FAILURE(LeaveDeadMount());
    const UniqueFd names1 = Udp(Peer1, NameServicePort), heard1 = Udp(Broadcast1, NameServicePort);
    const UniqueFd names2 = Udp(Peer2, NameServicePort), heard2 = Udp(Broadcast2, NameServicePort);
    const UniqueFd datagrams1 = Udp(Peer1, DatagramPort), datagrams2 = Udp(Peer2, DatagramPort);
    StartGateway({"--run-as", TestUser});
    const std::string ready = gateway_.Line(15000);
    ASSERT_EQ(ready, "tindrel-gateway: ready: ALICE-PC<00> WG<00> ALICE-PC<03> ALICE<03> WG<03> on 10.1.0.2/24")
        << gateway_.Errors();

    const std::string uid = std::to_string(user_->pw_uid);
    const std::string zero = "0000000000000000";
    EXPECT_EQ(StatusLines(gateway_.Pid),
              (std::vector<std::string>{"Uid:\t" + uid + "\t" + uid + "\t" + uid + "\t" + uid, "CapInh:\t" + zero,
                                        "CapPrm:\t" + zero, "CapEff:\t" + zero, "CapAmb:\t" + zero,
                                        "NoNewPrivs:\t1"}));
    for (const char *file : {"/tindrel-gateway", "/tindrel-gateway/inbox", "/tindrel-gateway/control.sock"}) {
        struct stat st {};
        EXPECT_EQ(lstat((prefix_ + file).c_str(), &st), 0) << file;
        EXPECT_EQ(st.st_uid, user_->pw_uid) << file;
    }
    const auto mounts = MountsOn(unc_);
    ASSERT_EQ(mounts.size(), 1u) << "the dead mount is gone and one of the gateway's is there";
    EXPECT_NE(mounts[0].find("fuse.tindrel tindrel-gateway rw,user_id=" + uid), std::string::npos) << mounts[0];

    // Registered on the named network only.
    EXPECT_EQ(NextName(heard1.get(), 100).Kind, NameServiceKind::Registration);
    EXPECT_TRUE(Next(heard2.get(), 100).empty());

    const NetbiosName alice = *MakeNetbiosName("alice", MessengerSuffix);
    const auto query = BuildNameQuery(0x1234, alice);
    for (const Ipv4 to : {Gateway1, Broadcast1}) {
        ASSERT_TRUE(SendTo(names1.get(), {to, NameServicePort}, query.data(), query.size()));
        NameServicePacket answer;
        for (int i = 0; i < 50 && answer.Kind != NameServiceKind::PositiveQueryResponse; ++i)
            answer = NextName(names1.get());
        EXPECT_EQ(answer.Address, Gateway1) << "query to " << FormatIpv4(to);
    }
    for (const Ipv4 to : {Gateway2, Broadcast2})
        ASSERT_TRUE(SendTo(names2.get(), {to, NameServicePort}, query.data(), query.size()));
    EXPECT_TRUE(Next(names2.get(), 300).empty()) << "answered on the other network";

    // A message for alice, and one for a name not here (taken, it is
    // answered with DATAGRAM ERROR), to each address of both networks.
    for (const auto &[fd, from, tos] : {std::tuple{datagrams1.get(), Peer1, std::vector{Gateway1, Broadcast1}},
                                        std::tuple{datagrams2.get(), Peer2, std::vector{Gateway2, Broadcast2}}})
        for (const Ipv4 to : tos)
            for (const auto &packet : {MessengerTo("alice", MessengerSuffix, from), MessengerTo("carol", MessengerSuffix, from)})
                ASSERT_TRUE(SendTo(fd, {to, DatagramPort}, packet.data(), packet.size()));
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(Next(datagrams1.get()).size(), DatagramErrorSize);
    EXPECT_TRUE(Next(datagrams2.get(), 300).empty()) << "datagrams taken on the other network";
    Child status;
    Start(status, {TINDREL_GATEWAY, "status", "--prefix", prefix_});
    const std::string text = Child::Text(status.Out.get(), 3000);
    EXPECT_NE(text.find("datagrams in: 2\n"), std::string::npos) << text;
    EXPECT_EQ(status.Wait(5), 0);

    while (!Next(heard1.get(), 0).empty()) {
    }
    ASSERT_EQ(kill(gateway_.Pid, SIGTERM), 0);
    EXPECT_EQ(gateway_.Wait(15), 0) << gateway_.Errors();
    std::set<std::string> released;
    for (std::vector<std::uint8_t> b; !(b = Next(heard1.get(), 300)).empty();) {
        NameServicePacket p;
        if (ParseNameService(b.data(), b.size(), p) && p.Kind == NameServiceKind::Release)
            released.insert(ToString(p.Name));
    }
    EXPECT_EQ(released, (std::set<std::string>{"ALICE<03>", "ALICE-PC<03>", "ALICE-PC<00>", "WG<00>", "WG<03>"}));
    EXPECT_TRUE(MountsOn(unc_).empty()) << "mounted after the end";
    EXPECT_FALSE(Ok("pgrep -u " + TestUser + " >/dev/null")) << "a process of the user's is left";
}

TEST_F(GatewayProcessTest, RefusesRootAndAUserWithoutTheRightToBindInOneLine)
{
    struct Case {
        std::vector<std::string> Extra;
        bool RootPrefix;
        std::string Line;
    } cases[] = {
        {{}, true, "tindrel-gateway: the prefix " + prefix_ + " belongs to root, and the gateway does not run as "
                   "root: give the prefix to the station's user (chown -R USER " + prefix_ +
                   ") or name that user with --run-as USER\n"},
        {{"--run-as", "root"}, false,
         "tindrel-gateway: --run-as root: the gateway does not run as root; name the station's user\n"},
        {{"--run-as", TestUser}, true,
         "tindrel-gateway: the prefix " + prefix_ + " belongs to root, not to " + TestUser +
             ": Wine runs a prefix only as its owner (chown -R " + TestUser + " " + prefix_ + ")\n"},
    };
    for (const Case &c : cases) {
        ASSERT_EQ(chown(prefix_.c_str(), c.RootPrefix ? 0 : user_->pw_uid, 0), 0);
        StartGateway(c.Extra);
        EXPECT_EQ(gateway_.Wait(10), 1);
        EXPECT_EQ(gateway_.Errors(), c.Line);
    }
    ASSERT_EQ(chown(prefix_.c_str(), user_->pw_uid, user_->pw_gid), 0);

    // An ordinary user's copy (the checkout may be out of the user's reach)
    // without cap_net_bind_service: what to run, and nothing left behind.
    const std::string copy = home_ + "/tindrel-gateway";
    ASSERT_TRUE(Ok(std::string("install -m 0755 -o ") + TestUser + " " TINDREL_GATEWAY " " + copy));
    Start(gateway_, {copy, "--user", "alice", "--computer", "alice-pc", "--workgroup", "wg", "--prefix", prefix_,
                     "--interface", "p1"},
          user_);
    EXPECT_EQ(gateway_.Wait(10), 1);
    EXPECT_EQ(gateway_.Errors(), "tindrel-gateway: cannot bind UDP port 137: permission denied; give the gateway "
                                 "the right to bind it once with: sudo setcap cap_net_bind_service=ep " + copy + "\n");
    EXPECT_TRUE(MountsOn(unc_).empty());
    EXPECT_NE(access((prefix_ + "/tindrel-gateway").c_str(), F_OK), 0) << "the prefix was written";
}

} // namespace
