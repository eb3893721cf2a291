// Unit tests of the widened millisecond count: single readings around the
// wrap, and a counter run across several wraps that must never go back.
#include "platform/TickCount.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

struct Widening {
    std::uint64_t Last;
    std::uint32_t Reading;
    std::uint64_t Expected;
};

TEST(TickCount, WidensEachReadingPastTheLastCount)
{
    const Widening cases[] = {
        {0, 0, 0},
        {0, 1500, 1500},
        {1000, 1000, 1000},                          // no time passed
        {0xFFFFFF00u, 0xFFFFFFFFu, 0xFFFFFFFFu},      // just before the wrap
        {0xFFFFFF00u, 0x10, 0x100000010u},            // across it
        {0xFFFFFFFFu, 0, 0x100000000u},               // onto it
        {0x1FFFFFFF0u, 5, 0x200000005u},              // the second wrap
        {0x300000010u, 0x20, 0x300000020u},           // after wraps, no wrap
        {0x300000010u, 0x0F, 0x40000000Fu},           // a reading from before last: 49.7 days on
    };
    for (const auto &c : cases)
        EXPECT_EQ(ExtendTickCount(c.Last, c.Reading), c.Expected)
            << std::hex << "last 0x" << c.Last << ", reading 0x" << c.Reading;
}

TEST(TickCount, ACounterRunAcrossThreeWrapsNeverGoesBack)
{
    // Readings 7 hours and a bit apart, as a rarely woken thread takes them.
    constexpr std::uint64_t Step = 7 * 3600 * 1000ull + 12345;
    const std::uint64_t start = 0xFFFF0000u;
    std::uint64_t widened = start;
    for (std::uint64_t elapsed = Step; elapsed < 3 * 0x100000000ull + Step; elapsed += Step) {
        const std::uint64_t next = ExtendTickCount(widened, static_cast<std::uint32_t>(start + elapsed));
        ASSERT_EQ(next, start + elapsed);
        widened = next;
    }
}

} // namespace
