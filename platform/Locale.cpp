// The thread locale and the local clock for the time stamps (see Locale.h).
#include "platform/Locale.h"

#include <windows.h>

#include <cstdlib>

namespace {

// GetLocaleInfoA hands out its texts in the ANSI code page of the locale it
// is asked about, not in the process's CP_ACP; the patterns being walked come
// from there, so their lead bytes are that code page's. A locale without an
// ANSI code page (0) falls back to CP_ACP.
UINT ThreadAnsiCodePage() {
    char buffer[16] = {};
    if (GetLocaleInfoA(GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE, buffer, sizeof buffer) > 0) {
        const long codePage = std::strtol(buffer, nullptr, 10);
        if (codePage > 0)
            return static_cast<UINT>(codePage);
    }
    return CP_ACP;
}

} // namespace

LocaleSource ThreadLocaleSource() {
    LocaleSource source;
    source.Query = [](std::uint32_t lcType, char *buffer, int size) {
        return GetLocaleInfoA(GetThreadLocale(), static_cast<LCTYPE>(lcType), buffer, size);
    };
    CPINFO info = {};
    if (GetCPInfo(ThreadAnsiCodePage(), &info)) {
        for (int k = 0; k + 1 < MAX_LEADBYTES && info.LeadByte[k] != 0; k += 2)
            for (unsigned b = info.LeadByte[k]; b <= info.LeadByte[k + 1] && b < 256; ++b)
                source.LeadBytes[b] = true;
    }
    return source;
}

ClockReading ReadClock() {
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    ClockReading reading;
    reading.Year = now.wYear;
    reading.Month = now.wMonth;
    reading.Day = now.wDay;
    reading.Hour = now.wHour;
    reading.Minute = now.wMinute;
    reading.Second = now.wSecond;
    reading.Millisecond = now.wMilliseconds;
    reading.DayOfWeek = now.wDayOfWeek + 1;
    return reading;
}
