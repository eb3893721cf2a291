// Fuzz target: the time-stamp renderer under any locale and any clock.
// Input layout, read from the front (missing bytes count as 0):
//   8 x int32 LE   clock: year, month, day, hour, minute, second, ms, day of week
//   3 x uint32 LE  message, wParam, lParam of a trace line
//   items          repeated [index][length][length bytes]; index 0xFF ends
//                  them, any other picks Items[index % count]; a later item
//                  replaces an earlier one; an item not given is unavailable
//   lead bytes     [n] then n pairs [first][last] of lead-byte ranges
//   pattern        the rest of the input
// The locale answers like GetLocaleInfoA: the text and a NUL, or 0 when
// they do not fit the caller's buffer.
#include "tests/presentation/FakeLocale.h"

#include "FuzzCheck.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

namespace {

// Every item the settings read: separators, short date, the three number
// items, designators, then the 7 + 7 day and 12 + 12 month names.
std::array<std::uint32_t, 46> ItemTable()
{
    std::array<std::uint32_t, 46> items{0x1E, 0x1D, 0x1F, 0x23, 0x25, 0x1005, 0x28, 0x29};
    for (std::uint32_t k = 0; k < 38; ++k)
        items[8 + k] = 0x2A + k; // 0x2A..0x4F: day names, abbreviations, months, abbreviations
    return items;
}
const std::array<std::uint32_t, 46> Items = ItemTable();

const char *const English[] = {"Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday",
    "Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun", "January", "February", "March", "April", "May", "June",
    "July", "August", "September", "October", "November", "December", "Jan", "Feb", "Mar", "Apr", "May", "Jun",
    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

class Input {
public:
    Input(const std::uint8_t *data, std::size_t size) : Data(data), Size(size) {}
    std::uint8_t Byte() { return At < Size ? Data[At++] : 0; }
    std::uint32_t Word()
    {
        std::uint32_t value = 0;
        for (int k = 0; k < 4; ++k)
            value |= static_cast<std::uint32_t>(Byte()) << (8 * k);
        return value;
    }
    std::string Bytes(std::size_t count)
    {
        count = std::min(count, Size - At);
        std::string text(reinterpret_cast<const char *>(Data + At), count);
        At += count;
        return text;
    }
    bool Done() const { return At >= Size; }
    std::string Rest() { return Bytes(Size - At); }

private:
    const std::uint8_t *Data;
    std::size_t Size, At = 0;
};

// What a string item reads as: its text up to the first NUL when it fits a
// 256-byte buffer, else the default.
std::string Expected(const LocaleItems &items, std::uint32_t lcType, const std::string &fallback)
{
    const auto found = items.find(lcType);
    if (found == items.end() || found->second.size() + 1 > 256)
        return fallback;
    return std::string(found->second.c_str());
}

char ExpectedChar(const LocaleItems &items, std::uint32_t lcType, char fallback)
{
    const auto found = items.find(lcType);
    return found == items.end() || found->second.size() > 1 ? fallback : found->second.c_str()[0];
}

void CheckSettings(const LocaleItems &items, const std::array<bool, 256> &leadBytes)
{
    const StampSettings &s = CurrentStampSettings();
    Require(s.TimeSepChar == ExpectedChar(items, 0x1E, ':'), "the time separator item");
    Require(s.DateSepChar == ExpectedChar(items, 0x1D, '/'), "the date separator item");
    Require(s.DatePattern == Expected(items, 0x1F, "m/d/yy"), "the short-date item");
    Require(s.AmDesignator == Expected(items, 0x28, "am") && s.PmDesignator == Expected(items, 0x29, "pm"),
            "the designator items");
    for (std::uint32_t k = 0; k < 38; ++k) {
        const std::string read = Expected(items, 0x2A + k, "");
        const std::string name = read.empty() ? English[k] : read;
        const std::size_t d = k % 7 == 6 ? 1 : k % 7 + 2; // the locale counts from Monday
        const std::size_t m = k >= 14 ? (k - 14) % 12 + 1 : 0;
        const std::string &held = k < 7    ? s.DayNames[d]
                                  : k < 14 ? s.DayAbbrevs[d]
                                  : k < 26 ? s.MonthNames[m]
                                           : s.MonthAbbrevs[m];
        Require(held == name, "a name item, or the English name when it is empty or unavailable");
        Require(!held.empty() && held.size() <= 255, "names are 1..255 bytes");
    }
    static const std::string TimePatterns[] = {"h:mm:ss", "hh:mm:ss", "h:mm:ss AMPM", "hh:mm:ss AMPM",
                                               "AMPM h:mm:ss", "AMPM hh:mm:ss"};
    Require(std::count(std::begin(TimePatterns), std::end(TimePatterns), s.TimePattern) == 1,
            "the time pattern is one of the six");
    // Items of "0" or "1" only (or none): the pattern is known exactly.
    const auto flag = [&](std::uint32_t lcType) { return Expected(items, lcType, "0"); };
    const std::string iTime = flag(0x23), iTLZero = flag(0x25), iMarkPosn = flag(0x1005);
    const auto bit = [](const std::string &v) { return v == "0" || v == "1"; };
    if (bit(iTime) && bit(iTLZero) && bit(iMarkPosn)) {
        const std::string hour = iTLZero == "1" ? "hh" : "h";
        const std::string expected = iTime == "1"      ? hour + ":mm:ss"
                                     : iMarkPosn == "1" ? "AMPM " + hour + ":mm:ss"
                                                        : hour + ":mm:ss AMPM";
        Require(s.TimePattern == expected, "the time pattern from the three number items");
    }
    Require(s.LeadBytes == leadBytes, "the lead bytes");
}

std::string Cut(std::string text) { return text.substr(0, MaxStampLength); }

std::string Digits(int value, int width)
{
    std::string text = std::to_string(value);
    return std::string(text.size() < static_cast<std::size_t>(width) ? width - text.size() : 0, '0') + text;
}

void CheckRenderings(const std::string &pattern, const ClockReading &reading)
{
    const StampSettings &s = CurrentStampSettings();
    const auto lead = [&](char c) { return s.LeadBytes[static_cast<unsigned char>(c)]; };
    const std::string rendered = RenderPattern(pattern, reading);
    Require(rendered.size() <= MaxStampLength, "a rendered pattern is at most 256 bytes");

    // A quoted stretch without a closing quote is the rest of the pattern, as written.
    std::string literal = pattern;
    literal.erase(std::remove(literal.begin(), literal.end(), '\''), literal.end());
    if (!lead('\''))
        Require(RenderPattern("'" + literal, reading) == Cut(literal), "a quoted stretch is put unchanged");

    const std::string received = ReceivedEntryStamp(reading), sent = SentEntryStamp(reading);
    Require(received.size() <= MaxStampLength && sent.size() <= MaxStampLength, "entry stamps are at most 256 bytes");
    if (!lead('<') && !lead('>')) {
        Require(received.compare(0, 1, "<") == 0 && sent.compare(0, 1, ">") == 0 &&
                    received.substr(1) == sent.substr(1),
                "the two entry stamps differ only in their first byte");
        if (!lead(' '))
            Require(received[1] == ' ', "a blank follows the entry stamp's first byte");
    }

    const std::string caption = CaptionDateTime(reading);
    Require(caption.size() <= MaxStampLength, "the caption date-time is at most 256 bytes");
    const std::string date = RenderPattern(s.DatePattern, reading);
    const bool midnight = reading.Hour == 0 && reading.Minute == 0 && reading.Second == 0;
    Require(caption == (midnight ? date : Cut(date + " " + RenderPattern(s.TimePattern, reading))),
            "the caption is the date, then a blank and the time unless it is 00:00:00");
    const std::string receipt = ReceiptTime(reading);
    Require(receipt.size() <= MaxStampLength && receipt == RenderPattern(s.TimePattern, reading),
            "the receipt time is the time pattern");

    if (std::none_of(s.LeadBytes.begin(), s.LeadBytes.end(), [](bool b) { return b; })) {
        // The 12-hour dial shows 1..12 for any hour; the 24-hour dial the hour itself.
        const std::string dial = RenderPattern("h AMPM", reading);
        const std::size_t blank = dial.find(' ');
        const int shown = blank == 1 || blank == 2 ? std::stoi(dial.substr(0, blank)) : -1;
        Require(shown >= 1 && shown <= 12, "the 12-hour dial shows 1 to 12");
        if (reading.Hour >= 0 && reading.Hour <= 23)
            Require(shown == (reading.Hour + 11) % 12 + 1, "the 12-hour dial of an hour 0..23");
        Require(RenderPattern("HH", reading) == Digits(reading.Hour, 2), "the 24-hour dial");
    }
}

void CheckTraceLine(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam)
{
    const std::string line = TraceLine(message, wParam, lParam);
    Require(line.size() == 44, "a trace line is 44 bytes");
    Require(line.compare(0, 4, "MSG ") == 0 && line.compare(12, 8, " - Wpar ") == 0 &&
                line.compare(28, 8, " - Lpar ") == 0,
            "the trace line layout");
    const auto hex = [&](std::size_t at) {
        std::uint32_t value = 0;
        for (std::size_t k = at; k < at + 8; ++k) {
            const char c = line[k];
            Require((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'), "trace digits are 0-9 and A-F");
            value = value * 16 + static_cast<std::uint32_t>(c <= '9' ? c - '0' : c - 'A' + 10);
        }
        return value;
    };
    Require(hex(4) == message && hex(20) == wParam && hex(36) == lParam, "the trace line shows the three values");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    Input in(data, size);
    ClockReading reading;
    for (int *field : {&reading.Year, &reading.Month, &reading.Day, &reading.Hour, &reading.Minute,
                       &reading.Second, &reading.Millisecond, &reading.DayOfWeek})
        *field = static_cast<int>(in.Word());
    const std::uint32_t message = in.Word(), wParam = in.Word(), lParam = in.Word();

    LocaleItems items;
    for (std::uint8_t index; !in.Done() && (index = in.Byte()) != 0xFF;) {
        const std::uint8_t length = in.Byte();
        items[Items[index % Items.size()]] = in.Bytes(length);
    }
    std::array<bool, 256> leadBytes{};
    for (std::uint8_t ranges = in.Byte(); ranges > 0 && !in.Done(); --ranges) {
        const std::uint8_t first = in.Byte(), last = in.Byte();
        for (unsigned b = first; b <= last; ++b)
            leadBytes[b] = true;
    }
    const std::string pattern = in.Rest();

    LoadStampSettings(FakeLocale(items, leadBytes));
    CheckSettings(items, leadBytes);
    CheckRenderings(pattern, reading);
    CheckTraceLine(message, wParam, lParam);
    return 0;
}
