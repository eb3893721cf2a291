// The daemon's loop against a second "host" on the loopback of a network
// namespace the test process makes for itself (skipped where it may not):
// the daemon speaks from 127.0.0.1, a peer from 127.0.0.2, and 127.0.0.3
// stands in for the subnet broadcast address. Registration and refusal,
// answers and defence, lookups, sending, receiving, the release, and a flood
// of junk that must change none of it.
#include "gateway/Daemon.h"
#include "gateway/codec/MailslotWrite.h"
#include "gateway/codec/NameService.h"
#include "PeerHost.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <poll.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace {

constexpr Ipv4 Self = 0x7F000001, Peer = 0x7F000002, Bcast = 0x7F000003;

bool PrivateLoopback()
{
    static const bool ok = [] {
        if (::unshare(CLONE_NEWNET) != 0)
            return false;
        UniqueFd s(::socket(AF_INET, SOCK_DGRAM, 0));
        ifreq ifr{};
        std::strcpy(ifr.ifr_name, "lo");
        ifr.ifr_flags = IFF_UP | IFF_LOOPBACK | IFF_RUNNING;
        return ::ioctl(s.get(), SIOCSIFFLAGS, &ifr) == 0;
    }();
    return ok;
}

NetbiosName Name(const char *text, std::uint8_t suffix = MessengerSuffix) { return *MakeNetbiosName(text, suffix); }

class DaemonTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!PrivateLoopback())
            GTEST_SKIP() << "no network namespace of our own (needs root)";
        // Only now, inside the private namespace.
        peer137_ = Udp(Peer, NameServicePort);
        peer138_ = Udp(Peer, DatagramPort);
        bcast137_ = Udp(Bcast, NameServicePort);
        bcast138_ = Udp(Bcast, DatagramPort);
        DaemonConfig config;
        config.User = "alice";
        config.Computer = "alice-pc";
        config.Workgroup = "workgroup";
        config.Iface = {"lo", Self, Bcast, 8};
        config.Iface.Mac = {0x02, 0x00, 0x7f, 0x00, 0x00, 0x01};
        config.Deliver = [this](const std::uint8_t *data, std::size_t size) {
            std::lock_guard<std::mutex> lock(mutex_);
            delivered_.emplace_back(data, data + size);
        };
        std::string error;
        daemon_ = Daemon::Create(config, error);
        ASSERT_TRUE(daemon_) << error;
        signal_.reset(::eventfd(0, EFD_NONBLOCK));
        names_ = Udp(Self, NameServicePort);
        datagrams_ = Udp(Self, DatagramPort);
        DaemonSockets s;
        s.Names = names_.get();
        s.Datagrams = datagrams_.get();
        s.Signals = signal_.get();
        daemon_->Attach(std::move(s));
    }

    void TearDown() override
    {
        if (loop_.joinable()) {
            const std::uint64_t one = 1;
            ASSERT_EQ(::write(signal_.get(), &one, sizeof one), 8);
            loop_.join();
        }
    }

    // Registers with nobody objecting (the broadcasts are read and checked)
    // and runs the loop on a thread of its own.
    void Start()
    {
        std::string error;
        std::thread reg([&] { registered_ = daemon_->Register(error); });
        std::vector<NameServiceKind> kinds;
        for (int i = 0; i < 20; ++i)
            kinds.push_back(NextName(bcast137_.get()).Kind);
        reg.join();
        ASSERT_TRUE(registered_) << error;
        EXPECT_EQ(std::count(kinds.begin(), kinds.end(), NameServiceKind::Registration), 15);
        EXPECT_EQ(std::count(kinds.begin(), kinds.end(), NameServiceKind::OverwriteDemand), 5);
        loop_ = std::thread([this] { daemon_->Run(); });
    }

    void ToDaemon(int fd, std::uint16_t port, const std::vector<std::uint8_t> &packet)
    {
        ASSERT_TRUE(SendTo(fd, {Self, port}, packet.data(), packet.size()));
    }

    std::vector<std::uint8_t> Messenger(const NetbiosName &to, const std::string &text, std::uint8_t type = DirectUnique)
    {
        DatagramHeader h;
        h.Type = type;
        h.SourceIp = Peer;
        h.Source = Name("bob");
        h.Destination = to;
        return BuildMessengerDatagram(h, reinterpret_cast<const std::uint8_t *>(text.data()), text.size());
    }

    std::vector<std::string> Delivered()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> out;
        for (const auto &d : delivered_)
            out.emplace_back(d.begin(), d.end());
        return out;
    }

    UniqueFd peer137_, peer138_, bcast137_, bcast138_;
    UniqueFd signal_, names_, datagrams_;
    std::unique_ptr<Daemon> daemon_;
    std::thread loop_;
    bool registered_ = false;
    std::mutex mutex_;
    std::vector<std::vector<std::uint8_t>> delivered_;
};

TEST_F(DaemonTest, ADefendedNameStopsTheStartAndSaysWhoHoldsIt)
{
    std::string error;
    std::thread reg([&] { registered_ = daemon_->Register(error); });
    NameServicePacket p;
    for (int i = 0; i < 4 && p.Name != Name("alice-pc"); ++i)
        p = NextName(bcast137_.get());
    ASSERT_EQ(p.Name, Name("alice-pc"));
    ToDaemon(peer137_.get(), NameServicePort,
             BuildNegativeRegistrationResponse(p.TransactionId, p.Name, 0, false, Peer));
    reg.join();
    EXPECT_FALSE(registered_);
    EXPECT_EQ(error, "the name ALICE-PC<03> is held by 127.0.0.2");
}

TEST_F(DaemonTest, AnswersQueriesAndDefendsItsNames)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    ToDaemon(peer137_.get(), NameServicePort, BuildNameQuery(0x1111, Name("ALICE")));
    NameServicePacket a = NextName(peer137_.get());
    EXPECT_EQ(a.Kind, NameServiceKind::PositiveQueryResponse);
    EXPECT_EQ(a.TransactionId, 0x1111);
    EXPECT_EQ(a.Address, Self);

    // A group claim on our group name is no offence; nothing answers it, so
    // the next packet the peer gets is the refusal of a unique claim.
    ToDaemon(peer137_.get(), NameServicePort, BuildRegistration(0x2222, Name("workgroup"), true, Peer));
    ToDaemon(peer137_.get(), NameServicePort, BuildRegistration(0x3333, Name("alice"), false, Peer));
    a = NextName(peer137_.get());
    EXPECT_EQ(a.Kind, NameServiceKind::NegativeRegistrationResponse);
    EXPECT_EQ(a.TransactionId, 0x3333);

    // After a conflict demand the name is no longer answered for.
    ToDaemon(peer137_.get(), NameServicePort, BuildConflictDemand(1, Name("alice")));
    ToDaemon(peer137_.get(), NameServicePort, BuildNameQuery(0x4444, Name("alice")));
    ToDaemon(peer137_.get(), NameServicePort, BuildNameQuery(0x5555, Name("alice-pc")));
    a = NextName(peer137_.get());
    EXPECT_EQ(a.TransactionId, 0x5555);
    EXPECT_EQ(Next(peer137_.get(), 300), std::vector<std::uint8_t>{});
}

TEST_F(DaemonTest, AnswersNodeStatusWithEveryNameItHolds)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    // From any port, as nmblookup -A and nbtscan ask: the answer goes back there.
    UniqueFd asker = Udp(Peer, 40137);
    ToDaemon(asker.get(), NameServicePort, BuildNodeStatusRequest(0x0101, BroadcastName()));
    ToDaemon(asker.get(), NameServicePort, BuildNodeStatusRequest(0x0102, Name("nobody")));
    ToDaemon(asker.get(), NameServicePort, BuildNodeStatusRequest(0x0103, Name("alice-pc", WorkstationSuffix)));
    ASSERT_TRUE(SendTo(bcast137_.get(), {Self, NameServicePort}, BuildNodeStatusRequest(0x0104, BroadcastName()).data(),
                       NameQuerySize));
    std::vector<std::uint16_t> answered;
    for (std::vector<std::uint8_t> b; answered.size() < 5 && !(b = Next(asker.get(), 500)).empty();) {
        NameServicePacket p;
        ASSERT_TRUE(ParseNameService(b.data(), b.size(), p));
        ASSERT_EQ(p.Kind, NameServiceKind::NodeStatusResponse);
        answered.push_back(p.TransactionId);
        const std::vector<StatusEntry> expected = {
            {Name("alice-pc", WorkstationSuffix), 0x0400},
            {Name("workgroup", WorkstationSuffix), 0x8400},
            {Name("alice-pc"), 0x0400},
            {Name("alice"), 0x0400},
            {Name("workgroup"), 0x8400},
        };
        EXPECT_EQ(p.Status.Names, expected);
        EXPECT_EQ(p.Status.Unit, (UnitId{0x02, 0x00, 0x7f, 0x00, 0x00, 0x01}));
    }
    EXPECT_EQ(answered, (std::vector<std::uint16_t>{0x0101, 0x0103}));
    EXPECT_TRUE(Next(bcast137_.get(), 100).empty()) << "never towards a broadcast source";
}

TEST_F(DaemonTest, DeliversMessengerWritesForItsNamesOnly)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    ToDaemon(peer138_.get(), DatagramPort, Messenger(Name("ALICE"), "one"));
    ToDaemon(peer138_.get(), DatagramPort, Messenger(Name("alice-pc", WorkstationSuffix), "two"));
    ToDaemon(peer138_.get(), DatagramPort, Messenger(Name("workgroup", WorkstationSuffix), "three", DirectGroup));
    ToDaemon(peer138_.get(), DatagramPort, Messenger(BroadcastName(), "four", BroadcastDatagram));
    ToDaemon(peer138_.get(), DatagramPort, Messenger(Name("carol", WorkstationSuffix), "lost", DirectGroup));
    DatagramHeader h;
    h.Source = Name("bob");
    h.Destination = Name("alice");
    const std::uint8_t data[] = {'x'};
    const auto browse = BuildMailslotWrite("\\MAILSLOT\\BROWSE", data, 1);
    ToDaemon(peer138_.get(), DatagramPort, BuildDatagram(h, browse.data(), browse.size()));
    // Unique, not ours: one DATAGRAM ERROR back to where it came from.
    ToDaemon(peer138_.get(), DatagramPort, Messenger(Name("carol"), "lost"));
    const auto error = Next(peer138_.get());
    ASSERT_EQ(error.size(), DatagramErrorSize);
    EXPECT_EQ(error[0], DatagramErrorType);
    EXPECT_EQ(error[10], NameNotPresent);
    EXPECT_EQ(Delivered(), (std::vector<std::string>{"one", "two", "three", "four"}));
    EXPECT_EQ(daemon_->Counts().DatagramsIn, 4u);
    EXPECT_EQ(daemon_->Counts().NotForUs, 2u);
    EXPECT_EQ(daemon_->Counts().Dropped[static_cast<int>(DatagramDrop::OtherMailslot)], 1u);
}

TEST_F(DaemonTest, ResolvesByQueryAndSendsToTheOwner)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    std::optional<Target> found;
    std::thread lookup([&] { found = daemon_->Lookup("Bob"); });
    const NameServicePacket q = NextName(bcast137_.get());
    EXPECT_EQ(q.Kind, NameServiceKind::Query);
    ASSERT_EQ(q.Name, Name("bob"));
    ToDaemon(peer137_.get(), NameServicePort, BuildPositiveQueryResponse(q.TransactionId, q.Name, 0, false, Peer));
    lookup.join();
    ASSERT_TRUE(found);
    EXPECT_EQ(found->Address, Peer);

    // Cached now: the send goes out without another query.
    const std::string text(420, 'm');
    ASSERT_TRUE(daemon_->Send("BOB", reinterpret_cast<const std::uint8_t *>(text.data()), text.size()));
    Endpoint from;
    const auto bytes = Next(peer138_.get(), 1500, &from);
    MessengerDatagram m;
    ASSERT_EQ(ParseMessengerDatagram(bytes.data(), bytes.size(), m), DatagramDrop::None);
    EXPECT_EQ(m.Header.Type, DirectUnique);
    EXPECT_EQ(m.Header.Source, Name("alice"));
    EXPECT_EQ(m.Header.SourceIp, Self);
    EXPECT_EQ(from.Port, DatagramPort);
    EXPECT_EQ(std::string(bytes.begin() + m.PayloadOffset, bytes.end()), text);

    // The workgroup goes to the broadcast address as a group datagram.
    ASSERT_TRUE(daemon_->Send("WorkGroup", reinterpret_cast<const std::uint8_t *>("hi"), 2));
    const auto group = Next(bcast138_.get());
    ASSERT_EQ(ParseMessengerDatagram(group.data(), group.size(), m), DatagramDrop::None);
    EXPECT_EQ(m.Header.Type, DirectGroup);

    // BOB's host says it no longer holds the name: the next send asks again.
    const auto error = BuildDatagramError(1, Peer, DatagramPort, NameNotPresent);
    const std::uint64_t dropped = daemon_->Counts().DroppedTotal();
    ToDaemon(peer138_.get(), DatagramPort, error);
    // Once the loop has counted it (it carries no message), the owner is forgotten.
    for (int i = 0; i < 200 && daemon_->Counts().DroppedTotal() == dropped; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_GT(daemon_->Counts().DroppedTotal(), dropped) << "the DATAGRAM ERROR was not handled";
    std::thread again([&] { found = daemon_->Lookup("bob"); });
    const NameServicePacket q2 = NextName(bcast137_.get());
    EXPECT_EQ(q2.Name, Name("bob"));
    ToDaemon(peer137_.get(), NameServicePort, BuildPositiveQueryResponse(q2.TransactionId, q2.Name, 0, false, Peer));
    again.join();
    EXPECT_TRUE(found);

    // Nobody answers: six queries, then "no such name"; nothing is sent.
    EXPECT_FALSE(daemon_->Send("nobody", reinterpret_cast<const std::uint8_t *>("x"), 1));
    int queries = 0;
    while (queries < 50 && !Next(bcast137_.get(), 100).empty())
        ++queries;
    EXPECT_EQ(queries, 6);
    EXPECT_EQ(daemon_->Counts().DatagramsOut, 2u);
}

TEST_F(DaemonTest, JunkChangesNothingAndIsNeverAnswered)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    std::mt19937 rnd(12345);
    const auto valid = BuildNameQuery(7, Name("alice"));
    for (int i = 0; i < 3000; ++i) {
        std::vector<std::uint8_t> p = i % 2 ? valid : Messenger(Name("alice"), "junk");
        // Mutate, cut or extend: many become malformed, a few stay valid.
        switch (rnd() % 3) {
        case 0: p[rnd() % p.size()] = static_cast<std::uint8_t>(rnd()); break;
        case 1: p.resize(rnd() % p.size()); break;
        default: p.resize(p.size() + rnd() % 1200, static_cast<std::uint8_t>(rnd())); break;
        }
        ToDaemon(i % 2 ? peer137_.get() : peer138_.get(), i % 2 ? NameServicePort : DatagramPort, p);
    }
    // Every answer to the peer is a positive query response for ALICE<03>.
    int answers = 0;
    for (std::vector<std::uint8_t> b; answers < 5000 && !(b = Next(peer137_.get(), 300)).empty(); ++answers) {
        NameServicePacket p;
        ASSERT_TRUE(ParseNameService(b.data(), b.size(), p));
        EXPECT_EQ(p.Kind, NameServiceKind::PositiveQueryResponse);
    }
    EXPECT_LE(answers, 1500);
    EXPECT_TRUE(Next(bcast137_.get(), 50).empty()) << "junk must not make it broadcast";
    // A request that claims to come from the broadcast address is never
    // answered: the answer would go to every host.
    ASSERT_TRUE(SendTo(bcast137_.get(), {Self, NameServicePort}, valid.data(), valid.size()));
    const auto claim = BuildRegistration(9, Name("alice"), false, Bcast);
    ASSERT_TRUE(SendTo(bcast137_.get(), {Self, NameServicePort}, claim.data(), claim.size()));
    const auto unique = Messenger(Name("carol"), "x");
    ASSERT_TRUE(SendTo(bcast138_.get(), {Self, DatagramPort}, unique.data(), unique.size()));
    EXPECT_TRUE(Next(bcast137_.get(), 300).empty());
    EXPECT_TRUE(Next(bcast138_.get(), 50).empty());
    ToDaemon(peer137_.get(), NameServicePort, BuildNameQuery(0x7777, Name("alice")));
    EXPECT_EQ(NextName(peer137_.get()).TransactionId, 0x7777);
    EXPECT_GT(daemon_->Counts().NameMalformed + daemon_->Counts().DroppedTotal(), 100u);
}

TEST_F(DaemonTest, ReleasesItsNamesWhenItEnds)
{
    ASSERT_NO_FATAL_FAILURE(Start());
    const std::uint64_t one = 1;
    ASSERT_EQ(::write(signal_.get(), &one, sizeof one), 8);
    loop_.join();
    daemon_->Release();
    int releases = 0, packets = 0;
    for (std::vector<std::uint8_t> b; ++packets < 100 && !(b = Next(bcast137_.get(), 300)).empty();) {
        NameServicePacket p;
        ASSERT_TRUE(ParseNameService(b.data(), b.size(), p));
        releases += p.Kind == NameServiceKind::Release;
    }
    EXPECT_EQ(releases, 15);
    EXPECT_FALSE(daemon_->Lookup("bob")) << "no lookups once ended";
}

} // namespace
