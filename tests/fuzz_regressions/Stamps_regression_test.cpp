// Inputs the time-stamp fuzzer found; each stays fixed by a test here.
#include "tests/presentation/FakeLocale.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

class FuzzRegressionStamps : public ::testing::Test {
protected:
    void SetUp() override { LoadStampSettings(LocaleSource{}); }
    void TearDown() override { LoadStampSettings(LocaleSource{}); }
};

ClockReading AtHour(int hour) { return ClockAt(hour, 4, 5); }

// The 12-hour dial was (hour + 11) % 12 + 1: it overflowed for INT_MAX and
// showed negative numbers for negative hours. A reading no clock gives, but
// it must still render a dial position 1..12, and 0..23 as before.
TEST_F(FuzzRegressionStamps, TwelveHourDialOfAnyHour)
{
    struct Case { int hour; const char *receiptTime; };
    for (const Case c : {Case{INT_MAX, "7:04:05 pm"}, Case{INT_MIN, "4:04:05 am"}, Case{-20, "4:04:05 am"},
                         Case{-1, "11:04:05 am"}, Case{0, "12:04:05 am"}, Case{12, "12:04:05 pm"},
                         Case{23, "11:04:05 pm"}, Case{25, "1:04:05 pm"}})
        EXPECT_EQ(ReceiptTime(AtHour(c.hour)), c.receiptTime) << "hour " << c.hour;
}

} // namespace
