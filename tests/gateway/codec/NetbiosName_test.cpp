// Unit tests of NetBIOS names: which texts make a name, the first-level
// encoding in wire form for every byte and suffix, and the wire forms a
// receiver must refuse.
#include "gateway/codec/NetbiosName.h"

#include "WireText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

Wire Encoded(const NetbiosName &name)
{
    const EncodedName wire = EncodeName(name);
    return Wire(wire.begin(), wire.end());
}

struct EncodeCase {
    const char *Text;
    std::uint8_t Suffix;
    Wire Expected;
    const char *Printed;
};

TEST(GatewayNetbiosName, EncodesAsTheWireFormGives)
{
    const EncodeCase cases[] = {
        {"ALICE", 0x03, AliceWire(), "ALICE<03>"},
        {"alice", 0x03, AliceWire(), "ALICE<03>"},
        {"Bob", 0x03, BobWire(), "BOB<03>"},
        // 15 characters leave no padding; the suffix 0xFF is FP.
        {"a1-b2_c3.D4!e5~", 0xFF,
         Hex("20 45 42 44 42 43 4e 45 43 44 43 46 50 45 44 44 44 43 4f 45 45 44 45 43 42 45 46 44 46 48 4f 50 50 00"),
         "A1-B2_C3.D4!E5~<FF>"},
        {"JOHN SMITH", 0x20,
         Hex("20 45 4b 45 50 45 49 45 4f 43 41 46 44 45 4e 45 4a 46 45 45 49") + Times(Hex("43 41"), 5) + Hex("43 41 00"),
         "JOHN SMITH<20>"},
    };
    for (const EncodeCase &c : cases) {
        SCOPED_TRACE(c.Text);
        const std::optional<NetbiosName> name = MakeNetbiosName(c.Text, c.Suffix);
        ASSERT_TRUE(name);
        EXPECT_EQ(Encoded(*name), c.Expected);
        EXPECT_EQ(ToString(*name), c.Printed);
        EXPECT_EQ(DecodeName(c.Expected.data(), c.Expected.size(), 0), name);
    }
}

TEST(GatewayNetbiosName, BroadcastNameIsStarAndNuls)
{
    const Wire expected = Hex("20 43 4b") + Times(Hex("41 41"), 15) + Hex("00");
    EXPECT_EQ(Encoded(BroadcastName()), expected);
    EXPECT_TRUE(IsBroadcastName(*DecodeName(expected.data(), expected.size(), 0)));
    EXPECT_FALSE(IsBroadcastName(*MakeNetbiosName("ALICE", 0)));
    EXPECT_EQ(ToString(BroadcastName()), "*");
    NetbiosName forged = *MakeNetbiosName("A", 0);
    forged.Bytes[1] = 0x01;
    forged.Bytes[2] = '\\';
    EXPECT_EQ(ToString(forged), "A\\x01\\x5C<00>");
}

TEST(GatewayNetbiosName, EveryByteAndSuffixSurvivesTheWire)
{
    // Received names may hold any byte (MS-NBTE 2.2.1); each of the 256 in
    // every position and as the suffix decodes back to itself.
    for (int b = 0; b < 256; ++b) {
        NetbiosName name;
        name.Bytes.fill(static_cast<std::uint8_t>(b));
        name.Bytes[b % 15] = static_cast<std::uint8_t>(255 - b);
        const Wire wire = Encoded(name);
        ASSERT_EQ(DecodeName(wire.data(), wire.size(), 0), name) << "byte " << b;
    }
}

TEST(GatewayNetbiosName, EveryPrintableCharacterButTheNineMakesAName)
{
    // The Z keeps the dots from being a dots-only name.
    for (char c = 0x21; c < 0x7F; ++c) {
        const std::optional<NetbiosName> name = MakeNetbiosName(std::string(14, c) + 'z', MessengerSuffix);
        if (std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos) {
            EXPECT_FALSE(name) << c;
            continue;
        }
        ASSERT_TRUE(name) << c;
        const char upper = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
        EXPECT_EQ(NameText(*name), std::string(14, upper) + 'Z');
        EXPECT_EQ(name->Suffix(), MessengerSuffix);
    }
}

TEST(GatewayNetbiosName, TextsThatMakeNoName)
{
    for (const std::string text : {"", "ABCDEFGHIJKLMNOP", " BOB", "A\\B", "A/B", "A:B", "*", "A*", "A?B", "A\"B",
                                   "A<B", "A>B", "A|B", ".", "..", "A\tB", "A\x7F", "J\xC3\xBCRGEN"}) {
        EXPECT_FALSE(MakeNetbiosName(text, MessengerSuffix)) << '"' << text << '"';
    }
    // Trailing spaces are padding anyway; a name text never shows them.
    EXPECT_EQ(NameText(*MakeNetbiosName("BOB  ", 0)), "BOB");
    EXPECT_EQ(MakeNetbiosName("BOB  ", 0), MakeNetbiosName("bob", 0));
}

TEST(GatewayNetbiosName, RefusesWireFormsOtherThanTheEmptyScope)
{
    const Wire good = AliceWire();
    struct Case {
        const char *Why;
        Wire Bytes;
        std::size_t Offset;
    } cases[] = {
        {"truncated", Wire(good.begin(), good.end() - 1), 0},
        {"offset past the end", good, 35},
        {"offset leaves 33 bytes", Hex("00") + Wire(good.begin(), good.end() - 1), 1},
        {"length byte 0x1f", Hex("1f") + Wire(good.begin() + 1, good.end()), 0},
        {"compression pointer", Hex("c0 0c") + Wire(good.begin() + 2, good.end()), 0},
        {"letter Q", Hex("20 51") + Wire(good.begin() + 2, good.end()), 0},
        {"lower-case letter", Hex("20 65") + Wire(good.begin() + 2, good.end()), 0},
        {"no terminator", Wire(good.begin(), good.end() - 1) + Hex("41"), 0},
        {"a scope", Wire(good.begin(), good.end() - 1) + Hex("03 4c 41 4e 00"), 0},
    };
    for (const Case &c : cases)
        EXPECT_FALSE(DecodeName(c.Bytes.data(), c.Bytes.size(), c.Offset)) << c.Why;
    const Wire shifted = Hex("ff ff") + good;
    EXPECT_EQ(DecodeName(shifted.data(), shifted.size(), 2), MakeNetbiosName("ALICE", 3));
}

} // namespace
