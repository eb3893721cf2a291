// The station's window as another program sees it: class, styles, place
// and size, the five controls with their classes, styles, texts and
// placements before and after a resize, the faces their texts are drawn
// in, and a screenshot for the README.
#include "tests/wine/Station.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <cstdint>

using namespace wine;

namespace {
const char *const HelpText =
    "Command line parameters:\r\n"
    "/H\thide on startup\r\n"
    "/M\tminimize on startup\r\n"
    "/S\tsend message\r\n"
    "eg.:\t/s Machine1 \"First line of message\" message_text \"another line of message\" "
    "another-line-of-message last_line_of_message";

std::string ClassOf(HWND window)
{
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

// The children of a window in the system's order: first created first.
std::vector<HWND> ChildrenInOrder(HWND parent)
{
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        children.push_back(child);
    return children;
}

struct Placement {
    int X, Y, Width, Height;
    bool operator==(const Placement &o) const
    {
        return X == o.X && Y == o.Y && Width == o.Width && Height == o.Height;
    }
};

std::ostream &operator<<(std::ostream &out, const Placement &p)
{
    return out << "(" << p.X << ", " << p.Y << ") " << p.Width << " x " << p.Height;
}

Placement PlacementOf(HWND control)
{
    const RECT r = ClientRectInParent(control);
    return {r.left, r.top, r.right - r.left, r.bottom - r.top};
}
} // namespace

TEST(ShellWindow, ClassStylesPlaceAndSize)
{
    Station station;
    const HWND window = station.Window();
    ASSERT_TRUE(window);
    EXPECT_EQ(ClassOf(window), "zorvanta_tindrel");
    EXPECT_EQ(GetClassLongA(window, GCL_STYLE), 0xC0u);
    EXPECT_EQ(GetClassLongA(window, GCL_CBCLSEXTRA), 0u);
    EXPECT_EQ(GetClassLongA(window, GCL_CBWNDEXTRA), 0u);

    // The system adds WS_CLIPSIBLINGS to every overlapped window and
    // WS_EX_WINDOWEDGE to every window with a sizing frame.
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(window, GWL_STYLE)),
              0xCF0000u | WS_CLIPSIBLINGS | WS_VISIBLE);
    EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(window, GWL_EXSTYLE)), 0x50010u | WS_EX_WINDOWEDGE);
    EXPECT_EQ(GetParent(window), nullptr);
    EXPECT_EQ(GetMenu(window), nullptr);

    // Centred on a 600 x 400 box, whatever the window's own size.
    const HDC screen = GetDC(nullptr);
    const int width = GetDeviceCaps(screen, HORZRES), height = GetDeviceCaps(screen, VERTRES);
    ReleaseDC(nullptr, screen);
    RECT r = {};
    GetWindowRect(window, &r);
    EXPECT_EQ(r.left, (width - 600) / 2);
    EXPECT_EQ(r.top, (height - 400) / 2);
    EXPECT_EQ(r.right - r.left, 400);
    EXPECT_EQ(r.bottom - r.top, 300);
}

TEST(ShellWindow, FiveControlsInCreationOrder)
{
    struct Expected {
        const char *Class;
        DWORD Style, ExStyle;
        std::string Text;
    };
    const std::array<Expected, 5> expected = {{
        {"Edit", 0x50010080, WS_EX_CLIENTEDGE, "recipient name, computer, domain or * here"},
        {"Edit", 0x50210044, WS_EX_CLIENTEDGE, "Message text write here..."},
        {"Edit", 0x50310844, WS_EX_CLIENTEDGE, HelpText},
        {"Button", 0x50011000, 0, "&Send"},
        {"Button", 0x50011000, 0, "&Hide"},
    }};
    Station station;
    ASSERT_TRUE(station.Window());
    const std::vector<HWND> children = ChildrenInOrder(station.Window());
    ASSERT_EQ(children.size(), expected.size());
    for (std::size_t i = 0; i < children.size(); ++i) {
        SCOPED_TRACE("control " + std::to_string(i));
        EXPECT_EQ(ClassOf(children[i]), expected[i].Class);
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(children[i], GWL_STYLE)), expected[i].Style);
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(children[i], GWL_EXSTYLE)),
                  expected[i].ExStyle);
        EXPECT_EQ(GetWindowLongA(children[i], GWL_ID), 0);
        EXPECT_EQ(TextOf(children[i]), expected[i].Text);
    }
    // Typing stops at 64 characters in the recipient field.
    EXPECT_EQ(SendMessageA(children[0], EM_GETLIMITTEXT, 0, 0), 64);
}

TEST(ShellWindow, ControlsFollowTheOuterSize)
{
    struct Case {
        int Width, Height; // outer size
        std::array<Placement, 5> Controls; // recipient, message, history, Send, Hide
    };
    const std::array<Case, 3> cases = {{
        {400, 300, {{{4, 6, 250, 21}, {4, 36, 384, 125}, {4, 166, 384, 102},
                     {257, 6, 69, 21}, {343, 6, 44, 21}}}},
        // An odd height: half of it truncates, 200.
        {500, 401, {{{4, 6, 350, 21}, {4, 36, 484, 175}, {4, 216, 484, 153},
                     {357, 6, 69, 21}, {443, 6, 44, 21}}}},
        {321, 205, {{{4, 6, 171, 21}, {4, 36, 305, 77}, {4, 118, 305, 55},
                     {178, 6, 69, 21}, {264, 6, 44, 21}}}},
    }};
    Station station;
    ASSERT_TRUE(station.Window());
    RECT start = {};
    GetWindowRect(station.Window(), &start);
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.Width) + " x " + std::to_string(c.Height));
        // The first case is the window as created.
        if (c.Width != 400 || c.Height != 300)
            MoveWindow(station.Window(), start.left, start.top, c.Width, c.Height, TRUE);
        station.WaitUntilHandled();
        RECT outer = {};
        GetWindowRect(station.Window(), &outer);
        ASSERT_EQ(outer.right - outer.left, c.Width);
        ASSERT_EQ(outer.bottom - outer.top, c.Height);
        for (std::size_t i = 0; i < c.Controls.size(); ++i)
            EXPECT_EQ(PlacementOf(station.Controls()[i]), c.Controls[i]) << "control " << i;
    }
}

namespace {
// The x positions of the characters of a text in an edit control.
std::vector<int> Positions(HWND edit, const std::string &text)
{
    SetTextOf(edit, text);
    std::vector<int> xs;
    for (std::size_t i = 0; i < text.size(); ++i)
        xs.push_back(static_cast<short>(LOWORD(SendMessageA(edit, EM_POSFROMCHAR, i, 0))));
    return xs;
}

// The advances of the characters, as a face at the station's size draws them here.
std::vector<int> Advances(const char *face, const std::string &text)
{
    const HDC dc = GetDC(nullptr);
    const HFONT font = CreateFontA(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                   OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                   DEFAULT_PITCH | FF_DONTCARE, face);
    const HGDIOBJ old = SelectObject(dc, font);
    std::vector<int> advances;
    for (char c : text) {
        SIZE size = {};
        GetTextExtentPoint32A(dc, &c, 1, &size);
        advances.push_back(size.cx);
    }
    SelectObject(dc, old);
    DeleteObject(font);
    ReleaseDC(nullptr, dc);
    return advances;
}

std::vector<int> Differences(const std::vector<int> &xs)
{
    std::vector<int> d;
    for (std::size_t i = 1; i < xs.size(); ++i)
        d.push_back(xs[i] - xs[i - 1]);
    return d;
}

bool SetReplacement(const char *face, const char *by)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Wine\\Fonts\\Replacements", 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const LONG set = RegSetValueExA(key, face, 0, REG_SZ, reinterpret_cast<const BYTE *>(by),
                                    static_cast<DWORD>(std::strlen(by) + 1));
    RegCloseKey(key);
    return set == ERROR_SUCCESS;
}
} // namespace

// Wine answers neither WM_GETFONT nor GetObject for another process's
// controls, so the faces are told apart by how wide the fields draw each
// character. The prefix maps each face the station asks for to its own
// distinct font; a face that is not found falls back to a third.
TEST(ShellWindow, FieldsDrawInArialAndCourierNewOfHeight11)
{
    ASSERT_TRUE(SetReplacement("Arial", "Liberation Serif"));
    ASSERT_TRUE(SetReplacement("Courier New", "Liberation Mono"));
    const std::string text = "iiWWmm.,ABCwxyz01";
    const auto arial = Advances("Liberation Serif", text);
    const auto courier = Advances("Liberation Mono", text);
    ASSERT_NE(arial, courier);
    ASSERT_NE(arial, Advances("No Such Face", text));
    ASSERT_NE(arial, Advances("Liberation Sans", text));
    const std::vector<int> expectArial(arial.begin(), arial.end() - 1);
    const std::vector<int> expectCourier(courier.begin(), courier.end() - 1);

    Station station;
    ASSERT_TRUE(station.Window());
    EXPECT_EQ(Differences(Positions(station.Recipient(), text)), expectArial);
    EXPECT_EQ(Differences(Positions(station.History(), text)), expectArial);
    EXPECT_EQ(Differences(Positions(station.Message(), text)), expectCourier);
}

namespace {
// Width and height from a PNG file's header.
bool PngSize(const std::string &windowsPath, int &width, int &height)
{
    const std::string file = ReadWholeFile(windowsPath).value_or("");
    const auto *head = reinterpret_cast<const unsigned char *>(file.data());
    if (file.size() < 24 || file.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0)
        return false;
    const auto big = [&](int at) {
        return static_cast<int>(std::uint32_t(head[at]) << 24 | std::uint32_t(head[at + 1]) << 16 |
                                std::uint32_t(head[at + 2]) << 8 | head[at + 3]);
    };
    width = big(16);
    height = big(20);
    return true;
}
} // namespace

// The picture of the README: the window with one message sent. Saved next
// to the build's win/ folder as screenshot-station.png.
TEST(ShellScreenshot, SavesTheStationWindow)
{
    // The faces a Windows desktop has, by their metric-compatible stand-ins.
    ASSERT_TRUE(SetReplacement("Arial", "Liberation Sans"));
    ASSERT_TRUE(SetReplacement("Courier New", "Liberation Mono"));
    MailslotSink bob("bob");
    Station station;
    ASSERT_TRUE(station.Window());
    SetTextOf(station.Recipient(), "bob");
    SetTextOf(station.Message(), "Lunch at noon?\r\nThe usual place.");
    station.PostTo(station.SendButton(), BM_CLICK, 0);
    ASSERT_TRUE(bob.WaitForBlocks(1));
    ASSERT_TRUE(WaitUntil([&] { return station.Title() == "Zorvanta tindrel..."; }, 10000));
    station.Settle(300);

    std::string path = StationExeUnixPath();
    path = path.substr(0, path.rfind('/')); // .../win
    path = path.substr(0, path.rfind('/')) + "/screenshot-station.png";
    ASSERT_TRUE(SaveScreenshot(station.Window(), path)) << path;
    int width = 0, height = 0;
    ASSERT_TRUE(PngSize("Z:" + path, width, height));
    RECT client = {};
    GetClientRect(station.Window(), &client);
    // Without a window manager the X window holds the client area only.
    EXPECT_EQ(width, client.right);
    EXPECT_EQ(height, client.bottom);
}
