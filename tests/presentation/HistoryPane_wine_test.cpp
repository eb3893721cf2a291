// The history pane after every entry looks exactly as setting the whole
// history as its text leaves it: the text, the selection, the first visible
// line, both scroll offsets, the caret, the modified and undo state and the
// text limit. Checked at 1, 100 and 10,000 entries, after the F11 trace, and
// after the user selected text in the pane, scrolled it or clicked into it.
// The reference is a whole-text set of the same text into the pane itself
// (which leaves it as a station that rewrote the pane would), and a fresh
// edit control of the pane's style for the text limit.
#include "tests/wine/Received.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

using namespace wine;

namespace {
constexpr DWORD PaneStyle = 0x50310844; // the station's history pane

LRESULT Ask(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, 30000, &result))
        return -12345;
    return static_cast<LRESULT>(result);
}

struct PaneState {
    std::string Text;
    DWORD SelStart = 0, SelEnd = 0;
    LRESULT FirstVisible = 0, Limit = 0;
    LRESULT Origin = 0; // where character 0 lies: both scroll offsets, in pixels
    LONG Style = 0;     // the pane is hidden while its text changes; nothing else may move
    HWND CaretWindow = nullptr;
    RECT Caret{};
    std::string Described; // all of it, with the line count, thumb, modified and undo state
                           // and the system's copy of the text, as other processes read it
};

PaneState StateOf(const Station &station)
{
    const HWND pane = station.History();
    PaneState s;
    s.Text = TextOf(pane);
    Ask(pane, EM_GETSEL, reinterpret_cast<WPARAM>(&s.SelStart), reinterpret_cast<LPARAM>(&s.SelEnd));
    s.FirstVisible = Ask(pane, EM_GETFIRSTVISIBLELINE);
    s.Limit = Ask(pane, EM_GETLIMITTEXT);
    s.Origin = Ask(pane, EM_POSFROMCHAR, 0);
    s.Style = GetWindowLongA(pane, GWL_STYLE);
    char system[64] = {};
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (GetGUIThreadInfo(station.ThreadId(), &info) && info.hwndCaret == pane) {
        s.CaretWindow = info.hwndCaret;
        s.Caret = info.rcCaret;
    }
    std::ostringstream out;
    out << "text " << s.Text.size() << " bytes, selection " << s.SelStart << ".." << s.SelEnd
        << ", first visible line " << s.FirstVisible << ", lines " << Ask(pane, EM_GETLINECOUNT)
        << ", thumb " << Ask(pane, EM_GETTHUMB) << ", char 0 at ("
        << static_cast<short>(LOWORD(s.Origin)) << "," << static_cast<short>(HIWORD(s.Origin))
        << "), modified " << Ask(pane, EM_GETMODIFY) << ", can undo " << Ask(pane, EM_CANUNDO)
        << ", limit " << s.Limit << ", style " << std::hex << s.Style << std::dec
        << ", system text " << GetWindowTextA(pane, system, sizeof system) << " bytes, caret "
        << (s.CaretWindow ? "in " : "none ") << reinterpret_cast<std::uintptr_t>(s.CaretWindow)
        << " at " << s.Caret.left << "," << s.Caret.top << "-" << s.Caret.right << ","
        << s.Caret.bottom;
    s.Described = out.str();
    return s;
}

// The text limit a fresh pane has after a whole-text set of this text.
LRESULT FreshLimitAfter(const std::string &text)
{
    const HWND edit = CreateWindowExA(WS_EX_CLIENTEDGE, "Edit", "", PaneStyle & ~WS_CHILD, 0, 0,
                                      300, 100, nullptr, nullptr, nullptr, nullptr);
    SetWindowTextA(edit, text.c_str());
    const LRESULT limit = SendMessageA(edit, EM_GETLIMITTEXT, 0, 0);
    DestroyWindow(edit);
    return limit;
}

// The pane now, against the same pane after a whole-text set of its own text.
void ExpectAsAfterWholeTextSet(const Station &station, const std::string &when)
{
    SCOPED_TRACE(when);
    station.WaitUntilHandled();
    const PaneState now = StateOf(station);
    // Wine delivers at most about 1 MB of text to another process's window;
    // a set that did not arrive would compare the pane with itself.
    ASSERT_EQ(Ask(station.History(), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(now.Text.c_str())),
              TRUE);
    station.WaitUntilHandled();
    const PaneState reference = StateOf(station);
    EXPECT_EQ(now.Described, reference.Described);
    EXPECT_TRUE(now.Text == reference.Text);
    EXPECT_EQ(now.FirstVisible, 0);
    EXPECT_EQ(now.SelStart, 0u);
    EXPECT_EQ(now.SelEnd, 0u);
    EXPECT_EQ(now.Limit, FreshLimitAfter(now.Text));
}

// Message n; a wide one reaches past the pane's right edge, so that the pane
// can scroll sideways.
std::string Text(int n, bool wide = true)
{
    char head[32];
    std::snprintf(head, sizeof head, "pane %05d ", n);
    return head +
           std::string(wide ? "a line of the history pane that is wider than the pane itself, "
                              "so it can scroll sideways"
                            : "a line") +
           "\r\n\tx@PANE";
}

// Writes messages first..last-1 and waits until the pane holds them all.
bool Feed(const Station &station, int first, int last, int timeoutMs, bool wide = true)
{
    for (int n = first; n < last; ++n)
        if (!WriteToStation(MessageBlock("x", "bench", Text(n, wide))))
            return false;
    return WaitUntil([&] { return Ask(station.History(), EM_GETLINECOUNT) == last + 1; },
                     timeoutMs, 50);
}

// The pane holds exactly the messages 0..count-1, newest first, one a line.
void ExpectHistoryOf(const Station &station, int count)
{
    const auto entries = Entries(station);
    ASSERT_EQ(entries.size(), static_cast<std::size_t>(count));
    for (int n = 0; n < count; ++n) {
        char head[32];
        std::snprintf(head, sizeof head, "<<pane %05d ", n);
        ASSERT_NE(entries[static_cast<std::size_t>(count - 1 - n)].find(head), std::string::npos)
            << "entry " << count - 1 - n;
    }
}
} // namespace

// The pop-up boxes stay open (at most 100; the rest wait in the station's
// queue): closing each would show ten thousand boxes one after another.
// The entries stay short, so that 10,000 of them (about 850 KB) can still be
// set into the pane from here as the reference.
TEST(HistoryPane, EachEntryLeavesThePaneAsAWholeTextSetAt1And100And10000Entries)
{
    Station station;
    ASSERT_TRUE(WaitUntilReceiving(station));

    ASSERT_TRUE(Feed(station, 0, 1, 30000));
    ExpectAsAfterWholeTextSet(station, "1 entry");
    ASSERT_TRUE(Feed(station, 1, 100, 90000));
    ExpectAsAfterWholeTextSet(station, "100 entries");
    ExpectHistoryOf(station, 100);

    // Hidden, the station takes the bulk faster: nothing is drawn.
    station.PostTo(station.HideButton(), BM_CLICK, 0);
    ASSERT_TRUE(WaitUntil([&] { return !IsShown(station.Window()); }));
    ASSERT_TRUE(Feed(station, 100, 10000, 150000, false));
    ExpectAsAfterWholeTextSet(station, "10000 entries, hidden");
    ShowWindow(station.Window(), SW_SHOWNORMAL);
    ASSERT_TRUE(WaitUntil([&] { return IsShown(station.Window()); }));
    ASSERT_TRUE(Feed(station, 10000, 10001, 30000));
    ExpectAsAfterWholeTextSet(station, "10001 entries, shown");
    ExpectHistoryOf(station, 10001);
}

TEST(HistoryPane, AfterTheTraceAndTheUsersSelectionScrollingAndClickTheNextEntryLooksTheSame)
{
    Station station;
    ASSERT_TRUE(WaitUntilReceiving(station));
    ASSERT_TRUE(Feed(station, 0, 40, 90000));
    ExpectAsAfterWholeTextSet(station, "40 entries");

    // F11 on: the pane shows trace lines, an entry still goes into History;
    // F11 off: the pane shows the (empty) first argument; the next entry
    // brings the whole history back.
    const LONG style = StateOf(station).Style;
    station.Post(WM_KEYUP, VK_F11, 0xC0000001);
    station.WaitUntilHandled();
    ASSERT_TRUE(WriteToStation(MessageBlock("x", "bench", Text(40))));
    ASSERT_TRUE(WaitUntil([&] { return TextOf(station.History()).rfind("MSG ", 0) == 0; }));
    // Traced, every message the station takes (our own marker among them,
    // the poll timer each second) sets a line into the pane right after its
    // dispatch, hiding it meanwhile: any one look can fall into such a set.
    // The pane must come back as it was between them.
    EXPECT_TRUE(WaitUntil([&] { return StateOf(station).Style == style; }, 3000))
        << "after trace lines, style " << std::hex << StateOf(station).Style << ", not " << style;
    station.Post(WM_KEYUP, VK_F11, 0xC0000001);
    ASSERT_TRUE(WaitUntil([&] { return TextOf(station.History()).empty(); }));
    ASSERT_TRUE(Feed(station, 41, 42, 30000));
    ExpectAsAfterWholeTextSet(station, "after the trace");
    ExpectHistoryOf(station, 42);

    // The user selects text in the pane, as a drag would.
    Ask(station.History(), EM_SETSEL, 5, 60);
    ASSERT_TRUE(Feed(station, 42, 43, 30000));
    ExpectAsAfterWholeTextSet(station, "after a selection");

    // The user scrolls down and to the right.
    Ask(station.History(), EM_LINESCROLL, 0, 12);
    Ask(station.History(), WM_HSCROLL, SB_PAGERIGHT, 0);
    ASSERT_GT(Ask(station.History(), EM_GETFIRSTVISIBLELINE), 0);
    ASSERT_LT(static_cast<short>(LOWORD(Ask(station.History(), EM_POSFROMCHAR, 0))), 0);
    ASSERT_TRUE(Feed(station, 43, 44, 30000));
    ExpectAsAfterWholeTextSet(station, "after scrolling");

    // The user clicks into the pane: it takes the focus and shows a caret.
    // The boxes go first, so that none takes the focus away; the entry is a
    // receipt, which opens no box and moves no focus.
    ASSERT_TRUE(WaitUntil([&] { return BoxesOf(station.Pid()).size() == 44; }, 30000));
    for (const Box &box : BoxesOf(station.Pid()))
        CloseBox(box.Window);
    ASSERT_TRUE(WaitUntil([&] { return BoxesOf(station.Pid()).empty(); }, 30000));
    const LPARAM at = MAKELPARAM(60, 30);
    station.PostTo(station.History(), WM_LBUTTONDOWN, MK_LBUTTON, at);
    station.PostTo(station.History(), WM_LBUTTONUP, 0, at);
    ASSERT_TRUE(WaitUntil([&] { return StateOf(station).CaretWindow == station.History(); }));
    EXPECT_NE(StateOf(station).SelStart, 0u);
    ASSERT_TRUE(WriteToStation(MessageBlock("bob@PANE", "x", "\x03\x04\x03")));
    ASSERT_TRUE(WaitUntil([&] { return Ask(station.History(), EM_GETLINECOUNT) == 46; }));
    // The caret follows the selection to the start, as a whole-text set moves it.
    const PaneState entered = StateOf(station);
    EXPECT_EQ(entered.CaretWindow, station.History());
    EXPECT_EQ(entered.Caret.left, static_cast<short>(LOWORD(entered.Origin)));
    EXPECT_EQ(entered.Caret.top, static_cast<short>(HIWORD(entered.Origin)));
    ExpectAsAfterWholeTextSet(station, "after a click into the pane");
    EXPECT_EQ(FirstLine(TextOf(station.History())).rfind("~ ", 0), 0u);
}
