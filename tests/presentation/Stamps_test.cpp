// Unit tests of the date, time and trace texts, against a fake locale that
// answers like GetLocaleInfoA.
#include "tests/presentation/FakeLocale.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const ClockReading Afternoon = ClockAt(15, 4, 5); // Monday 7 December 2026 15:04:05

class Stamps : public ::testing::Test {
protected:
    void SetUp() override { LoadStampSettings(FakeLocale({})); }
    void TearDown() override { LoadStampSettings(LocaleSource{}); }
};

TEST_F(Stamps, EveryItemUnavailableGivesTheBuiltInRenderings) {
    EXPECT_EQ(ReceivedEntryStamp(Afternoon), "< 15:04:05 Monday 07. December ");
    EXPECT_EQ(SentEntryStamp(Afternoon), "> 15:04:05 Monday 07. December ");
    EXPECT_EQ(CaptionDateTime(Afternoon), "12/7/26 3:04:05 pm");
    EXPECT_EQ(ReceiptTime(Afternoon), "3:04:05 pm");
    EXPECT_EQ(SentEntryStamp(ClockAt(0, 0, 0, 0, 2026, 1, 1, 5)), "> 00:00:00 Thursday 01. January ");
}

TEST_F(Stamps, NullQueryIsTreatedAsEveryItemUnavailable) {
    LoadStampSettings(LocaleSource{});
    EXPECT_EQ(CaptionDateTime(Afternoon), "12/7/26 3:04:05 pm");
    EXPECT_EQ(CurrentStampSettings().DayNames[1], "Sunday");
}

TEST_F(Stamps, CaptionLeavesOutTheTimeOnlyAtMidnightSharp) {
    EXPECT_EQ(CaptionDateTime(ClockAt(0, 0, 0, 999)), "12/7/26");
    EXPECT_EQ(CaptionDateTime(ClockAt(0, 0, 1)), "12/7/26 12:00:01 am");
    EXPECT_EQ(CaptionDateTime(ClockAt(12, 0, 0)), "12/7/26 12:00:00 pm");
}

TEST_F(Stamps, CaptionRendersTimeWithFreshStateAfterTheDate) {
    // The AMPM of the date pattern must not put the time on the 12-hour dial.
    LoadStampSettings(FakeLocale({{0x1F, "d AMPM h"}, {0x23, "1"}}));
    EXPECT_EQ(CaptionDateTime(Afternoon), "7 pm 3 15:04:05");
}

TEST_F(Stamps, EmptyValuesReadSuccessfullyAreUsedAsTheyAre) {
    LoadStampSettings(FakeLocale({{0x1F, ""}, {0x29, ""}, {0x1D, ""}}));
    EXPECT_EQ(CaptionDateTime(Afternoon), " 3:04:05 ");
    EXPECT_EQ(CaptionDateTime(ClockAt(0, 0, 0)), "");
    EXPECT_EQ(RenderPattern("m/d/yy", Afternoon), "12726");
}

struct ClockCase {
    LocaleItems items;
    std::string expected;
};

class StampReceiptClock : public Stamps, public ::testing::WithParamInterface<ClockCase> {};

TEST_P(StampReceiptClock, FollowsTheLocaleClockSettings) {
    LoadStampSettings(FakeLocale(GetParam().items));
    EXPECT_EQ(ReceiptTime(ClockAt(9, 5, 3)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(NineFiveThree, StampReceiptClock, ::testing::Values(
    ClockCase{{}, "9:05:03 am"},
    ClockCase{{{0x23, "1"}, {0x25, "1"}}, "09:05:03"},
    ClockCase{{{0x23, "1"}, {0x25, "0"}}, "9:05:03"},
    ClockCase{{{0x23, "0"}, {0x25, "1"}, {0x1005, "1"}, {0x28, "AM"}}, "AM 09:05:03"}));

struct TimePatternCase {
    LocaleItems items;
    std::string pattern;
};

class StampTimePattern : public Stamps,
                               public ::testing::WithParamInterface<TimePatternCase> {};

TEST_P(StampTimePattern, BuildsTheHourPieceAndMarker) {
    LoadStampSettings(FakeLocale(GetParam().items));
    EXPECT_EQ(CurrentStampSettings().TimePattern, GetParam().pattern);
}

INSTANTIATE_TEST_SUITE_P(AllSix, StampTimePattern, ::testing::Values(
    TimePatternCase{{{0x23, "1"}, {0x25, "0"}, {0x1005, "1"}}, "h:mm:ss"},
    TimePatternCase{{{0x23, "2"}, {0x25, "1"}, {0x1005, "0"}}, "hh:mm:ss"},
    TimePatternCase{{{0x23, "0"}, {0x25, "0"}, {0x1005, "0"}}, "h:mm:ss AMPM"},
    TimePatternCase{{{0x23, "0"}, {0x25, "1"}}, "hh:mm:ss AMPM"},
    TimePatternCase{{{0x1005, "1"}}, "AMPM h:mm:ss"},
    TimePatternCase{{{0x25, "-1"}, {0x1005, "7"}}, "AMPM hh:mm:ss"},
    // Number items that do not convert as a whole count as 0.
    TimePatternCase{{{0x23, "one"}, {0x25, "1x"}, {0x1005, ""}}, "h:mm:ss AMPM"},
    TimePatternCase{{{0x23, " 1"}, {0x25, "99999999999"}}, "h:mm:ss AMPM"}));

struct SeparatorCase {
    std::string timeSep;
    std::string expected;
};

class StampTimeSeparator : public Stamps, public ::testing::WithParamInterface<SeparatorCase> {};

TEST_P(StampTimeSeparator, ReplacesEveryColonOfTheEntryStamps) {
    LoadStampSettings(FakeLocale({{0x1E, GetParam().timeSep}}));
    EXPECT_EQ(ReceivedEntryStamp(Afternoon), "< " + GetParam().expected + " Monday 07. December ");
    EXPECT_EQ(SentEntryStamp(Afternoon), "> " + GetParam().expected + " Monday 07. December ");
}

INSTANTIATE_TEST_SUITE_P(Kinds, StampTimeSeparator, ::testing::Values(
    SeparatorCase{".", "15.04.05"},
    SeparatorCase{"::", "15:04:05"}, // two bytes do not fit: the default stands
    SeparatorCase{"", "150405"}));

TEST_F(Stamps, NamesComeFromTheLocaleWithEnglishForEmptyOnes) {
    LoadStampSettings(FakeLocale({{0x2A, ""}, {0x2B, "Dienstag"}, {0x30, "Sonntag"},
                                  {0x37, "So"}, {0x31, "Mo"}, {0x38, "Januar"},
                                  {0x4F, "Dez"}, {0x43, ""}}));
    const StampSettings &s = CurrentStampSettings();
    EXPECT_EQ(s.DayNames[2], "Monday");
    EXPECT_EQ(s.DayNames[3], "Dienstag");
    EXPECT_EQ(s.DayNames[1], "Sonntag");
    EXPECT_EQ(s.DayAbbrevs[1], "So");
    EXPECT_EQ(s.DayAbbrevs[2], "Mo");
    EXPECT_EQ(s.DayAbbrevs[7], "Sat");
    EXPECT_EQ(s.MonthNames[1], "Januar");
    EXPECT_EQ(s.MonthNames[12], "December");
    EXPECT_EQ(s.MonthAbbrevs[12], "Dez");
    EXPECT_EQ(ReceivedEntryStamp(Afternoon), "< 15:04:05 Monday 07. December ");
    EXPECT_EQ(RenderPattern("dddd", ClockAt(1, 2, 3, 0, 2026, 12, 8, 3)), "Dienstag");
}

TEST_F(Stamps, StringItemsUpTo255BytesAreRead) {
    const std::string fits(255, 'x');
    LoadStampSettings(FakeLocale({{0x28, fits}, {0x29, fits + "y"}}));
    EXPECT_EQ(CurrentStampSettings().AmDesignator, fits);
    EXPECT_EQ(CurrentStampSettings().PmDesignator, "pm");
}

TEST_F(Stamps, LongMonthNameIsCutAtTheStampLimit) {
    std::string name;
    while (name.size() < 250)
        name += static_cast<char>('A' + name.size() % 26);
    LoadStampSettings(FakeLocale({{0x43, name}}));
    const std::string stamp = ReceivedEntryStamp(Afternoon);
    EXPECT_EQ(stamp.size(), 256u);
    EXPECT_EQ(stamp, "< 15:04:05 Monday 07. " + name.substr(0, 234));
}

TEST_F(Stamps, CaptionIsCutAfterJoiningDateAndTime) {
    LoadStampSettings(FakeLocale({{0x1F, "'" + std::string(250, 'x')}}));
    EXPECT_EQ(CaptionDateTime(Afternoon), std::string(250, 'x') + " 3:04:");
}

struct PatternCase {
    std::string pattern;
    ClockReading reading;
    std::string expected;
};

void PrintTo(const PatternCase &c, std::ostream *os) { *os << '"' << c.pattern << '"'; }

class StampRender : public Stamps, public ::testing::WithParamInterface<PatternCase> {};

TEST_P(StampRender, PutsWhatThePatternSays) {
    EXPECT_EQ(RenderPattern(GetParam().pattern, GetParam().reading), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(DatesAndMinutes, StampRender, ::testing::Values(
    PatternCase{"m/d/yy", Afternoon, "12/7/26"},
    PatternCase{"dd.MM.yyyy", ClockAt(1, 1, 1, 0, 2026, 3, 4, 4), "04.03.2026"},
    PatternCase{"y|yy|yyy|yyyyy", ClockAt(1, 1, 1, 0, 2005, 3, 4), "05|05|2005|2005"},
    PatternCase{"ddd, MMM d", Afternoon, "Mon, Dec 7"},
    PatternCase{"DDDD MMMMMM", Afternoon, "Monday December"},
    PatternCase{"ddddd", Afternoon, "Monday"},
    PatternCase{"M MM", ClockAt(1, 1, 1, 0, 2026, 3, 4), "3 03"},
    PatternCase{"h:m hh:MM", ClockAt(9, 4, 0), "9:4 09:04"},       // "m" after "h": minutes
    PatternCase{"h-.m", ClockAt(9, 4, 0), "9-.4"},                 // only non-letters between
    PatternCase{"h d m", ClockAt(9, 4, 0), "9 7 12"},              // a "d" between: month
    PatternCase{"mm", ClockAt(9, 4, 0), "12"},
    PatternCase{"s ss sss", ClockAt(9, 4, 5), "5 05 05"},
    PatternCase{"hH", ClockAt(9, 4, 5), "99"},                     // two runs of one
    PatternCase{"hh", ClockAt(9, 4, 5), "09"},
    PatternCase{"c n t z!", Afternoon, "c n t z!"},           // letters without a meaning
    PatternCase{"gg e yyyy", Afternoon, "  2026"}));          // no era support

INSTANTIATE_TEST_SUITE_P(Quotes, StampRender, ::testing::Values(
    PatternCase{"'h' h", Afternoon, "h 15"},
    PatternCase{"\"dd\"dd", Afternoon, "dd07"},
    PatternCase{"'it''s' d", Afternoon, "its 7"},
    PatternCase{"'say \"hi\"' \"it's\"", Afternoon, "say \"hi\" it's"},
    PatternCase{"d 'unclosed: mm", Afternoon, "7 unclosed: mm"},
    PatternCase{"h'x'm", Afternoon, "15x4"}));                // quoted text is no letter token

INSTANTIATE_TEST_SUITE_P(TwelveHourClock, StampRender, ::testing::Values(
    PatternCase{"h:mm AMPM", ClockAt(0, 4, 0), "12:04 am"},
    PatternCase{"h:mm ampm", ClockAt(13, 4, 0), "1:04 pm"},
    PatternCase{"aMpM h", ClockAt(15, 4, 0), "pm 3"},              // state on for what follows
    PatternCase{"h:mm AM/PM", Afternoon, "3:04 pm"},
    PatternCase{"h:mm a/p", Afternoon, "3:04 p"},
    PatternCase{"h:mm", Afternoon, "15:04"},
    PatternCase{"h 'AMPM'", Afternoon, "15 AMPM"},            // a quoted marker does not count
    PatternCase{"h \"x\" AMPM", Afternoon, "3 x pm"},
    PatternCase{"h:mm h AMPM", Afternoon, "15:04 3 pm"},      // the look-ahead stops at an "h"
    PatternCase{"h 'H' AMPM", Afternoon, "15 H pm"},          // ... also inside quotes
    PatternCase{"h at AMPM", Afternoon, "15 at pm"},          // ... and at the first "a"
    PatternCase{"hh AMPM", ClockAt(12, 0, 0), "12 pm"}));

TEST_F(Stamps, DoubleByteCharacters) {
    std::array<bool, 256> leadBytes{};
    leadBytes[0x81] = leadBytes[0x82] = true;
    LoadStampSettings(FakeLocale({}, leadBytes));
    const struct {
        std::string pattern, expected;
    } cases[] = {
        {"\x81hd", "7"},                    // stepped over whole, trail "h" is no hour
        {"h:\x82" "Amm", "15:12"},          // resets the letter token: "mm" is the month
        {"'\x81'x'", "\x81'x"},             // copied whole: its trail byte closes nothing
        {"h\x81h AMPM", "3 pm"},            // the look-ahead steps over it too
        {"d\x81", "7"},                     // a lead byte at the very end
    };
    for (const auto &c : cases)
        EXPECT_EQ(RenderPattern(c.pattern, Afternoon), c.expected) << c.pattern;

    LoadStampSettings(FakeLocale({}));
    EXPECT_EQ(RenderPattern("\x81hd", Afternoon), "\x81" "157");
}

TEST_F(Stamps, TraceLine) {
    EXPECT_EQ(TraceLine(0x113, 1, 0), "MSG 00000113 - Wpar 00000001 - Lpar 00000000");
    EXPECT_EQ(TraceLine(0xABCDEF, 0xDEADBEEF, static_cast<std::uint32_t>(-1)),
              "MSG 00ABCDEF - Wpar DEADBEEF - Lpar FFFFFFFF");
    EXPECT_EQ(TraceLine(0, 0, static_cast<std::uint32_t>(-1)).size(), 44u);
    EXPECT_EQ(TraceLine(0, 0, 0).size(), 44u);
}

} // namespace
