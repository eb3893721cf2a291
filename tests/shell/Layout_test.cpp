// Unit tests of where the five controls go for an outer window size,
// including the sizes a minimised or degenerate window reports.
#include "shell/Layout.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <tuple>

std::ostream &operator<<(std::ostream &os, const Placement &p)
{
    return os << "(" << p.X << ", " << p.Y << ", " << p.Width << " x " << p.Height << ")";
}

namespace {

struct LayoutCase {
    const char *Name;
    int Width, Height;
    Placement Message, Recipient, Send, Hide, History;
};

void PrintTo(const LayoutCase &c, std::ostream *os) { *os << c.Name; }

class ShellLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(ShellLayout, Placements)
{
    const LayoutCase &c = GetParam();
    const ControlPlacements p = PlaceControls(c.Width, c.Height);
    EXPECT_EQ(std::tie(p.Message, p.Recipient, p.Send, p.Hide, p.History),
              std::tie(c.Message, c.Recipient, c.Send, c.Hide, c.History));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ShellLayout,
    ::testing::Values(
        // The window as created.
        LayoutCase{"AsCreated", 400, 300,
                   {4, 36, 384, 125}, {4, 6, 250, 21}, {257, 6, 69, 21}, {343, 6, 44, 21}, {4, 166, 384, 102}},
        // An odd height: the lower half gets the extra row.
        LayoutCase{"OddHeight", 400, 301,
                   {4, 36, 384, 125}, {4, 6, 250, 21}, {257, 6, 69, 21}, {343, 6, 44, 21}, {4, 166, 384, 103}},
        LayoutCase{"Wider", 500, 401,
                   {4, 36, 484, 175}, {4, 6, 350, 21}, {357, 6, 69, 21}, {443, 6, 44, 21}, {4, 216, 484, 153}},
        LayoutCase{"Smaller", 321, 205,
                   {4, 36, 305, 77}, {4, 6, 171, 21}, {178, 6, 69, 21}, {264, 6, 44, 21}, {4, 118, 305, 55}},
        LayoutCase{"FullHd", 1920, 1080,
                   {4, 36, 1904, 515}, {4, 6, 1770, 21}, {1777, 6, 69, 21}, {1863, 6, 44, 21}, {4, 556, 1904, 492}},
        // A minimised window's rectangle: nothing is clamped.
        LayoutCase{"Minimised", 160, 28,
                   {4, 36, 144, -11}, {4, 6, 10, 21}, {17, 6, 69, 21}, {103, 6, 44, 21}, {4, 30, 144, -34}},
        LayoutCase{"Empty", 0, 0,
                   {4, 36, -16, -25}, {4, 6, -150, 21}, {-143, 6, 69, 21}, {-57, 6, 44, 21}, {4, 16, -16, -48}},
        // H2 truncates toward zero: -7 / 2 is -3, not -4.
        LayoutCase{"NegativeOdd", -5, -7,
                   {4, 36, -21, -28}, {4, 6, -155, 21}, {-148, 6, 69, 21}, {-62, 6, 44, 21}, {4, 13, -21, -52}},
        LayoutCase{"OneByOne", 1, 1,
                   {4, 36, -15, -25}, {4, 6, -149, 21}, {-142, 6, 69, 21}, {-56, 6, 44, 21}, {4, 16, -15, -47}}),
    [](const auto &info) { return std::string(info.param.Name); });

} // namespace
