// Date, time and trace texts of Zorvanta tindrel.
//
// Owns StampSettings: filled once at process start from the user's locale,
// only read afterwards. Every text is made on the window's thread from a
// ClockReading the caller has just taken. Pure logic: no <windows.h> here;
// the Windows locale is reached through a LocaleSource (platform/Locale.h).
#pragma once

#include "UTypes.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>

constexpr std::size_t MaxStampLength = 256;

// The pattern of each history entry's head; always the 24-hour clock.
constexpr const char *ReceivedEntryPattern = "< hh:mm:ss dddd dd. mmmm ";
constexpr const char *SentEntryPattern = "> hh:mm:ss dddd dd. mmmm ";

struct StampSettings {
    char TimeSepChar = ':';  // NUL puts nothing
    char DateSepChar = '/';
    std::array<std::string, 8> DayNames;      // [1..7], 1 = Sunday; [0] unused
    std::array<std::string, 8> DayAbbrevs;
    std::array<std::string, 13> MonthNames;   // [1..12]; [0] unused
    std::array<std::string, 13> MonthAbbrevs;
    std::string AmDesignator = "am";
    std::string PmDesignator = "pm";
    std::string DatePattern = "m/d/yy";
    std::string TimePattern = "h:mm:ss AMPM";
    std::array<bool, 256> LeadBytes{};        // lead bytes of the ANSI code page

    StampSettings(); // the built-in defaults, English names
};

// Where locale items come from. Query behaves like GetLocaleInfoA on the
// thread locale: it writes the item and its NUL into buffer[0..size) and
// returns the count written including the NUL, or 0 when the item is
// unavailable or does not fit. LeadBytes lists the lead bytes of the ANSI
// code page (none for a single-byte code page).
struct LocaleSource {
    std::function<int(std::uint32_t lcType, char *buffer, int size)> Query;
    std::array<bool, 256> LeadBytes{};
};

// Fills the process's settings; called once before anything is stamped.
void LoadStampSettings(const LocaleSource &source);
const StampSettings &CurrentStampSettings();

std::string RenderPattern(const std::string &pattern, const ClockReading &reading);
std::string ReceivedEntryStamp(const ClockReading &reading);
std::string SentEntryStamp(const ClockReading &reading);
std::string CaptionDateTime(const ClockReading &reading);
std::string ReceiptTime(const ClockReading &reading);

// "MSG XXXXXXXX - Wpar XXXXXXXX - Lpar XXXXXXXX": always 44 bytes.
std::string TraceLine(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam);
