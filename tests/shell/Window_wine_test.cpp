// The station's window as the system reports it to another program: class,
// styles, place and size, the five controls with their classes, styles and
// texts, where they sit before and after a resize, and the faces their
// texts are drawn in. The placement arithmetic itself is checked natively
// (Layout_test.cpp).
#include "tests/wine/Station.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

using namespace wine;

namespace {
std::string ClassOf(HWND window)
{
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

// x, y, width and height in the parent's client area.
using Placement = std::array<long, 4>;

Placement PlacementOf(HWND control)
{
    RECT r = {};
    GetWindowRect(control, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(control), reinterpret_cast<POINT *>(&r), 2);
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

    // 400 x 300, centred on a 600 x 400 box of the test display.
    ASSERT_EQ(GetSystemMetrics(SM_CXSCREEN), 1024);
    ASSERT_EQ(GetSystemMetrics(SM_CYSCREEN), 768);
    RECT r = {};
    GetWindowRect(window, &r);
    EXPECT_EQ(r.left, 212);
    EXPECT_EQ(r.top, 184);
    EXPECT_EQ(r.right - r.left, 400);
    EXPECT_EQ(r.bottom - r.top, 300);
}

TEST(ShellWindow, FiveControlsInCreationOrder)
{
    struct Expected {
        const char *Class;
        DWORD Style, ExStyle;
        const char *Text;
    };
    const std::array<Expected, 5> expected = {{
        {"Edit", 0x50010080, WS_EX_CLIENTEDGE, "recipient name, computer, domain or * here"},
        {"Edit", 0x50210044, WS_EX_CLIENTEDGE, "Message text write here..."},
        {"Edit", 0x50310844, WS_EX_CLIENTEDGE,
         "Command line parameters:\r\n/H\thide on startup\r\n/M\tminimize on startup\r\n"
         "/S\tsend message\r\neg.:\t/s Machine1 \"First line of message\" message_text "
         "\"another line of message\" another-line-of-message last_line_of_message"},
        {"Button", 0x50011000, 0, "&Send"},
        {"Button", 0x50011000, 0, "&Hide"},
    }};
    Station station;
    ASSERT_TRUE(station.Window());
    const std::vector<HWND> &controls = station.Controls();
    ASSERT_EQ(controls.size(), expected.size());
    for (std::size_t i = 0; i < controls.size(); ++i) {
        SCOPED_TRACE("control " + std::to_string(i));
        EXPECT_EQ(ClassOf(controls[i]), expected[i].Class);
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(controls[i], GWL_STYLE)), expected[i].Style);
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(controls[i], GWL_EXSTYLE)),
                  expected[i].ExStyle);
        EXPECT_EQ(GetWindowLongA(controls[i], GWL_ID), 0);
        EXPECT_EQ(TextOf(controls[i]), expected[i].Text);
    }
    // Typing stops at 64 characters in the recipient field.
    EXPECT_EQ(SendMessageA(controls[0], EM_GETLIMITTEXT, 0, 0), 64);
}

// The controls follow the outer size the system reports, as created and
// after a resize (which also has an odd height).
TEST(ShellWindow, ControlsFollowTheOuterSize)
{
    struct Case {
        int Width, Height;
        std::array<Placement, 5> Controls; // recipient, message, history, Send, Hide
    };
    const std::array<Case, 2> cases = {{
        {400, 300, {{{4, 6, 250, 21}, {4, 36, 384, 125}, {4, 166, 384, 102},
                     {257, 6, 69, 21}, {343, 6, 44, 21}}}},
        {321, 205, {{{4, 6, 171, 21}, {4, 36, 305, 77}, {4, 118, 305, 55},
                     {178, 6, 69, 21}, {264, 6, 44, 21}}}},
    }};
    Station station;
    ASSERT_TRUE(station.Window());
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.Width) + " x " + std::to_string(c.Height));
        if (c.Width != 400)
            SetWindowPos(station.Window(), nullptr, 0, 0, c.Width, c.Height,
                         SWP_NOMOVE | SWP_NOZORDER);
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

// How far each character but the last moves the next one on, in a face at
// the station's size as drawn here: what Positions shows as differences.
std::vector<int> Advances(const char *face, const std::string &text)
{
    const HDC dc = GetDC(nullptr);
    const HFONT font = CreateFontA(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                   OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                   DEFAULT_PITCH | FF_DONTCARE, face);
    const HGDIOBJ old = SelectObject(dc, font);
    std::vector<int> advances;
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        SIZE size = {};
        GetTextExtentPoint32A(dc, &text[i], 1, &size);
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

    Station station;
    ASSERT_TRUE(station.Window());
    EXPECT_EQ(Differences(Positions(station.Recipient(), text)), arial);
    EXPECT_EQ(Differences(Positions(station.History(), text)), arial);
    EXPECT_EQ(Differences(Positions(station.Message(), text)), courier);
}
