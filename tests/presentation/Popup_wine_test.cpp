// The pop-up boxes of the real tindrel.exe, watched from outside: what a
// message shows within a second, boxes in a burst, boxes while the window is
// hidden or minimised, closing in any order, and the cap on open boxes under
// a flood.
#include "tests/wine/Received.h"
#include "tests/wine/StampsAt.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <set>
#include <thread>

using namespace wine;
using Clock = std::chrono::steady_clock;

namespace {

long long MsSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// How long one message may take from the write to everything it shows: up
// to one poll period, the first box of a process, and room for a machine
// that runs another station beside it.
constexpr int ArrivalLimitMs = 2500;

TEST(PopupArrival, TitleEntryAndBoxFollowAWriteWithinASecond)
{
    Station station;
    ASSERT_TRUE(WaitUntilReceiving(station));
    std::printf("locale %04lx, station %s@%s\n", GetThreadLocale(), UserName().c_str(),
                ComputerName().c_str());

    // CR LF and TAB show in the box as they are and as 0x03 in the history
    // line; 0x1F does too, 0x01 stays.
    const std::string text = "first line\r\nsecond\tcolumn\x1F end\x01";
    const SYSTEMTIME before = LocalNow();
    const auto start = Clock::now();
    ASSERT_TRUE(WriteToStation(MessageBlock("alice", "bob", text)));
    ASSERT_TRUE(WaitUntil([&] { return PopupsOf(station.Pid()).size() == 1 &&
                                       Entries(station).size() == 1; },
                          ArrivalLimitMs, 10))
        << "after " << MsSince(start) << " ms";
    const long long arrival = MsSince(start);
    const SYSTEMTIME after = LocalNow();
    std::printf("box and entry %lld ms after the write\n", arrival);

    EXPECT_EQ(station.Title(), "Zorvanta tindrel...");
    const std::string entry = Entries(station).at(0);
    EXPECT_TRUE(StampedBetween(entry, ReceivedStampAt,
                               "From:alice, To:bob <<first line\x03\x03second\x03" "column\x03 end\x01>>",
                               before, after))
        << entry;
    const Box box = PopupsOf(station.Pid()).at(0);
    const std::string first = "From:\talice\r\nTo:\tbob\r\n\r\n" + text;
    EXPECT_EQ(box.Text, first);
    EXPECT_TRUE(StampedBetween(box.Caption, CaptionAt, "", before, after)) << box.Caption;
    // System-modal, so above every other window; no owner; OK alone.
    EXPECT_EQ(GetWindow(box.Window, GW_OWNER), nullptr);
    EXPECT_NE(GetWindowLongA(box.Window, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
    EXPECT_NE(GetDlgItem(box.Window, IDOK), nullptr);
    for (int button : {IDCANCEL, IDYES, IDNO, IDRETRY, IDIGNORE, IDABORT})
        EXPECT_EQ(GetDlgItem(box.Window, button), nullptr) << button;

    // A burst of three: three boxes, each with its own text and caption.
    const SYSTEMTIME burst = LocalNow();
    for (const char *t : {"one", "two", "three"})
        ASSERT_TRUE(WriteToStation(MessageBlock("carl", "bob", t)));
    ASSERT_TRUE(
        WaitUntil([&] { return PopupsOf(station.Pid()).size() == 4; }, ArrivalLimitMs + 1000));
    const SYSTEMTIME burstEnd = LocalNow();
    std::map<std::string, HWND> byText;
    for (const Box &b : PopupsOf(station.Pid())) {
        byText[b.Text] = b.Window;
        if (b.Window != box.Window) {
            EXPECT_TRUE(StampedBetween(b.Caption, CaptionAt, "", burst, burstEnd)) << b.Caption;
        }
    }
    const std::string one = "From:\tcarl\r\nTo:\tbob\r\n\r\none";
    const std::string two = "From:\tcarl\r\nTo:\tbob\r\n\r\ntwo";
    const std::string three = "From:\tcarl\r\nTo:\tbob\r\n\r\nthree";
    ASSERT_EQ(byText.size(), 4u);
    ASSERT_TRUE(byText.count(one) && byText.count(two) && byText.count(three));
    ASSERT_TRUE(WaitForEntries(station, 4));
    const auto logged = Logged(station);
    EXPECT_EQ(std::vector<std::string>(logged.begin() + 1, logged.end()),
              (std::vector<std::string>{"From:carl, To:bob <<one>>", "From:carl, To:bob <<two>>",
                                        "From:carl, To:bob <<three>>"}));

    // Closed out of order: the others stay, and the window answers meanwhile.
    std::multiset<std::string> open = {first, one, two, three};
    for (const std::string &closing : {two, first, three}) {
        CloseBox(byText[closing]);
        open.erase(open.find(closing));
        EXPECT_TRUE(WaitUntil([&] { return PopupTexts(station.Pid()) == open; })) << closing;
        EXPECT_EQ(TextOf(station.Window()), "Zorvanta tindrel...");
    }
    ASSERT_TRUE(WriteToStation(MessageBlock("dora", "bob", "still receiving")));
    open.insert("From:\tdora\r\nTo:\tbob\r\n\r\nstill receiving");
    EXPECT_TRUE(WaitUntil([&] { return PopupTexts(station.Pid()) == open; }, ArrivalLimitMs));
    EXPECT_TRUE(WaitForEntries(station, 5, ArrivalLimitMs));
    EXPECT_TRUE(EndsWith(Entries(station).at(0), "From:dora, To:bob <<still receiving>>"));
}

// Hiding or minimising the window changes nothing for the boxes, and a box
// does not bring the window back.
TEST(PopupArrival, BoxesAppearWhileTheWindowIsHiddenOrMinimised)
{
    const auto expectBox = [](const Station &station, const std::string &text) {
        const SYSTEMTIME before = LocalNow();
        const std::size_t entries = Entries(station).size();
        ASSERT_TRUE(WriteToStation(MessageBlock("erin", "bob", text)));
        ASSERT_TRUE(WaitUntil(
            [&] {
                for (const Box &box : PopupsOf(station.Pid()))
                    if (box.Text == "From:\terin\r\nTo:\tbob\r\n\r\n" + text)
                        return StampedBetween(box.Caption, CaptionAt, "", before, LocalNow());
                return false;
            },
            ArrivalLimitMs));
        ASSERT_TRUE(WaitForEntries(station, entries + 1));
        EXPECT_TRUE(EndsWith(Entries(station).at(0), "From:erin, To:bob <<" + text + ">>"));
    };
    {
        Launch hidden;
        hidden.Arguments = "/H";
        Station station(hidden);
        ASSERT_TRUE(WaitUntilReceiving(station));
        ASSERT_FALSE(IsShown(station.Window()));
        expectBox(station, "while started hidden");
        EXPECT_FALSE(IsShown(station.Window()));
    }
    Launch minimised;
    minimised.Arguments = "/M";
    Station station(minimised);
    ASSERT_TRUE(WaitUntilReceiving(station));
    ASSERT_TRUE(IsShown(station.Window()) && IsIconic(station.Window()));
    expectBox(station, "while minimised");
    EXPECT_TRUE(IsShown(station.Window()) && IsIconic(station.Window()));

    station.Post(WM_SYSCOMMAND, IdmHide);
    ASSERT_TRUE(WaitUntil([&] { return !IsShown(station.Window()); }));
    expectBox(station, "while hidden from the system menu");
    EXPECT_FALSE(IsShown(station.Window()));
}

// Index of a flood message from the text of its box, or -1.
int FloodIndex(const std::string &boxText)
{
    const std::string head = "From:\tflood\r\nTo:\tbob\r\n\r\nflood #";
    int index = -1;
    if (StartsWith(boxText, head) && boxText.size() == head.size() + 4)
        index = std::atoi(boxText.c_str() + head.size());
    return index;
}

std::string FloodText(int index)
{
    char text[16];
    std::snprintf(text, sizeof text, "flood #%04d", index);
    return text;
}

// A flood of 1,000 messages: every one is logged without waiting for a box,
// at most 100 boxes are open at any time, and the others are shown in order
// as boxes close, with the caption of the moment their message was handled.
TEST(PopupCap, AThousandMessagesOpenAtMostAHundredBoxesAndTheRestInOrder)
{
    constexpr int Total = 1000;
    constexpr std::size_t Cap = 100;
    const auto start = Clock::now();
    // Hidden: a hidden history pane takes an entry several times faster, and
    // the boxes do not depend on the window.
    Launch hidden;
    hidden.Arguments = "/H";
    Station station(hidden);
    ASSERT_TRUE(WaitUntilReceiving(station));

    std::atomic<bool> sampling{true};
    std::atomic<std::size_t> mostOpen{0};
    std::thread sampler([&] {
        while (sampling) {
            const std::size_t n = DialogsOf(station.Pid()).size();
            if (n > mostOpen)
                mostOpen = n;
            Sleep(20);
        }
    });
    struct StopSampler {
        std::atomic<bool> &Flag;
        std::thread &Thread;
        ~StopSampler()
        {
            Flag = false;
            Thread.join();
        }
    } stopSampler{sampling, sampler};

    const SYSTEMTIME floodStart = LocalNow();
    std::vector<std::string> flood, logged;
    for (int n = 0; n < Total; ++n) {
        flood.push_back(MessageBlock("flood", "bob", FloodText(n)));
        logged.push_back("From:flood, To:bob <<" + FloodText(n) + ">>");
    }
    BackgroundWriter writer(station, std::move(flood));
    const bool allLogged = WaitUntil([&] { return Entries(station).size() >= Total; }, 120000, 500);
    const SYSTEMTIME floodEnd = LocalNow();
    const long long loggedMs = MsSince(start);
    ASSERT_EQ(writer.Join(), static_cast<std::size_t>(Total));
    ASSERT_TRUE(allLogged) << Entries(station).size() << " entries";
    ASSERT_TRUE(station.Running());
    ASSERT_EQ(Logged(station), logged);
    std::printf("1000 entries logged %lld ms after start\n", loggedMs);

    // Which messages are shown now; every caption is the time of handling.
    std::set<std::string> handledCaptions;
    for (const SYSTEMTIME &t : SecondsBetween(floodStart, floodEnd))
        handledCaptions.insert(CaptionAt(t));
    std::set<std::string> strange; // boxes of no flood message, or with another caption
    PopupWatch watch(station.Pid());
    const auto shown = [&] {
        std::set<int> indices;
        for (const Box &box : watch.Now()) {
            const int index = FloodIndex(box.Text);
            if (index < 0 || handledCaptions.count(box.Caption) == 0)
                strange.insert(box.Caption + " | " + box.Text);
            indices.insert(index);
        }
        return indices;
    };

    // The first hundred are open; the next ones follow one box closed at a
    // time, whichever box that is, then a hundred at once.
    std::set<int> expected;
    for (int n = 0; n < static_cast<int>(Cap); ++n)
        expected.insert(n);
    int next = static_cast<int>(Cap);
    ASSERT_TRUE(WaitUntil([&] { return shown() == expected; }, 30000, 200))
        << shown().size() << " boxes";
    const auto closeAndExpect = [&](const std::vector<int> &closing) {
        std::map<int, HWND> windows;
        for (const Box &box : watch.Now())
            windows[FloodIndex(box.Text)] = box.Window;
        for (int index : closing) {
            CloseBox(windows.at(index));
            expected.erase(index);
            expected.insert(next++);
        }
        return WaitUntil([&] { return shown() == expected; }, 30000, 200);
    };
    for (int index : {50, 0, 99, 100, 7})
        ASSERT_TRUE(closeAndExpect({index})) << "closing " << index;
    // Newest first, so that the order of closing and the order of showing differ.
    ASSERT_TRUE(closeAndExpect(std::vector<int>(expected.rbegin(), expected.rend())))
        << shown().size() << " boxes";

    EXPECT_LE(mostOpen.load(), Cap);
    EXPECT_GE(mostOpen.load(), Cap);
    EXPECT_TRUE(strange.empty()) << strange.size() << " strange boxes, e.g. " << *strange.begin();
    EXPECT_TRUE(station.Running());
    EXPECT_EQ(TextOf(station.Window()), "Zorvanta tindrel...");
    std::printf("%d boxes shown, %zu open at most, %lld ms after start\n", next, mostOpen.load(),
                MsSince(start));
}

} // namespace
