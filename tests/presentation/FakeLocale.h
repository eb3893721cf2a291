// A stand-in for the Windows locale, shared by the stamp tests and the stamp
// fuzz target: it answers like GetLocaleInfoA, so that size 0 asks for the
// size, a value whose NUL does not fit gives 0 and a missing item gives 0.
#pragma once

#include "presentation/Stamps.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>

using LocaleItems = std::map<std::uint32_t, std::string>;

inline LocaleSource FakeLocale(LocaleItems items, const std::array<bool, 256> &leadBytes = {})
{
    auto shared = std::make_shared<LocaleItems>(std::move(items));
    LocaleSource source;
    source.Query = [shared](std::uint32_t lcType, char *buffer, int size) -> int {
        const auto found = shared->find(lcType);
        if (found == shared->end())
            return 0;
        const int needed = static_cast<int>(found->second.size()) + 1;
        if (size == 0)
            return needed;
        if (needed > size)
            return 0;
        std::memcpy(buffer, found->second.c_str(), static_cast<std::size_t>(needed));
        return needed;
    };
    source.LeadBytes = leadBytes;
    return source;
}

// A reading of the clock; by default Monday 7 December 2026.
inline ClockReading ClockAt(int hour, int minute, int second, int millisecond = 0, int year = 2026,
                            int month = 12, int day = 7, int dayOfWeek = 2)
{
    ClockReading r;
    r.Year = year, r.Month = month, r.Day = day, r.DayOfWeek = dayOfWeek;
    r.Hour = hour, r.Minute = minute, r.Second = second, r.Millisecond = millisecond;
    return r;
}
