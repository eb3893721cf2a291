// Finding other stations' names with a fake clock: the query schedule (three
// tries for NAME<03>, then three for NAME<00>, then failure), which answers
// count, and the cache of positive answers.
#include "gateway/Resolver.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::chrono_literals;

const SteadyTime T0{std::chrono::seconds(5000)};
const Ipv4 Bob = 0x0A4DC803;

NetbiosName Name(const std::string &text, std::uint8_t suffix = MessengerSuffix)
{
    return *MakeNetbiosName(text, suffix);
}

TEST(Resolver, QueriesEachSuffixThreeTimesThenGivesUp)
{
    struct Step {
        std::chrono::milliseconds at;
        int suffix; // of the query sent; -1 none, -2 the lookup fails
    } steps[] = {
        {0ms, 0x03},   {100ms, -1},   {250ms, 0x03}, {500ms, 0x03}, {749ms, -1},
        {750ms, 0x00}, {1000ms, 0x00}, {1250ms, 0x00}, {1499ms, -1}, {1500ms, -2},
    };
    Resolver r(7);
    r.Begin(Name("bob"), 42, T0);
    std::uint16_t firstId = 0;
    for (const Step &s : steps) {
        const ResolverStep step = r.Due(T0 + s.at);
        const std::string at = "at " + std::to_string(s.at.count()) + " ms";
        if (s.suffix >= 0) {
            ASSERT_EQ(step.Queries.size(), 1u) << at;
            EXPECT_EQ(step.Queries[0].Name, Name("BOB", static_cast<std::uint8_t>(s.suffix))) << at;
            if (s.at == 0ms)
                firstId = step.Queries[0].TrnId;
            // Retries keep the transaction id; the second suffix has its own.
            EXPECT_EQ(step.Queries[0].TrnId == firstId, s.suffix == 0x03) << at;
        } else {
            EXPECT_TRUE(step.Queries.empty()) << at;
        }
        ASSERT_EQ(step.Done.size(), s.suffix == -2 ? 1u : 0u) << at;
        if (s.suffix == -2) {
            EXPECT_EQ(step.Done[0].Ticket, 42u);
            EXPECT_FALSE(step.Done[0].Found);
        }
    }
    EXPECT_EQ(r.InFlight(), 0u);
    EXPECT_FALSE(r.NextDeadline());
    EXPECT_FALSE(r.Cached(Name("bob"), T0 + 2s)) << "failures are not cached";
}

TEST(Resolver, OnlyAnAnswerToOneOfItsQueriesFinishesALookup)
{
    Resolver r(300);
    r.Begin(Name("bob"), 1, T0);
    r.Begin(Name("BOB"), 2, T0 + 10ms); // joins: one lookup, one query per try
    const auto first = r.Due(T0 + 10ms);
    ASSERT_EQ(first.Queries.size(), 1u);
    const std::uint16_t id = first.Queries[0].TrnId;

    EXPECT_TRUE(r.OnAnswer(Name("bob"), id + 1, false, Bob, T0).empty()) << "another transaction";
    EXPECT_TRUE(r.OnAnswer(Name("bob", WorkstationSuffix), id, false, Bob, T0).empty()) << "a name not asked";
    EXPECT_TRUE(r.OnAnswer(Name("carol"), id, false, Bob, T0).empty()) << "no lookup for it";
    EXPECT_FALSE(r.Cached(Name("carol"), T0)) << "an unasked answer must not fill the cache";

    // An answer to the <03> query still counts once the <00> queries run.
    for (auto at : {250ms, 500ms, 750ms})
        r.Due(T0 + at);
    const auto done = r.OnAnswer(Name("bob"), id, false, Bob, T0 + 800ms);
    ASSERT_EQ(done.size(), 2u);
    for (const Resolution &d : done) {
        ASSERT_TRUE(d.Found);
        EXPECT_EQ(d.Found->Name, Name("bob"));
        EXPECT_FALSE(d.Found->Group);
        EXPECT_EQ(d.Found->Address, Bob);
    }
    EXPECT_EQ(r.InFlight(), 0u);
    EXPECT_TRUE(r.OnAnswer(Name("bob"), id, false, Bob, T0 + 900ms).empty()) << "a second answer";
}

TEST(Resolver, KeepsAPositiveAnswerThirtySeconds)
{
    Resolver r(1);
    r.Begin(Name("workgroup"), 9, T0);
    for (auto at : {0ms, 250ms, 500ms, 750ms})
        r.Due(T0 + at);
    // The group answers only to <00>.
    const auto done = r.OnAnswer(Name("workgroup", WorkstationSuffix), 2, true, Bob, T0 + 760ms);
    ASSERT_EQ(done.size(), 1u);
    const auto hit = r.Cached(Name("WorkGroup"), T0 + 760ms + 29999ms);
    ASSERT_TRUE(hit);
    EXPECT_TRUE(hit->Group);
    EXPECT_EQ(hit->Name, Name("workgroup", WorkstationSuffix));
    EXPECT_FALSE(r.Cached(Name("workgroup"), T0 + 760ms + 30s));
}

TEST(Resolver, ReleaseByTheOwnerDropsTheCachedAnswer)
{
    Resolver r(1);
    r.Begin(Name("bob"), 1, T0);
    const std::uint16_t id = r.Due(T0).Queries.at(0).TrnId;
    ASSERT_EQ(r.OnAnswer(Name("bob"), id, false, Bob, T0).size(), 1u);
    r.Forget(Name("bob"), Bob + 1);
    EXPECT_TRUE(r.Cached(Name("bob"), T0 + 1s)) << "a release from another host";
    r.Forget(Name("bob"), Bob);
    EXPECT_FALSE(r.Cached(Name("bob"), T0 + 1s));
}

TEST(Resolver, ADatagramErrorFromTheOwnerDropsItsUniqueNames)
{
    Resolver r(1);
    const struct {
        const char *name;
        bool group;
        Ipv4 from;
        bool kept;
    } answers[] = {{"bob", false, Bob, false}, {"bob-pc", false, Bob, false},
                   {"carol", false, Bob + 1, true}, {"team", true, Bob, true}};
    for (std::size_t i = 0; i < 4; ++i) {
        r.Begin(Name(answers[i].name), i, T0);
        const std::uint16_t id = r.Due(T0).Queries.at(0).TrnId;
        ASSERT_EQ(r.OnAnswer(Name(answers[i].name), id, answers[i].group, answers[i].from, T0).size(), 1u);
    }
    r.ForgetOwner(Bob);
    for (const auto &a : answers)
        EXPECT_EQ(r.Cached(Name(a.name), T0 + 1s).has_value(), a.kept) << a.name;
}

TEST(Resolver, CacheStaysBounded)
{
    Resolver r(1);
    const std::size_t names = Resolver::CacheLimit + 20;
    for (std::size_t i = 0; i < names; ++i) {
        const NetbiosName n = Name("host" + std::to_string(i));
        const SteadyTime at = T0 + std::chrono::milliseconds(i);
        r.Begin(n, i, at);
        const std::uint16_t id = r.Due(at).Queries.at(0).TrnId;
        ASSERT_EQ(r.OnAnswer(n, id, false, Bob, at).size(), 1u);
    }
    const SteadyTime later = T0 + 1s;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < names; ++i)
        kept += r.Cached(Name("host" + std::to_string(i)), later).has_value();
    EXPECT_EQ(kept, Resolver::CacheLimit);
    EXPECT_FALSE(r.Cached(Name("host0"), later)) << "the oldest goes first";
    EXPECT_TRUE(r.Cached(Name("host" + std::to_string(names - 1)), later));
}

} // namespace

// With a WINS server: asked first, by unicast, for both suffixes.
namespace {

const Ipv4 Server = 0x0A4D0902;

TEST(Resolver, AsksTheServerForBothSuffixesThenBroadcasts)
{
    NameServer server(Server);
    Resolver r(1);
    r.UseServer(&server);
    r.Begin(Name("far"), 1, T0);
    const auto first = r.Due(T0).Queries;
    ASSERT_EQ(first.size(), 1u);
    EXPECT_TRUE(first[0].ToServer);
    EXPECT_EQ(first[0].Name, Name("far"));
    r.OnServerNegative(Name("far"), first[0].TrnId + 1, T0); // not its query: ignored
    r.OnServerNegative(Name("far"), first[0].TrnId, T0 + 5ms);
    const auto second = r.Due(T0 + 5ms).Queries;
    ASSERT_EQ(second.size(), 1u);
    EXPECT_TRUE(second[0].ToServer);
    EXPECT_EQ(second[0].Name, Name("far", WorkstationSuffix));
    // The server knows neither: the subnet is asked, the usual six times.
    r.OnServerNegative(Name("far", WorkstationSuffix), second[0].TrnId, T0 + 10ms);
    int broadcasts = 0;
    std::size_t failed = 0;
    for (auto at = 10ms; at <= 1510ms; at += 250ms) {
        const ResolverStep step = r.Due(T0 + at);
        for (const ResolverQuery &q : step.Queries)
            broadcasts += !q.ToServer;
        failed += step.Done.size();
    }
    EXPECT_EQ(broadcasts, 6);
    EXPECT_EQ(failed, 1u);
    EXPECT_TRUE(server.Up()) << "it answered";

    // A positive answer gives the address the server names.
    r.Begin(Name("near"), 2, T0 + 2s);
    const auto q = r.Due(T0 + 2s).Queries.at(0);
    const auto done = r.OnAnswer(q.Name, q.TrnId, false, 0x0A4D0003, T0 + 2s);
    ASSERT_EQ(done.size(), 1u);
    EXPECT_EQ(done[0].Found->Address, 0x0A4D0003u);
}

TEST(Resolver, ASilentServerIsWaitedForOnceThenNotUntilItAnswers)
{
    NameServer server(Server);
    Resolver r(1);
    r.UseServer(&server);
    r.Begin(Name("far"), 1, T0);
    for (auto at : {0ms, 500ms, 1000ms}) {
        const auto qs = r.Due(T0 + at).Queries;
        ASSERT_EQ(qs.size(), 1u);
        EXPECT_TRUE(qs[0].ToServer);
    }
    const auto fallback = r.Due(T0 + 1500ms).Queries;
    ASSERT_EQ(fallback.size(), 1u);
    EXPECT_FALSE(fallback[0].ToServer);
    EXPECT_FALSE(server.Up());
    // The next lookup broadcasts at once and fails within the six tries.
    Resolver later(100);
    later.UseServer(&server);
    later.Begin(Name("other"), 2, T0 + 5s);
    const auto next = later.Due(T0 + 5s).Queries;
    ASSERT_EQ(next.size(), 1u);
    EXPECT_FALSE(next[0].ToServer);
    std::size_t failed = 0;
    for (auto at = 250ms; at <= 1500ms; at += 250ms)
        failed += later.Due(T0 + 5s + at).Done.size();
    EXPECT_EQ(failed, 1u);
    server.Answered();
    later.Begin(Name("third"), 3, T0 + 9s);
    EXPECT_TRUE(later.Due(T0 + 9s).Queries.at(0).ToServer);
}

} // namespace
