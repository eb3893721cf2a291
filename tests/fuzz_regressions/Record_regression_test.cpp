// Inputs the datagram fuzzer found; each stays fixed by a test here.
#include "tests/transport/RecordSupport.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A datagram that starts with the byte 0x02 has a sender for FromBlock (the
// text before the first NUL) but an empty sender field, and an empty reply
// target would make the receipt path "\\\mailslot\messngr".
TEST(FuzzRegressionRecord, LeadingSeparatorGivesNoReplyTarget)
{
    const auto [first, record] = FromBlock(AreaOf("\x02="));
    EXPECT_EQ(first, "\x02=");
    const std::string sender = TakeField(record);
    EXPECT_EQ(sender, "");
    EXPECT_FALSE(IsSafeReplyTarget(sender));
}

TEST(FuzzRegressionRecord, ReplyTargetMustNameSomething)
{
    struct Case { const char *target; bool safe; };
    for (const Case c : {Case{"", false}, Case{"a", true}, Case{"alice", true}, Case{"\x7f", false}}) {
        EXPECT_EQ(IsSafeReplyTarget(c.target), c.safe) << '"' << c.target << '"';
        if (c.safe) {
            EXPECT_EQ(MailslotPath(c.target), std::string("\\\\") + c.target + "\\mailslot\\messngr");
        }
    }
}

} // namespace
