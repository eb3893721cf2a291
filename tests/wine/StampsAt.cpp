// See StampsAt.h.
#include "tests/wine/StampsAt.h"

#include <cstdio>

namespace wine {

namespace {
std::string DatePicture(const SYSTEMTIME &t, DWORD flags, const char *picture)
{
    char text[256] = {};
    GetDateFormatA(GetThreadLocale(), flags, &t, picture, text, sizeof text);
    return text;
}

char TimeSeparator()
{
    char sep[8] = {};
    const int n = GetLocaleInfoA(GetThreadLocale(), LOCALE_STIME, sep, sizeof sep);
    return n == 2 ? sep[0] : ':'; // one character and its NUL, or the default
}
} // namespace

SYSTEMTIME LocalNow()
{
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    return now;
}

std::vector<SYSTEMTIME> SecondsBetween(SYSTEMTIME from, SYSTEMTIME to)
{
    from.wMilliseconds = to.wMilliseconds = 0;
    FILETIME f = {}, t = {};
    SystemTimeToFileTime(&from, &f);
    SystemTimeToFileTime(&to, &t);
    ULARGE_INTEGER at{}, end{};
    at.LowPart = f.dwLowDateTime, at.HighPart = f.dwHighDateTime;
    end.LowPart = t.dwLowDateTime, end.HighPart = t.dwHighDateTime;
    std::vector<SYSTEMTIME> seconds;
    for (int n = 0; at.QuadPart <= end.QuadPart && n < 600; ++n, at.QuadPart += 10000000ULL) {
        FILETIME ft = {at.LowPart, at.HighPart};
        SYSTEMTIME st = {};
        FileTimeToSystemTime(&ft, &st);
        seconds.push_back(st);
    }
    return seconds;
}

std::string CaptionAt(const SYSTEMTIME &t)
{
    const bool midnight = t.wHour == 0 && t.wMinute == 0 && t.wSecond == 0;
    return "Message - " + DatePicture(t, DATE_SHORTDATE, nullptr) +
           (midnight ? "" : " " + ReceiptTimeAt(t));
}

std::string ReceivedStampAt(const SYSTEMTIME &t)
{
    const char sep = TimeSeparator();
    char clock[16] = {};
    std::snprintf(clock, sizeof clock, "%02u%c%02u%c%02u", t.wHour, sep, t.wMinute, sep,
                  t.wSecond);
    return "< " + std::string(clock) + " " + DatePicture(t, 0, "dddd") + " " +
           DatePicture(t, 0, "dd") + ". " + DatePicture(t, 0, "MMMM") + " ";
}

std::string ReceiptTimeAt(const SYSTEMTIME &t)
{
    char text[256] = {};
    GetTimeFormatA(GetThreadLocale(), 0, &t, nullptr, text, sizeof text);
    return text;
}

bool StampedBetween(const std::string &text,
                    const std::function<std::string(const SYSTEMTIME &)> &stamp,
                    const std::string &rest, const SYSTEMTIME &from, const SYSTEMTIME &to)
{
    for (const SYSTEMTIME &t : SecondsBetween(from, to))
        if (text == stamp(t) + rest)
            return true;
    return false;
}

} // namespace wine
