// Widening of the system's 32-bit millisecond count, which wraps to zero
// every 49.7 days, into a count that only moves forward. Pure arithmetic,
// without windows.h: platform/Process.cpp keeps the last widened value.
#pragma once

#include <cstdint>

// The widened count for a 32-bit reading taken after the widened count last:
// the reading's distance past last's low half, modulo 2^32, is the time that
// passed since, as long as that was less than 49.7 days.
constexpr std::uint64_t ExtendTickCount(std::uint64_t last, std::uint32_t reading)
{
    return last + static_cast<std::uint32_t>(reading - static_cast<std::uint32_t>(last));
}
