// The keys, buttons and system commands of a running station, posted from
// outside as the system would queue them: what sends, what hides, what
// minimises, what asks and what ends, the Tab rotation, the length warning
// on the Send button and the F11 message trace.
#include "tests/wine/Station.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <functional>
#include <thread>

using namespace wine;

namespace {
// Key data of a key pressed with Alt held: repeat 1, scan code, context bit.
LPARAM AltKeyData(UINT vk)
{
    return static_cast<LPARAM>(0x20000001u | MapVirtualKeyA(vk, MAPVK_VK_TO_VSC) << 16);
}

// Keys go to the focus, or to the active window when nothing has the focus.
HWND KeyTarget(const Station &station)
{
    return station.Focus() ? station.Focus() : station.Window();
}

void PressAlt(const Station &station, UINT vk)
{
    station.PostTo(KeyTarget(station), WM_SYSKEYDOWN, vk, AltKeyData(vk));
    station.PostTo(KeyTarget(station), WM_SYSKEYUP, vk, AltKeyData(vk) | 0xC0000000);
}

void Click(const Station &station, HWND button)
{
    station.PostTo(button, BM_CLICK, 0);
}

std::string Tail()
{
    return "\x02\x02\x02" + UserName() + "@" + ComputerName() + "\x02\x02\x02\x02";
}

struct Named {
    const char *Name;
    std::function<void(const Station &)> Act;
};

// Shows the window normally again (restored, if it was minimised) and lets
// the station handle what that sent it.
bool ShowNormal(const Station &station)
{
    ShowWindow(station.Window(), SW_SHOWNORMAL);
    const bool shown = WaitUntil(
        [&] { return IsWindowVisible(station.Window()) && !IsIconic(station.Window()); });
    return shown && station.WaitUntilHandled();
}

// Each way in turn from a normally shown window, each followed by the checks.
void FromShownWindow(const Station &station, const std::vector<Named> &ways,
                     const std::function<void()> &checks)
{
    for (const Named &way : ways) {
        SCOPED_TRACE(way.Name);
        ASSERT_TRUE(ShowNormal(station));
        way.Act(station);
        checks();
    }
}

HWND WaitForQuestion(const Station &station)
{
    HWND box = nullptr;
    WaitUntil([&] {
        const auto boxes = BoxesOf(station.Pid());
        box = boxes.empty() ? nullptr : boxes.front().Window;
        return box != nullptr;
    });
    return box;
}

// The open menu of a process (a window of class #32768), or null.
HWND OpenMenu(DWORD pid)
{
    for (HWND menu : TopLevelWindows(pid, "#32768"))
        if (IsWindowVisible(menu))
            return menu;
    return nullptr;
}
} // namespace

TEST(ShellKeys, SendCaptionWarnsPast400Characters)
{
    struct Step {
        const char *Keys; // typed into the message field; "\b" deletes
        const char *Caption;
    };
    const std::array<Step, 5> steps = {{
        {"", "&Send"},
        {"b", "Length 401"},
        {"c", "Length 402"},
        {"\b", "Length 401"},
        {"\b", "&Send"},
    }};
    Station station;
    ASSERT_TRUE(station.Window());
    SetTextOf(station.Message(), std::string(400, 'a'));
    SendMessageA(station.Message(), EM_SETSEL, 400, 400);
    for (const Step &step : steps) {
        SCOPED_TRACE(std::string("after typing \"") + step.Keys + "\"");
        station.Type(station.Message(), step.Keys);
        station.WaitUntilHandled();
        EXPECT_TRUE(WaitUntil([&] { return TextOf(station.SendButton()) == step.Caption; }))
            << TextOf(station.SendButton());
    }
    // A text put in whole is counted as well, at the field's next repaint.
    SetTextOf(station.Message(), std::string(555, 'z'));
    EXPECT_TRUE(WaitUntil([&] { return TextOf(station.SendButton()) == "Length 555"; }));
}

TEST(ShellKeys, EnterSendsFromTheRecipientFieldOnly)
{
    MailslotSink bob("bob");
    Station station;
    ASSERT_TRUE(station.Window());
    SetTextOf(station.Recipient(), "bob");
    SetTextOf(station.Message(), "ab");
    SendMessageA(station.Message(), EM_SETSEL, 2, 2);

    station.PressKey(station.Message(), VK_RETURN);
    ASSERT_TRUE(station.Settle());
    EXPECT_EQ(TextOf(station.Message()), "ab\r\n") << "a line break, typed";
    EXPECT_TRUE(bob.BlocksUpToNow().empty());
    EXPECT_EQ(FirstLine(station.HistoryText()), "Command line parameters:");

    // The key going down sends; its release does nothing more.
    station.PostTo(station.Recipient(), WM_KEYDOWN, VK_RETURN, 1);
    ASSERT_TRUE(bob.WaitForBlocks(1));
    station.PostTo(station.Recipient(), WM_KEYUP, VK_RETURN, 0xC0000001);
    ASSERT_TRUE(station.Settle());
    EXPECT_EQ(bob.BlocksUpToNow(),
              std::vector{MessageBlock(UserName(), "bob", SignedText("ab\r\n"))});
    EXPECT_EQ(TextOf(station.Recipient()), "bob");
}

// Every way to send, one after the other with the fields kept and the
// focus where a user has it: each writes the block and logs the line of the
// sending rules, exactly once.
TEST(ShellKeys, AltSTheSendButtonAndEnterSendOnceEach)
{
    const std::vector<Named> ways = {
        {"Alt+S", [](const Station &s) { PressAlt(s, 'S'); }},
        {"Send button", [](const Station &s) { Click(s, s.SendButton()); }},
        {"Enter in the recipient field",
         [](const Station &s) { s.PressKey(s.Recipient(), VK_RETURN); }},
    };
    MailslotSink bob("bob");
    Station station;
    ASSERT_TRUE(station.Window());
    SetTextOf(station.Recipient(), "bob");
    SetTextOf(station.Message(), "see you\tat 5");
    const std::string body = UserName() + "\x02" "bob\x02" "see you\x02" "at 5" + Tail();
    std::size_t sent = 0;
    for (const Named &way : ways) {
        SCOPED_TRACE(way.Name);
        way.Act(station);
        if (!bob.WaitForBlocks(sent + 1)) {
            ADD_FAILURE() << "nothing sent";
            continue;
        }
        ++sent;
        ASSERT_TRUE(station.Settle());
        EXPECT_EQ(bob.BlocksUpToNow().size(), sent);
        EXPECT_EQ(bob.Blocks().back(),
                  MessageBlock(UserName(), "bob", SignedText("see you\tat 5")));
        std::string history = station.HistoryText(), stamp, rest;
        for (std::size_t line = 0; line < sent; ++line) {
            ASSERT_TRUE(SplitStamp(history, '>', stamp, rest)) << history;
            ASSERT_EQ(rest.substr(0, body.size() + 2), body + "\r\n");
            history = rest.substr(body.size() + 2);
        }
        EXPECT_EQ(history, "") << "one line per send, nothing else";
        EXPECT_EQ(TextOf(station.Message()), "see you\tat 5") << "nothing typed by the key";
        EXPECT_EQ(TextOf(station.Recipient()), "bob");
        // The send disables the clicked button for a moment; the keyboard
        // focus must not be lost with it.
        EXPECT_NE(station.Focus(), nullptr);
    }

    // Alt+S held down: every repeated key-down (bit 30 set) sends again.
    // Each repeat is posted once the one before it has been handled, as a
    // keyboard repeats some 30 ms apart.
    for (int repeat = 1; repeat <= 2; ++repeat) {
        station.PostTo(KeyTarget(station), WM_SYSKEYDOWN, 'S', AltKeyData('S') | 0x40000000);
        EXPECT_TRUE(bob.WaitForBlocks(sent + repeat)) << "repeat " << repeat;
        station.WaitUntilHandled();
    }
    ASSERT_TRUE(station.Settle());
    EXPECT_EQ(bob.BlocksUpToNow().size(), sent + 2);
}

TEST(ShellKeys, AltHTheHideButtonAndIdmHideHide)
{
    const std::vector<Named> ways = {
        {"Alt+H", [](const Station &s) { PressAlt(s, 'H'); }},
        {"Hide button", [](const Station &s) { Click(s, s.HideButton()); }},
        {"IDM_HIDE", [](const Station &s) { s.Post(WM_SYSCOMMAND, 17410); }},
    };
    Station station;
    ASSERT_TRUE(station.Window());
    FromShownWindow(station, ways, [&] {
        EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(station.Window()); }));
        EXPECT_FALSE(IsIconic(station.Window()));
    });
    EXPECT_TRUE(Receives(station, "still here")) << "hidden, it receives";
    EXPECT_TRUE(station.Running());
}

TEST(ShellKeys, CloseRequestsMinimiseAndDoNotEnd)
{
    const std::vector<Named> ways = {
        {"SC_CLOSE", [](const Station &s) { s.Post(WM_SYSCOMMAND, SC_CLOSE); }},
        // The default processing of Alt+F4 queues SC_CLOSE.
        {"Alt+F4", [](const Station &s) { PressAlt(s, VK_F4); }},
    };
    Station station;
    ASSERT_TRUE(station.Window());
    FromShownWindow(station, ways, [&] {
        EXPECT_TRUE(WaitUntil([&] { return IsIconic(station.Window()) != 0; }));
        ASSERT_TRUE(station.Settle());
        EXPECT_TRUE(station.Running());
        EXPECT_TRUE(IsWindowVisible(station.Window()));
        EXPECT_TRUE(BoxesOf(station.Pid()).empty()) << "no question either";
    });
}

TEST(ShellClose, AsksFirstNoKeepsRunningYesEnds)
{
    Station station;
    ASSERT_TRUE(station.Window());
    station.Post(WM_SYSCOMMAND, 17409);
    HWND box = WaitForQuestion(station);
    ASSERT_TRUE(box);
    const auto boxes = BoxesOf(station.Pid());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].Caption, "Tindrel");
    EXPECT_EQ(boxes[0].Text, "Do You want Exit \"Zorvanta Tindrel?\x0a\x0a"
                             "Warning: When you close, you will not receive pop-up messages!");
    EXPECT_EQ(GetWindow(box, GW_OWNER), station.Window());
    EXPECT_EQ(TextOf(GetDlgItem(box, IDYES)), "&Yes");
    EXPECT_EQ(TextOf(GetDlgItem(box, IDNO)), "&No");
    for (int other : {IDOK, IDCANCEL, IDABORT, IDRETRY, IDIGNORE}) {
        const HWND button = GetDlgItem(box, other);
        EXPECT_TRUE(!button || !IsWindowVisible(button)) << "button " << other;
    }

    PostMessageA(box, WM_COMMAND, IDNO, 0);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); }));
    ASSERT_TRUE(station.Settle());
    EXPECT_TRUE(station.Running());
    EXPECT_TRUE(IsWindowVisible(station.Window()));
    // The loop goes on after the question.
    station.Post(WM_SYSCOMMAND, 17410);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(station.Window()); }));

    station.Post(WM_SYSCOMMAND, 17409);
    box = WaitForQuestion(station);
    ASSERT_TRUE(box) << "asked while hidden as well";
    PostMessageA(box, WM_COMMAND, IDYES, 0);
    EXPECT_TRUE(station.WaitForExit(5000));
}

TEST(ShellClose, CloseMessageEndsWithoutAsking)
{
    Station station;
    ASSERT_TRUE(station.Window());
    station.Post(WM_CLOSE, 0);
    EXPECT_TRUE(station.WaitForExit(5000));
}

TEST(ShellKeys, TabRotatesTheFocusAndTypesNoTab)
{
    Station station;
    ASSERT_TRUE(station.Window());
    ASSERT_EQ(station.Focus(), station.Message()) << "the start puts the focus there";
    SetTextOf(station.Recipient(), "bob");
    const std::string message = TextOf(station.Message());

    const std::array<HWND, 4> order = {station.Recipient(), station.SendButton(),
                                       station.HideButton(), station.Message()};
    for (std::size_t i = 0; i < order.size(); ++i) {
        SCOPED_TRACE("Tab " + std::to_string(i + 1));
        SendMessageA(station.Recipient(), EM_SETSEL, 1, 1);
        station.PressKey(station.Focus(), VK_TAB);
        station.WaitUntilHandled();
        EXPECT_EQ(station.Focus(), order[i]);
        // Every Tab selects the whole recipient field.
        EXPECT_EQ(SendMessageA(station.Recipient(), EM_GETSEL, 0, 0), MAKELONG(0, 3));
    }
    EXPECT_EQ(TextOf(station.Message()), message);
    EXPECT_EQ(TextOf(station.Recipient()), "bob");

    // From anywhere else the rotation goes on at the Send button.
    station.PostTo(station.History(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    station.PostTo(station.History(), WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
    station.WaitUntilHandled();
    ASSERT_EQ(station.Focus(), station.History());
    station.PressKey(station.History(), VK_TAB);
    station.WaitUntilHandled();
    EXPECT_EQ(station.Focus(), station.SendButton());
}

TEST(ShellKeys, F11ShowsTheTraceThenTheFirstArgumentThenHistory)
{
    MailslotSink bob("bob");
    Station station(Launch{"Mixed-Case second", {}});
    ASSERT_TRUE(station.Window());
    station.Post(WM_KEYUP, VK_F11, 0xC0000001);
    // The poll timer's line; other queued messages come and go in between.
    EXPECT_TRUE(WaitUntil(
        [&] { return station.HistoryText() == "MSG 00000113 - Wpar 00000001 - Lpar 00000000"; },
        8000, 5))
        << station.HistoryText();

    station.Post(WM_KEYUP, VK_F11, 0xC0000001);
    EXPECT_TRUE(WaitUntil([&] { return station.HistoryText() == "Mixed-Case"; }))
        << station.HistoryText();
    ASSERT_TRUE(station.Poll()); // neither the poll nor the marker is traced any more
    EXPECT_EQ(station.HistoryText(), "Mixed-Case");

    SetTextOf(station.Recipient(), "bob");
    SetTextOf(station.Message(), "back");
    Click(station, station.SendButton());
    ASSERT_TRUE(bob.WaitForBlocks(1));
    station.WaitUntilHandled();
    std::string stamp, rest;
    ASSERT_TRUE(SplitStamp(station.HistoryText(), '>', stamp, rest)) << station.HistoryText();
    EXPECT_EQ(rest, UserName() + "\x02" "bob\x02" "back" + Tail() + "\r\n");
}

// Another process cannot read a menu under Wine, so the system menu is
// opened by its key and walked: its last item hides, the one before it asks
// (Close); the mnemonics H and C choose the two new items, and C meets no
// standard close item ("&Close", which would minimise) before them.
TEST(ShellSystemMenu, OffersCloseAndHideInPlaceOfTheStandardClose)
{
    enum Outcome { Hidden, Asked };
    struct Case {
        const char *Name;
        std::vector<std::pair<UINT, WPARAM>> Keys; // WM_KEYDOWN or WM_CHAR, into the open menu
        Outcome Expect;
    };
    const std::vector<Case> cases = {
        {"mnemonic H", {{WM_CHAR, 'h'}}, Hidden},
        {"mnemonic C", {{WM_CHAR, 'c'}}, Asked},
        {"last item", {{WM_KEYDOWN, VK_UP}, {WM_KEYDOWN, VK_RETURN}}, Hidden},
        {"second to last", {{WM_KEYDOWN, VK_UP}, {WM_KEYDOWN, VK_UP}, {WM_KEYDOWN, VK_RETURN}},
         Asked},
    };
    Station station;
    ASSERT_TRUE(station.Window());
    for (const Case &c : cases) {
        SCOPED_TRACE(c.Name);
        ASSERT_TRUE(ShowNormal(station));
        station.Post(WM_SYSCOMMAND, SC_KEYMENU, ' ');
        ASSERT_TRUE(WaitUntil([&] { return OpenMenu(station.Pid()); })) << "the system menu opens";
        for (const auto &[message, key] : c.Keys)
            station.Post(message, key, 1);
        if (c.Expect == Hidden) {
            EXPECT_TRUE(WaitUntil([&] { return !IsWindowVisible(station.Window()); }));
        } else {
            const HWND box = WaitForQuestion(station);
            ASSERT_TRUE(box);
            EXPECT_EQ(BoxesOf(station.Pid()).front().Caption, "Tindrel");
            EXPECT_FALSE(IsIconic(station.Window()));
            PostMessageA(box, WM_COMMAND, IDNO, 0);
            ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); }));
        }
        ASSERT_TRUE(WaitUntil([&] { return !OpenMenu(station.Pid()); }));
    }
    ASSERT_TRUE(station.Settle());
    EXPECT_TRUE(station.Running());
}

namespace {
// Height of the open system menu of a process's window: opened by its key,
// measured, closed again.
int SystemMenuHeight(HWND window, DWORD pid)
{
    PostMessageA(window, WM_SYSCOMMAND, SC_KEYMENU, ' ');
    RECT r = {};
    if (!WaitUntil([&] { return GetWindowRect(OpenMenu(pid), &r); }))
        return -1;
    PostMessageA(window, WM_KEYDOWN, VK_ESCAPE, 1);
    PostMessageA(window, WM_KEYDOWN, VK_ESCAPE, 1);
    WaitUntil([&] { return !OpenMenu(pid); });
    return r.bottom - r.top;
}

// The height of the system menu of a plain window of this process, rewired
// as given; the window and the menu's loop run on a thread of their own.
int ReferenceMenuHeight(bool withSeparator)
{
    std::atomic<HWND> window{nullptr};
    std::thread thread([&] {
        const HWND w = CreateWindowExA(0, "Static", "reference", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                       10, 10, 400, 300, nullptr, nullptr, nullptr, nullptr);
        const HMENU menu = GetSystemMenu(w, FALSE);
        DeleteMenu(menu, SC_CLOSE, MF_BYCOMMAND);
        AppendMenuA(menu, MF_STRING, 17409, "&Close");
        if (withSeparator)
            AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
        AppendMenuA(menu, MF_STRING, 17410, "&Hide");
        window = w;
        MSG msg;
        while (IsWindow(w) && GetMessageA(&msg, nullptr, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    });
    WaitUntil([&] { return window.load() != nullptr; });
    const int height = SystemMenuHeight(window, GetCurrentProcessId());
    PostMessageA(window, WM_CLOSE, 0, 0);
    thread.join();
    return height;
}
} // namespace

// The walk above cannot see separators; the height of the open menu can.
// It equals that of the platform's own system menu rewired as the station
// should: the standard close gone, then "&Close", a separator, "&Hide".
TEST(ShellSystemMenuShape, IsAsTallAsTheStandardMenuRewired)
{
    const int expected = ReferenceMenuHeight(true);
    ASSERT_GT(expected, 0);
    ASSERT_NE(expected, ReferenceMenuHeight(false)) << "a separator shows in the height";

    Station station;
    ASSERT_TRUE(station.Window());
    EXPECT_EQ(SystemMenuHeight(station.Window(), station.Pid()), expected);
    EXPECT_TRUE(station.Running());
}
