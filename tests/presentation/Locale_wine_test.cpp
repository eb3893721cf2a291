// The stamp settings read from real thread locales, and the clock, checked
// against what the Windows API itself reports.
#include "platform/Locale.h"
#include "presentation/Stamps.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>

namespace {

// An item as GetLocaleInfoA gives it, or "" when it is unavailable.
std::string Item(LCID lcid, LCTYPE type) {
    char buffer[256] = {};
    return GetLocaleInfoA(lcid, type, buffer, sizeof buffer) > 0 ? std::string(buffer) : std::string();
}

int Number(LCID lcid, LCTYPE type) { return std::atoi(Item(lcid, type).c_str()); }

// Restores the thread locale and the default settings after each test.
class StampThreadLocale : public ::testing::TestWithParam<LCID> {
protected:
    void SetUp() override { Saved = GetThreadLocale(); }
    void TearDown() override {
        SetThreadLocale(Saved);
        LoadStampSettings(LocaleSource{});
    }
    void Use(LCID lcid) {
        ASSERT_TRUE(SetThreadLocale(lcid));
        ASSERT_EQ(GetThreadLocale(), lcid);
        LoadStampSettings(ThreadLocaleSource());
    }
    LCID Saved = 0;
};

TEST_P(StampThreadLocale, SettingsMatchTheLocaleItems) {
    const LCID lcid = GetParam();
    Use(lcid);
    const StampSettings &s = CurrentStampSettings();

    const std::string timeSep = Item(lcid, LOCALE_STIME);
    const std::string dateSep = Item(lcid, LOCALE_SDATE);
    EXPECT_EQ(s.TimeSepChar, timeSep.size() == 1 ? timeSep[0] : ':');
    EXPECT_EQ(s.DateSepChar, dateSep.size() == 1 ? dateSep[0] : '/');
    for (int d = 1; d <= 7; ++d) {
        const LCTYPE offset = d == 1 ? 6 : d - 2; // the locale counts from Monday
        EXPECT_EQ(s.DayNames[d], Item(lcid, LOCALE_SDAYNAME1 + offset)) << d;
        EXPECT_EQ(s.DayAbbrevs[d], Item(lcid, LOCALE_SABBREVDAYNAME1 + offset)) << d;
    }
    for (int m = 1; m <= 12; ++m) {
        EXPECT_EQ(s.MonthNames[m], Item(lcid, LOCALE_SMONTHNAME1 + m - 1)) << m;
        EXPECT_EQ(s.MonthAbbrevs[m], Item(lcid, LOCALE_SABBREVMONTHNAME1 + m - 1)) << m;
    }
    EXPECT_EQ(s.AmDesignator, Item(lcid, LOCALE_S1159));
    EXPECT_EQ(s.PmDesignator, Item(lcid, LOCALE_S2359));
    EXPECT_EQ(s.DatePattern, Item(lcid, LOCALE_SSHORTDATE));
    // American: a 12-hour clock with the marker after; German: 24 hours with
    // a leading zero; Japanese: 24 hours without one.
    const std::map<LCID, std::string> timePatterns = {
        {0x0409, "h:mm:ss AMPM"}, {0x0407, "hh:mm:ss"}, {0x0411, "h:mm:ss"}};
    EXPECT_EQ(s.TimePattern, timePatterns.at(lcid));
}

ClockReading Reading(int day, int dayOfWeek, int hour, int minute, int second) {
    ClockReading r;
    r.Year = 2026, r.Month = 12, r.Day = day, r.DayOfWeek = dayOfWeek;
    r.Hour = hour, r.Minute = minute, r.Second = second;
    return r;
}

const ClockReading Afternoon = Reading(7, 2, 15, 4, 5); // Monday 7 December 2026

// The caption as the platform's own formatters write the locale's short date
// and time: an independent rendering of the same locale data.
std::string PlatformCaption(LCID lcid, const ClockReading &r) {
    SYSTEMTIME st = {};
    st.wYear = static_cast<WORD>(r.Year), st.wMonth = static_cast<WORD>(r.Month);
    st.wDay = static_cast<WORD>(r.Day), st.wDayOfWeek = static_cast<WORD>(r.DayOfWeek - 1);
    st.wHour = static_cast<WORD>(r.Hour), st.wMinute = static_cast<WORD>(r.Minute);
    st.wSecond = static_cast<WORD>(r.Second);
    char date[256] = {}, time[256] = {};
    GetDateFormatA(lcid, DATE_SHORTDATE, &st, nullptr, date, sizeof date);
    GetTimeFormatA(lcid, 0, &st, nullptr, time, sizeof time);
    return std::string(date) + " " + time;
}

TEST_P(StampThreadLocale, CaptionAgreesWithThePlatformFormatters) {
    const LCID lcid = GetParam();
    Use(lcid);
    for (const ClockReading &r : {Afternoon, Reading(1, 3, 9, 5, 3), Reading(31, 5, 0, 0, 1)})
        EXPECT_EQ(CaptionDateTime(r), PlatformCaption(lcid, r)) << r.Day;
}

INSTANTIATE_TEST_SUITE_P(Locales, StampThreadLocale,
                         ::testing::Values(LCID{0x0409}, LCID{0x0407}, LCID{0x0411}));

TEST_F(StampThreadLocale, GermanStampsUseGermanNamesAndTheTwentyFourHourClock) {
    Use(0x0407);
    EXPECT_EQ(ReceivedEntryStamp(Afternoon), "< 15:04:05 Montag 07. Dezember ");
    EXPECT_EQ(CurrentStampSettings().MonthNames[3], "M\xE4rz"); // in code page 1252
}

TEST_F(StampThreadLocale, AmericanStampsUseTheTwelveHourClock) {
    Use(0x0409);
    EXPECT_EQ(ReceiptTime(Afternoon), "3:04:05 PM");
}

TEST_F(StampThreadLocale, LeadBytesComeFromTheThreadLocaleCodePage) {
    Use(0x0407);
    for (int b = 0; b < 256; ++b)
        ASSERT_FALSE(CurrentStampSettings().LeadBytes[b]) << b;

    Use(0x0411); // Japanese: code page 932, whatever the process's CP_ACP is
    ASSERT_EQ(Number(0x0411, LOCALE_IDEFAULTANSICODEPAGE), 932);
    for (int b = 0; b < 256; ++b)
        EXPECT_EQ(CurrentStampSettings().LeadBytes[b], IsDBCSLeadByteEx(932, static_cast<BYTE>(b)) != 0)
            << b;
    EXPECT_TRUE(CurrentStampSettings().LeadBytes[0x81]);
    EXPECT_FALSE(CurrentStampSettings().LeadBytes['A']);
}

bool SameSecond(const SYSTEMTIME &a, const SYSTEMTIME &b) {
    return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDay == b.wDay &&
           a.wHour == b.wHour && a.wMinute == b.wMinute && a.wSecond == b.wSecond;
}

TEST(StampClock, AgreesWithGetLocalTime) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        SYSTEMTIME before = {}, after = {};
        GetLocalTime(&before);
        const ClockReading r = ReadClock();
        GetLocalTime(&after);
        if (!SameSecond(before, after))
            continue; // a second boundary fell between: try again
        EXPECT_EQ(r.Year, before.wYear);
        EXPECT_EQ(r.Month, before.wMonth);
        EXPECT_EQ(r.Day, before.wDay);
        EXPECT_EQ(r.Hour, before.wHour);
        EXPECT_EQ(r.Minute, before.wMinute);
        EXPECT_EQ(r.Second, before.wSecond);
        EXPECT_GE(r.Millisecond, before.wMilliseconds);
        EXPECT_LE(r.Millisecond, after.wMilliseconds);
        EXPECT_EQ(r.DayOfWeek, before.wDayOfWeek + 1);
        EXPECT_GE(r.DayOfWeek, 1);
        EXPECT_LE(r.DayOfWeek, 7);
        return;
    }
    FAIL() << "no two clock readings within one second";
}

} // namespace
