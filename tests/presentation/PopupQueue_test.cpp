// Unit tests of the cap on open pop-up boxes: scripted admissions and
// releases with the counts after each step, and a burst admitted on one
// thread while many box threads release, checked by counts and order.
#include "presentation/PopupQueue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <string>
#include <thread>
#include <vector>

namespace {

Popup Numbered(int id) { return Popup{"c" + std::to_string(id), "t" + std::to_string(id)}; }

// Number of the pop-up, checking that caption and text stayed together.
int IdOf(const std::optional<Popup> &p)
{
    if (!p)
        return -1;
    EXPECT_EQ(p->Caption.substr(1), p->Text.substr(1));
    return std::stoi(p->Text.substr(1));
}

struct Op {
    char What;   // 'A' admit Id, 'N' next, 'X' abandon
    int Id;      // for 'A'
    int Expect;  // for 'A' and 'N': the pop-up to show now, -1 for none
    std::size_t Open, Waiting;
};

struct Script {
    const char *Name;
    std::size_t Limit;
    std::vector<Op> Ops;
};

void PrintTo(const Script &c, std::ostream *os) { *os << c.Name; }

class PresentationPopupQueue : public ::testing::TestWithParam<Script> {};

TEST_P(PresentationPopupQueue, Script)
{
    PopupQueue queue(GetParam().Limit, 0);
    int n = 0;
    for (const Op &op : GetParam().Ops) {
        SCOPED_TRACE("op " + std::to_string(++n) + " " + op.What);
        if (op.What == 'A')
            EXPECT_EQ(IdOf(queue.Admit(Numbered(op.Id))), op.Expect);
        else if (op.What == 'N')
            EXPECT_EQ(IdOf(queue.Next()), op.Expect);
        else
            queue.Abandon();
        EXPECT_EQ(queue.Open(), op.Open);
        EXPECT_EQ(queue.Waiting(), op.Waiting);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, PresentationPopupQueue,
    ::testing::Values(
        Script{"WaitInOrderAndTakeOverPlaces", 3,
               {{'A', 1, 1, 1, 0}, {'A', 2, 2, 2, 0}, {'A', 3, 3, 3, 0},
                {'A', 4, -1, 3, 1}, {'A', 5, -1, 3, 2},
                {'N', 0, 4, 3, 1}, {'A', 6, -1, 3, 2}, {'N', 0, 5, 3, 1}, {'N', 0, 6, 3, 0},
                // None waiting: the place is freed, and the next admission takes it.
                {'N', 0, -1, 2, 0}, {'A', 7, 7, 3, 0}, {'A', 8, -1, 3, 1}, {'N', 0, 8, 3, 0},
                {'N', 0, -1, 2, 0}, {'N', 0, -1, 1, 0}, {'N', 0, -1, 0, 0},
                // A stray release cannot make the count wrap.
                {'N', 0, -1, 0, 0}, {'A', 9, 9, 1, 0}}},
        Script{"AbandonFreesAPlace", 2,
               {{'A', 1, 1, 1, 0}, {'A', 2, 2, 2, 0}, {'X', 0, 0, 1, 0}, {'A', 3, 3, 2, 0},
                {'A', 4, -1, 2, 1}, {'N', 0, 4, 2, 0}, {'X', 0, 0, 1, 0}, {'X', 0, 0, 0, 0},
                {'X', 0, 0, 0, 0}, {'A', 5, 5, 1, 0}, {'A', 6, 6, 2, 0}}},
        Script{"LimitOne", 1,
               {{'A', 1, 1, 1, 0}, {'A', 2, -1, 1, 1}, {'A', 3, -1, 1, 2}, {'N', 0, 2, 1, 1},
                {'N', 0, 3, 1, 0}, {'N', 0, -1, 0, 0}}}),
    [](const auto &info) { return std::string(info.param.Name); });

// Boxes open one interval apart: a box that comes while others wait for
// their turn is put after the last of them; after a quiet spell it opens at
// once.
TEST(PresentationPopupQueueOpening, OneIntervalApart)
{
    PopupQueue queue(100, 20);
    const struct {
        std::uint64_t Now, Delay;
    } steps[] = {{1000, 0}, {1000, 20}, {1000, 40}, {1005, 55}, {1061, 19},
                 {1100, 0}, {1119, 1},  {5000, 0},  {5000, 20}};
    for (const auto &step : steps)
        EXPECT_EQ(queue.OpeningDelay(step.Now), step.Delay) << "at " << step.Now;
}

// A burst through the cap, the way the pop-up module uses it: the window's
// thread admits; each admitted pop-up goes to a box; a box that closes asks
// for the next waiting pop-up and shows it in its place.
struct BurstResult {
    std::vector<int> TimesShown;            // per pop-up
    std::vector<int> Waited;                // admitted to wait, in order
    std::vector<int> HandedOver;            // in the order Next gave them (serialised run)
    std::vector<std::vector<int>> PerBox;   // handed over, per box thread
    int MaxHeld = 0;
    bool Drained = false;
    std::size_t OpenAfter = 0, WaitingAfter = 0;
};

BurstResult RunBurst(std::size_t limit, int total, int firstBatch, int boxThreads, bool serialiseNext)
{
    PopupQueue queue(limit, 0);
    BurstResult r;
    r.TimesShown.assign(static_cast<std::size_t>(total), 0);
    r.PerBox.resize(static_cast<std::size_t>(boxThreads));

    std::mutex channelLock;
    std::condition_variable channelReady;
    std::deque<Popup> toShow;
    bool closing = false;

    std::mutex nextLock;  // only when serialiseNext: makes the order of Next calls observable
    std::mutex shownLock; // guards TimesShown and HandedOver
    std::atomic<int> held{0}, maxHeld{0}, shown{0};
    // Counted up after the queue gave a place and down before a box gives it
    // back, so it never exceeds what the queue counts open.
    const auto hold = [&] {
        const int now = held.fetch_add(1) + 1;
        int seen = maxHeld.load();
        while (now > seen && !maxHeld.compare_exchange_weak(seen, now)) {
        }
    };

    const auto box = [&](std::size_t self) {
        for (;;) {
            std::optional<Popup> popup;
            {
                std::unique_lock<std::mutex> lock(channelLock);
                channelReady.wait(lock, [&] { return !toShow.empty() || closing; });
                if (toShow.empty())
                    return;
                popup = std::move(toShow.front());
                toShow.pop_front();
            }
            while (popup) {
                const int id = IdOf(popup);
                {
                    const std::lock_guard<std::mutex> g(shownLock);
                    ++r.TimesShown.at(static_cast<std::size_t>(id));
                }
                ++shown;
                std::this_thread::yield(); // the user reads the box
                held.fetch_sub(1);
                if (serialiseNext) {
                    const std::lock_guard<std::mutex> g(nextLock);
                    popup = queue.Next();
                    if (popup) {
                        const std::lock_guard<std::mutex> s(shownLock);
                        r.HandedOver.push_back(IdOf(popup));
                    }
                } else {
                    popup = queue.Next();
                }
                if (popup) {
                    hold();
                    r.PerBox[self].push_back(IdOf(popup));
                }
            }
        }
    };

    bool withinLimit = true;
    const auto admit = [&](int id) {
        auto admitted = queue.Admit(Numbered(id));
        withinLimit = withinLimit && queue.Open() <= limit;
        if (!admitted) {
            r.Waited.push_back(id);
            return;
        }
        hold();
        {
            const std::lock_guard<std::mutex> lock(channelLock);
            toShow.push_back(std::move(*admitted));
        }
        channelReady.notify_one();
    };

    // The first batch fills the cap before any box can close.
    for (int id = 0; id < firstBatch; ++id)
        admit(id);
    std::vector<std::thread> boxes;
    for (int b = 0; b < boxThreads; ++b)
        boxes.emplace_back(box, static_cast<std::size_t>(b));
    for (int id = firstBatch; id < total; ++id) {
        admit(id);
        if (id % 16 == 0)
            std::this_thread::yield();
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (shown.load() < total && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    r.Drained = shown.load() >= total;
    {
        const std::lock_guard<std::mutex> lock(channelLock);
        closing = true;
    }
    channelReady.notify_all();
    for (std::thread &t : boxes)
        t.join();

    EXPECT_TRUE(withinLimit) << "the queue counted more than its limit open";
    r.MaxHeld = maxHeld.load();
    r.OpenAfter = queue.Open();
    r.WaitingAfter = queue.Waiting();
    return r;
}

void ExpectEveryPopupShownOnce(const BurstResult &r, std::size_t limit, int total, int firstBatch)
{
    ASSERT_TRUE(r.Drained) << "pop-ups were left waiting with no box to show them";
    EXPECT_EQ(std::count(r.TimesShown.begin(), r.TimesShown.end(), 1), total);
    EXPECT_EQ(r.MaxHeld, static_cast<int>(limit));
    EXPECT_EQ(r.OpenAfter, 0u);
    EXPECT_EQ(r.WaitingAfter, 0u);
    // Everything past the cap in the first batch had to wait.
    EXPECT_GE(r.Waited.size(), static_cast<std::size_t>(firstBatch) - limit);
    EXPECT_TRUE(std::is_sorted(r.Waited.begin(), r.Waited.end()));
}

TEST(PresentationPopupQueueBurst, ThousandThroughAHundredInOrder)
{
    constexpr std::size_t Limit = 100;
    constexpr int Total = 1000, FirstBatch = 300;
    const BurstResult r = RunBurst(Limit, Total, FirstBatch, 8, true);
    ExpectEveryPopupShownOnce(r, Limit, Total, FirstBatch);
    // Waiting pop-ups come out exactly in the order they were admitted.
    EXPECT_EQ(r.HandedOver, r.Waited);
}

TEST(PresentationPopupQueueBurst, ThousandThroughAHundredWithFreeRunningBoxes)
{
    constexpr std::size_t Limit = 100;
    constexpr int Total = 1000, FirstBatch = 300;
    const BurstResult r = RunBurst(Limit, Total, FirstBatch, 16, false);
    ExpectEveryPopupShownOnce(r, Limit, Total, FirstBatch);
    // Each box takes waiting pop-ups in admission order, and together the
    // boxes took every one that waited.
    std::vector<int> all;
    for (const std::vector<int> &taken : r.PerBox) {
        EXPECT_TRUE(std::is_sorted(taken.begin(), taken.end()));
        all.insert(all.end(), taken.begin(), taken.end());
    }
    std::sort(all.begin(), all.end());
    EXPECT_EQ(all, r.Waited);
}

} // namespace
