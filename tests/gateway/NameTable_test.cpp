// The B-node rules for the station's own names, driven by a fake clock:
// when registrations, overwrite demands and releases go out, which claims
// are defended, which queries answered, and what a refusal or a conflict
// demand does.
#include "gateway/NameTable.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

const SteadyTime T0{std::chrono::seconds(1000)};
const Endpoint Peer{0x0A4DC803, 137}; // 10.77.200.3

NetbiosName Name(const std::string &text, std::uint8_t suffix = MessengerSuffix)
{
    return *MakeNetbiosName(text, suffix);
}

// The station's four names, registration started at T0 with ids 100..103.
NameTable Station()
{
    NameTable t;
    t.Add(Name("alice"), false);
    t.Add(Name("alice-pc"), false);
    t.Add(Name("workgroup", WorkstationSuffix), true);
    t.Add(Name("workgroup"), true);
    t.StartRegistration(T0, 100);
    return t;
}

NameTable Held()
{
    NameTable t = Station();
    for (auto at : {0ms, 250ms, 500ms, 750ms})
        t.Due(T0 + at);
    return t;
}

std::vector<NameAction::Kind> Kinds(const std::vector<NameAction> &actions)
{
    std::vector<NameAction::Kind> k;
    for (const auto &a : actions)
        k.push_back(a.What);
    return k;
}

TEST(NameTable, RegistersThreeTimes250msApartThenDemandsOverwrite)
{
    using K = NameAction::Kind;
    const std::vector<K> four(4, K::Register), overwrite(4, K::Overwrite);
    struct Step {
        std::chrono::milliseconds at;
        std::vector<K> sent;
        bool held;
    } steps[] = {
        {0ms, four, false},  {249ms, {}, false}, {250ms, four, false},
        {500ms, four, false}, {749ms, {}, false}, {750ms, overwrite, true},
        {2000ms, {}, true},
    };
    NameTable t = Station();
    for (const Step &s : steps) {
        const auto actions = t.Due(T0 + s.at);
        EXPECT_EQ(Kinds(actions), s.sent) << "at " << s.at.count() << " ms";
        EXPECT_EQ(t.AllHeld(), s.held) << "at " << s.at.count() << " ms";
    }
    EXPECT_FALSE(t.NextDeadline());
}

TEST(NameTable, EachNameKeepsItsTransactionIdAcrossRetries)
{
    NameTable t = Station();
    for (auto at : {0ms, 250ms, 500ms}) {
        const auto actions = t.Due(T0 + at);
        ASSERT_EQ(actions.size(), 4u);
        for (std::size_t i = 0; i < 4; ++i)
            EXPECT_EQ(actions[i].TrnId, 100 + i);
        EXPECT_TRUE(actions[2].Group && actions[3].Group && !actions[0].Group);
    }
    EXPECT_EQ(t.NextDeadline(), T0 + 750ms);
}

TEST(NameTable, ANegativeResponseToTheRegistrationRefusesTheName)
{
    const Ipv4 owner = 0x0A4DC809;
    struct Case {
        const char *what;
        NetbiosName name;
        std::uint16_t id;
        bool refused;
    } cases[] = {
        {"answers the registration", Name("alice"), 100, true},
        {"another transaction", Name("alice"), 101, false},
        {"a name not ours", Name("bob"), 100, false},
        {"same text, other suffix", Name("alice", WorkstationSuffix), 100, false},
    };
    for (const Case &c : cases) {
        NameTable t = Station();
        t.Due(T0);
        EXPECT_EQ(t.OnNegativeResponse(c.name, c.id, owner), c.refused) << c.what;
        ASSERT_EQ(t.Refused().has_value(), c.refused) << c.what;
        if (c.refused) {
            EXPECT_EQ(t.Refused()->Name, Name("ALICE"));
            EXPECT_EQ(t.Refused()->Owner, owner);
            EXPECT_FALSE(t.AllHeld());
        }
    }
    // Once the name is ours a late refusal changes nothing.
    NameTable t = Held();
    EXPECT_FALSE(t.OnNegativeResponse(Name("alice"), 100, owner));
    EXPECT_TRUE(t.Holds(Name("alice")));
}

TEST(NameTable, DefendsHeldNamesAgainstRegistrations)
{
    struct Case {
        const char *what;
        NetbiosName name;
        bool claimGroup;
        bool defended;
    } cases[] = {
        {"unique name, unique claim", Name("ALICE"), false, true},
        {"unique name, group claim", Name("alice-pc"), true, true},
        {"group name, unique claim", Name("workgroup"), false, true},
        {"group name, group claim", Name("workgroup", WorkstationSuffix), true, false},
        {"a name not ours", Name("bob"), false, false},
        {"our text, another suffix", Name("alice", 0x20), false, false},
    };
    const NameTable t = Held();
    for (const Case &c : cases) {
        const auto a = t.OnRegistration(c.name, c.claimGroup, 0x4242, Peer);
        ASSERT_EQ(a.has_value(), c.defended) << c.what;
        if (a) {
            EXPECT_EQ(a->What, NameAction::RefuseRegistration) << c.what;
            EXPECT_EQ(a->TrnId, 0x4242) << c.what;
            EXPECT_EQ(a->To.Address, Peer.Address) << c.what;
            EXPECT_EQ(a->To.Port, Peer.Port) << c.what;
            EXPECT_EQ(a->Name, c.name) << c.what;
        }
    }
    // Not while registering, nor once in conflict.
    NameTable registering = Station();
    registering.Due(T0);
    EXPECT_FALSE(registering.OnRegistration(Name("alice"), false, 1, Peer));
    NameTable conflict = Held();
    ASSERT_TRUE(conflict.OnConflictDemand(Name("alice")));
    EXPECT_FALSE(conflict.OnRegistration(Name("alice"), false, 1, Peer));
}

TEST(NameTable, AnswersQueriesOnlyForHeldNames)
{
    NameTable t = Held();
    const auto a = t.OnQuery(Name("workgroup"), 0x0777, Peer);
    ASSERT_TRUE(a);
    EXPECT_EQ(a->What, NameAction::AnswerQuery);
    EXPECT_TRUE(a->Group);
    EXPECT_EQ(a->TrnId, 0x0777);
    EXPECT_EQ(a->To.Address, Peer.Address);
    EXPECT_FALSE(t.OnQuery(Name("alice", WorkstationSuffix), 1, Peer));
    EXPECT_FALSE(t.OnQuery(Name("bob"), 1, Peer));

    NameTable registering = Station();
    EXPECT_FALSE(registering.OnQuery(Name("alice"), 1, Peer));

    ASSERT_TRUE(t.OnConflictDemand(Name("alice")));
    EXPECT_FALSE(t.OnQuery(Name("alice"), 1, Peer));
    EXPECT_FALSE(t.Holds(Name("alice")));
    EXPECT_TRUE(t.Holds(Name("alice-pc")));
    EXPECT_FALSE(t.OnConflictDemand(Name("alice"))) << "already in conflict";
    EXPECT_FALSE(t.OnConflictDemand(Name("bob")));
}

TEST(NameTable, ReleasesOnlyNamesItOwnsThreeTimes)
{
    NameTable t = Held();
    ASSERT_TRUE(t.OnConflictDemand(Name("alice-pc")));
    t.StartRelease(T0 + 10s);
    EXPECT_FALSE(t.Released());
    for (auto at : {0ms, 250ms, 500ms}) {
        const auto actions = t.Due(T0 + 10s + at);
        ASSERT_EQ(actions.size(), 3u) << "at " << at.count() << " ms";
        for (const auto &a : actions) {
            EXPECT_EQ(a.What, NameAction::Release);
            EXPECT_NE(a.Name, Name("alice-pc"));
        }
    }
    EXPECT_TRUE(t.Released());
    EXPECT_TRUE(t.Due(T0 + 20s).empty());
    EXPECT_FALSE(t.OnQuery(Name("alice"), 1, Peer));

    // Ending during registration releases nothing: the names were never ours.
    NameTable early = Station();
    early.Due(T0);
    early.StartRelease(T0 + 100ms);
    EXPECT_TRUE(early.Released());
    EXPECT_TRUE(early.Due(T0 + 1s).empty());
}

} // namespace

// With a WINS server (an H-node): the same names, asked of the server first.
namespace {

const Ipv4 Server = 0x0A4D0902; // 10.77.9.2

struct WinsStation {
    NameServer server{Server};
    NameTable table = [] {
        NameTable t;
        t.Add(Name("alice"), false);
        t.Add(Name("workgroup"), true);
        return t;
    }();
    WinsStation() { table.UseServer(&server); }
};

std::vector<NameAction::Kind> ServerKinds(const std::vector<NameAction> &actions)
{
    std::vector<NameAction::Kind> k;
    for (const auto &a : actions) {
        k.push_back(a.What);
        if (a.What >= NameAction::ServerRegister)
            EXPECT_EQ(a.To.Address, Server);
    }
    return k;
}

TEST(NameTable, RegistersWithTheServerWaitsOutAWackAndRefreshesAtHalfTheGrantedTtl)
{
    using K = NameAction::Kind;
    WinsStation s;
    s.table.StartRegistration(T0, 100);
    const auto first = s.table.Due(T0);
    ASSERT_EQ(ServerKinds(first), (std::vector<K>{K::ServerRegister, K::ServerRegister}));
    EXPECT_EQ(s.table.NodeType(), HNodeType);
    // The server makes alice wait 60 s: no retry for her, one for the group.
    EXPECT_EQ(s.table.OnServerAnswer(NameServiceKind::Wack, Name("alice"), first[0].TrnId, 60, 0, 0, T0 + 10ms),
              ServerOutcome::Waiting);
    EXPECT_EQ(s.table.OnServerAnswer(NameServiceKind::Wack, Name("alice"), first[0].TrnId + 7, 60, 0, 0, T0),
              ServerOutcome::Ignored)
        << "another transaction";
    EXPECT_EQ(ServerKinds(s.table.Due(T0 + 500ms)), (std::vector<K>{K::ServerRegister}));
    EXPECT_EQ(s.table.OnServerAnswer(NameServiceKind::PositiveRegistrationResponse, Name("workgroup"), first[1].TrnId,
                                     300000, 0, Server, T0 + 600ms),
              ServerOutcome::Registered);
    EXPECT_TRUE(s.table.Due(T0 + 59s).empty()) << "still waiting for alice's answer";
    EXPECT_EQ(s.table.OnServerAnswer(NameServiceKind::PositiveRegistrationResponse, Name("alice"), first[0].TrnId,
                                     1000, 0, Server, T0 + 30s),
              ServerOutcome::Registered);
    ASSERT_TRUE(s.table.AllHeld());
    EXPECT_TRUE(s.table.Entries()[0].AtServer);
    // Half of the 1000 s granted.
    EXPECT_EQ(s.table.NextDeadline(), T0 + 30s + 500s);
    const auto refresh = s.table.Due(T0 + 530s);
    ASSERT_EQ(ServerKinds(refresh), (std::vector<K>{K::ServerRefresh}));
    EXPECT_EQ(s.table.OnServerAnswer(NameServiceKind::PositiveRegistrationResponse, Name("alice"), refresh[0].TrnId,
                                     1000, 0, Server, T0 + 531s),
              ServerOutcome::Refreshed);
    EXPECT_EQ(s.table.NextDeadline(), T0 + 531s + 500s);
    EXPECT_TRUE(s.server.Up());
}

TEST(NameTable, ASilentServerHandsTheNamesToBroadcastAndIsAskedAgainLater)
{
    using K = NameAction::Kind;
    WinsStation s;
    s.table.StartRegistration(T0, 100);
    for (auto at : {0ms, 500ms, 1000ms})
        EXPECT_EQ(ServerKinds(s.table.Due(T0 + at)), std::vector<K>(2, K::ServerRegister));
    // Three tries unanswered: down, and the broadcast rules at once.
    EXPECT_EQ(ServerKinds(s.table.Due(T0 + 1500ms)), std::vector<K>(2, K::Register));
    EXPECT_FALSE(s.server.Up());
    EXPECT_EQ(s.server.TakeChange(), std::optional<bool>(false));
    for (auto at : {1750ms, 2000ms, 2250ms})
        s.table.Due(T0 + at);
    ASSERT_TRUE(s.table.AllHeld());
    EXPECT_FALSE(s.table.Entries()[0].AtServer);
    // Ten seconds after it fell silent it is offered the names again.
    EXPECT_EQ(s.table.NextDeadline(), T0 + 11500ms);
    const auto probe = s.table.Due(T0 + 11500ms);
    ASSERT_EQ(ServerKinds(probe), std::vector<K>(2, K::ServerRegister));
    EXPECT_EQ(s.table.OnServerAnswer(NameServiceKind::PositiveRegistrationResponse, Name("alice"), probe[0].TrnId,
                                     300000, 0, Server, T0 + 11600ms),
              ServerOutcome::Registered);
    EXPECT_TRUE(s.server.Up());
    EXPECT_EQ(s.server.TakeChange(), std::optional<bool>(true));
    EXPECT_TRUE(s.table.Entries()[0].AtServer);
    EXPECT_TRUE(s.table.Holds(Name("alice"))) << "held all along";
}

TEST(NameTable, TheServerRefusesANameAndIsAskedWhoHoldsItWhenItDoesNotSay)
{
    const Ipv4 owner = 0x0A4D0003;
    for (const Ipv4 told : {owner, Ipv4{0}}) {
        WinsStation s;
        s.table.StartRegistration(T0, 100);
        const auto first = s.table.Due(T0);
        EXPECT_EQ(s.table.OnServerAnswer(NameServiceKind::NegativeRegistrationResponse, Name("alice"),
                                         first[0].TrnId, 0, ActiveError, told, T0 + 5ms),
                  ServerOutcome::Refused);
        if (told) {
            ASSERT_TRUE(s.table.Refused());
            EXPECT_EQ(s.table.Refused()->Owner, owner);
            continue;
        }
        EXPECT_FALSE(s.table.Refused()) << "not before the owner is known";
        const auto ask = s.table.Due(T0 + 10ms);
        ASSERT_EQ(ServerKinds(ask), (std::vector<NameAction::Kind>{NameAction::AskServer}));
        EXPECT_EQ(ask[0].Name, Name("alice"));
        s.table.OnServerAnswer(NameServiceKind::PositiveQueryResponse, Name("alice"), ask[0].TrnId, 0, 0, owner,
                               T0 + 20ms);
        ASSERT_TRUE(s.table.Refused());
        EXPECT_EQ(s.table.Refused()->Owner, owner);
    }
}

TEST(NameTable, ReleasesAtTheServerAndByBroadcast)
{
    using K = NameAction::Kind;
    WinsStation s;
    s.table.StartRegistration(T0, 100);
    for (const NameAction &a : s.table.Due(T0))
        s.table.OnServerAnswer(NameServiceKind::PositiveRegistrationResponse, a.Name, a.TrnId, 300000, 0, Server, T0);
    s.table.StartRelease(T0 + 1s);
    const auto release = s.table.Due(T0 + 1s);
    EXPECT_EQ(ServerKinds(release), (std::vector<K>{K::ServerRelease, K::Release, K::ServerRelease, K::Release}));
    s.table.OnServerAnswer(NameServiceKind::ReleaseResponse, release[0].Name, release[0].TrnId, 0, 0, Server,
                           T0 + 1s);
    for (auto at : {250ms, 500ms})
        s.table.Due(T0 + 1s + at);
    EXPECT_FALSE(s.table.Released()) << "the group's release is not answered yet";
    for (auto at : {1500ms, 2000ms, 2500ms})
        s.table.Due(T0 + at);
    EXPECT_TRUE(s.table.Released()) << "three tries 500 ms apart, then done";
}

} // namespace
