// Date, time and trace texts: the locale settings read once at start, the
// pattern renderer, and the four stamps plus the trace line built on it.
//
// Owns the process's one StampSettings. Called by the start-up sequence
// (LoadStampSettings), by sending and receiving (entry stamps, receipt time),
// by the pop-up boxes (caption) and by the main loop's trace (TraceLine).
// Pure C++: the Windows locale arrives through a LocaleSource.
#include "presentation/Stamps.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <utility>

namespace {

// Locale item numbers (LCTYPE values of the Windows headers).
constexpr std::uint32_t LocaleSDate = 0x1D;
constexpr std::uint32_t LocaleSTime = 0x1E;
constexpr std::uint32_t LocaleSShortDate = 0x1F;
constexpr std::uint32_t LocaleITime = 0x23;
constexpr std::uint32_t LocaleITLZero = 0x25;
constexpr std::uint32_t LocaleS1159 = 0x28;
constexpr std::uint32_t LocaleS2359 = 0x29;
constexpr std::uint32_t LocaleSDayName1 = 0x2A;       // Monday .. 0x30 Sunday
constexpr std::uint32_t LocaleSAbbrevDayName1 = 0x31; // Monday .. 0x37 Sunday
constexpr std::uint32_t LocaleSMonthName1 = 0x38;     // .. 0x43
constexpr std::uint32_t LocaleSAbbrevMonthName1 = 0x44; // .. 0x4F
constexpr std::uint32_t LocaleITimeMarkPosn = 0x1005;

constexpr int StringItemSize = 256;
constexpr int CharItemSize = 2;

const char *const EnglishDayNames[8] = {"", "Sunday", "Monday", "Tuesday",
    "Wednesday", "Thursday", "Friday", "Saturday"};
const char *const EnglishDayAbbrevs[8] = {"", "Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char *const EnglishMonthNames[13] = {"", "January", "February", "March", "April",
    "May", "June", "July", "August", "September", "October", "November", "December"};
const char *const EnglishMonthAbbrevs[13] = {"", "Jan", "Feb", "Mar", "Apr", "May", "Jun",
    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

StampSettings Settings;

// ---- Reading locale items ----------------------------------------------

bool ReadStringItem(const LocaleSource &source, std::uint32_t lcType, std::string &text) {
    if (!source.Query)
        return false;
    char buffer[StringItemSize] = {};
    const int count = source.Query(lcType, buffer, StringItemSize);
    if (count <= 0)
        return false;
    const std::size_t limit = count < StringItemSize ? static_cast<std::size_t>(count)
                                                     : static_cast<std::size_t>(StringItemSize);
    text.assign(buffer, strnlen(buffer, limit));
    return true;
}

std::string StringItem(const LocaleSource &source, std::uint32_t lcType, const char *fallback) {
    std::string text;
    return ReadStringItem(source, lcType, text) ? text : std::string(fallback);
}

char CharItem(const LocaleSource &source, std::uint32_t lcType, char fallback) {
    if (!source.Query)
        return fallback;
    char buffer[CharItemSize] = {};
    return source.Query(lcType, buffer, CharItemSize) > 0 ? buffer[0] : fallback;
}

std::string NameItem(const LocaleSource &source, std::uint32_t lcType, const char *english) {
    std::string text = StringItem(source, lcType, "");
    return text.empty() ? std::string(english) : text;
}

// The whole text must be a decimal integer; anything else counts as 0.
int NumberItem(const LocaleSource &source, std::uint32_t lcType) {
    const std::string text = StringItem(source, lcType, "0");
    int value = 0;
    const char *end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return (result.ec == std::errc() && result.ptr == end) ? value : 0;
}

std::string BuildTimePattern(int iTime, int iTLZero, int iTimeMarkPosn) {
    const std::string hour = iTLZero != 0 ? "hh" : "h";
    std::string pattern;
    const bool marker = iTime == 0;
    if (marker && iTimeMarkPosn != 0)
        pattern += "AMPM ";
    pattern += hour + ":mm:ss";
    if (marker && iTimeMarkPosn == 0)
        pattern += " AMPM";
    return pattern;
}

// ---- Rendering ----------------------------------------------------------

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool IsLetter(char c) { return Lower(c) >= 'a' && Lower(c) <= 'z'; }

bool StartsWithNoCase(const std::string &text, std::size_t at, const char *word) {
    const std::size_t length = std::strlen(word);
    if (text.size() - at < length)
        return false;
    for (std::size_t k = 0; k < length; ++k)
        if (Lower(text[at + k]) != Lower(word[k]))
            return false;
    return true;
}

// Output capped at MaxStampLength: the piece that does not fit is cut and
// everything after it is dropped.
class StampText {
public:
    void Put(const std::string &piece) { Put(piece.data(), piece.size()); }
    void Put(const char *piece, std::size_t length) {
        if (Full)
            return;
        const std::size_t room = MaxStampLength - Text.size();
        if (length > room) {
            length = room;
            Full = true;
        }
        Text.append(piece, length);
    }
    void PutNumber(int value, int digits) {
        char buffer[16];
        const int length = std::snprintf(buffer, sizeof buffer, "%0*d", digits, value);
        if (length > 0)
            Put(buffer, static_cast<std::size_t>(length));
    }
    bool IsFull() const { return Full; }
    std::string Take() { return std::move(Text); }

private:
    std::string Text;
    bool Full = false;
};

// 0 shows as 12, 13..23 as 1..11. Any reading maps into 1..12 without
// overflowing, so a corrupt clock cannot make the renderer misbehave.
int TwelveHourDial(int hour) {
    const int dial = hour % 12;
    return dial <= 0 ? dial + 12 : dial;
}

const std::string &Indexed(const std::string *names, std::size_t count, int index) {
    static const std::string none;
    return (index >= 1 && static_cast<std::size_t>(index) < count) ? names[index] : none;
}

class Renderer {
public:
    Renderer(const std::string &pattern, const ClockReading &reading)
        : Pattern(pattern), Reading(reading) {}

    std::string Run() {
        while (At < Pattern.size() && !Out.IsFull())
            Step();
        return Out.Take();
    }

private:
    const std::string &Pattern;
    const ClockReading &Reading;
    const StampSettings &S = Settings;
    StampText Out;
    std::size_t At = 0;
    char PreviousLetter = 0; // lower case; 0 = none
    bool TwelveHour = false;

    bool IsLead(std::size_t i) const {
        return S.LeadBytes[static_cast<unsigned char>(Pattern[i])];
    }
    // Length of the character at i: 2 for a lead byte with its trail byte.
    std::size_t CharLength(std::size_t i) const {
        return (IsLead(i) && i + 1 < Pattern.size()) ? 2 : 1;
    }

    void Step() {
        const char c = Pattern[At];
        if (IsLead(At)) {
            At += CharLength(At);
            PreviousLetter = 0;
            return;
        }
        if (c == '\'' || c == '"') {
            Quoted(c);
            return;
        }
        if (c == ':' || c == '/') {
            const char sep = c == ':' ? S.TimeSepChar : S.DateSepChar;
            if (sep != '\0')
                Out.Put(&sep, 1);
            ++At;
            return;
        }
        if (!IsLetter(c)) {
            Out.Put(&c, 1);
            ++At;
            return;
        }
        Letter(c);
    }

    void Quoted(char quote) {
        std::size_t i = At + 1;
        while (i < Pattern.size() && Pattern[i] != quote)
            i += CharLength(i);
        Out.Put(Pattern.data() + At + 1, i - (At + 1));
        At = i < Pattern.size() ? i + 1 : i;
    }

    void Letter(char c) {
        const char letter = Lower(c);
        std::size_t run = 1;
        while (At + run < Pattern.size() && Pattern[At + run] == c)
            ++run;
        if (letter == 'a') {
            Designator();
            PreviousLetter = 'a';
            return;
        }
        At += run;
        switch (letter) {
        case 'd':
            if (run == 1 || run == 2)
                Out.PutNumber(Reading.Day, static_cast<int>(run));
            else if (run == 3)
                Out.Put(Indexed(S.DayAbbrevs.data(), S.DayAbbrevs.size(), Reading.DayOfWeek));
            else // four or more: the full name, as with months
                Out.Put(Indexed(S.DayNames.data(), S.DayNames.size(), Reading.DayOfWeek));
            break;
        case 'm':
            if (PreviousLetter == 'h')
                Out.PutNumber(Reading.Minute, run == 1 ? 1 : 2);
            else if (run <= 2)
                Out.PutNumber(Reading.Month, static_cast<int>(run));
            else if (run == 3)
                Out.Put(Indexed(S.MonthAbbrevs.data(), S.MonthAbbrevs.size(), Reading.Month));
            else
                Out.Put(Indexed(S.MonthNames.data(), S.MonthNames.size(), Reading.Month));
            break;
        case 'y':
            if (run <= 2)
                Out.PutNumber(Reading.Year % 100, 2);
            else
                Out.PutNumber(Reading.Year, 4);
            break;
        case 'h':
            if (!TwelveHour && MarkerAhead())
                TwelveHour = true;
            Out.PutNumber(TwelveHour ? TwelveHourDial(Reading.Hour) : Reading.Hour, run == 1 ? 1 : 2);
            break;
        case 's':
            Out.PutNumber(Reading.Second, run == 1 ? 1 : 2);
            break;
        case 'g':
        case 'e':
            // Era name and year in era: no era calendars, so nothing is put.
            break;
        default:
            // c, n, t, z and the other letters without a meaning: as written.
            Out.Put(Pattern.data() + At - run, run);
            break;
        }
        PreviousLetter = letter;
    }

    // At an "a": "AMPM" and "AM/PM" put the designator, "A/P" its first
    // character, in any case; each turns the 12-hour clock on, as the hour's
    // look-ahead would. Any other "a" is put as written, one byte.
    void Designator() {
        const std::string &designator = Reading.Hour < 12 ? S.AmDesignator : S.PmDesignator;
        if (StartsWithNoCase(Pattern, At, "AMPM") || StartsWithNoCase(Pattern, At, "AM/PM")) {
            At += StartsWithNoCase(Pattern, At, "AMPM") ? 4 : 5;
            Out.Put(designator);
            TwelveHour = true;
        } else if (StartsWithNoCase(Pattern, At, "A/P")) {
            At += 3;
            if (!designator.empty()) {
                const bool lead = S.LeadBytes[static_cast<unsigned char>(designator[0])];
                Out.Put(designator.data(), lead && designator.size() > 1 ? 2 : 1);
            }
            TwelveHour = true;
        } else {
            Out.Put(Pattern.data() + At, 1);
            ++At;
        }
    }

    // From just after an "h" run: is an AM/PM marker ahead before the next
    // hour? Double-byte characters are stepped over whole, so a trail byte
    // never reads as "h" or "a".
    bool MarkerAhead() const {
        bool inQuotes = false;
        for (std::size_t i = At; i < Pattern.size(); i += CharLength(i)) {
            const char c = Lower(Pattern[i]);
            if (IsLead(i))
                continue;
            if (c == '\'' || c == '"')
                inQuotes = !inQuotes;
            else if (c == 'h')
                return false;
            else if (c == 'a' && !inQuotes)
                return StartsWithNoCase(Pattern, i, "AM/PM") || StartsWithNoCase(Pattern, i, "A/P") ||
                       StartsWithNoCase(Pattern, i, "AMPM");
        }
        return false;
    }
};

} // namespace

StampSettings::StampSettings() {
    for (int d = 1; d <= 7; ++d) {
        DayNames[d] = EnglishDayNames[d];
        DayAbbrevs[d] = EnglishDayAbbrevs[d];
    }
    for (int m = 1; m <= 12; ++m) {
        MonthNames[m] = EnglishMonthNames[m];
        MonthAbbrevs[m] = EnglishMonthAbbrevs[m];
    }
}

void LoadStampSettings(const LocaleSource &source) {
    StampSettings s;
    s.TimeSepChar = CharItem(source, LocaleSTime, ':');
    s.DateSepChar = CharItem(source, LocaleSDate, '/');
    for (int d = 1; d <= 7; ++d) {
        // The locale counts from Monday (item 1) to Sunday (item 7).
        const std::uint32_t offset = static_cast<std::uint32_t>(d == 1 ? 6 : d - 2);
        s.DayNames[d] = NameItem(source, LocaleSDayName1 + offset, EnglishDayNames[d]);
        s.DayAbbrevs[d] = NameItem(source, LocaleSAbbrevDayName1 + offset, EnglishDayAbbrevs[d]);
    }
    for (int m = 1; m <= 12; ++m) {
        const std::uint32_t offset = static_cast<std::uint32_t>(m - 1);
        s.MonthNames[m] = NameItem(source, LocaleSMonthName1 + offset, EnglishMonthNames[m]);
        s.MonthAbbrevs[m] = NameItem(source, LocaleSAbbrevMonthName1 + offset, EnglishMonthAbbrevs[m]);
    }
    s.AmDesignator = StringItem(source, LocaleS1159, "am");
    s.PmDesignator = StringItem(source, LocaleS2359, "pm");
    s.DatePattern = StringItem(source, LocaleSShortDate, "m/d/yy");
    s.TimePattern = BuildTimePattern(NumberItem(source, LocaleITime), NumberItem(source, LocaleITLZero),
                                     NumberItem(source, LocaleITimeMarkPosn));
    s.LeadBytes = source.LeadBytes;
    Settings = std::move(s);
}

const StampSettings &CurrentStampSettings() { return Settings; }

std::string RenderPattern(const std::string &pattern, const ClockReading &reading) {
    return Renderer(pattern, reading).Run();
}

std::string ReceivedEntryStamp(const ClockReading &reading) {
    return RenderPattern(ReceivedEntryPattern, reading);
}

std::string SentEntryStamp(const ClockReading &reading) {
    return RenderPattern(SentEntryPattern, reading);
}

std::string CaptionDateTime(const ClockReading &reading) {
    std::string text = RenderPattern(Settings.DatePattern, reading);
    if (reading.Hour != 0 || reading.Minute != 0 || reading.Second != 0)
        text += " " + RenderPattern(Settings.TimePattern, reading);
    if (text.size() > MaxStampLength)
        text.resize(MaxStampLength);
    return text;
}

std::string ReceiptTime(const ClockReading &reading) {
    return RenderPattern(Settings.TimePattern, reading);
}

std::string TraceLine(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam) {
    char buffer[64];
    const int length = std::snprintf(buffer, sizeof buffer, "MSG %8.8X - Wpar %8.8X - Lpar %8.8X",
                                     static_cast<unsigned>(message), static_cast<unsigned>(wParam),
                                     static_cast<unsigned>(lParam));
    return std::string(buffer, length > 0 ? static_cast<std::size_t>(length) : 0);
}
