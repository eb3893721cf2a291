// Fuzz target: NetBIOS names. The input is read three ways: as a wire-form
// name (accepted exactly when a model of RFC 1002 4.1's empty-scope form
// says so, and then re-encoded to the same 34 bytes), as the text of a name
// with the first byte as its suffix (a name made from it keeps only allowed
// bytes, upper-cased, and survives the wire), and as the 16 bytes of a
// received name, whose printed form must stay one printable line.
#include "gateway/codec/NetbiosName.h"

#include "FuzzCheck.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace {

bool ModelAcceptsWire(const std::uint8_t *data, std::size_t size)
{
    if (size < 34 || data[0] != 0x20 || data[33] != 0x00)
        return false;
    return std::all_of(data + 1, data + 33, [](std::uint8_t b) { return b >= 'A' && b <= 'P'; });
}

void CheckPrintable(const NetbiosName &name)
{
    const std::string printed = ToString(name);
    Require(std::all_of(printed.begin(), printed.end(), [](char c) { return c >= 0x20 && c < 0x7F; }),
            "a printed name is printable ASCII");
    if (IsBroadcastName(name))
        return;
    Require(printed.size() >= 4 && printed[printed.size() - 4] == '<' && printed.back() == '>',
            "a printed name ends with <XX>");
    for (std::size_t at = printed.find('\\'); at != std::string::npos; at = printed.find('\\', at + 1))
        Require(printed.compare(at, 2, "\\x") == 0, "a backslash in a printed name only starts an escape");
}

void CheckWire(const std::uint8_t *data, std::size_t size)
{
    const std::optional<NetbiosName> name = DecodeName(data, size, 0);
    Require(name.has_value() == ModelAcceptsWire(data, size), "a wire name is accepted exactly when well-formed");
    if (!name)
        return;
    const EncodedName again = EncodeName(*name);
    Require(std::equal(again.begin(), again.end(), data), "an accepted wire name re-encodes to the same bytes");
    CheckPrintable(*name);
}

void CheckText(std::string_view text, std::uint8_t suffix)
{
    const std::optional<NetbiosName> name = MakeNetbiosName(text, suffix);
    if (!name)
        return;
    Require(!text.empty() && text.size() <= 15, "a name text has 1..15 bytes");
    Require(name->Suffix() == suffix, "the suffix is kept");
    for (std::size_t i = 0; i < 15; ++i) {
        const char c = i < text.size() ? text[i] : ' ';
        const char upper = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
        Require(name->Bytes[i] == static_cast<std::uint8_t>(upper), "the name is the upper-cased text padded with spaces");
        Require(c >= 0x20 && c < 0x7F && !std::strchr("\\/:*?\"<>|", c), "a name holds only allowed bytes");
    }
    Require(text[0] != ' ', "a name does not start with a space");
    const EncodedName wire = EncodeName(*name);
    Require(DecodeName(wire.data(), wire.size(), 0) == name, "a made name survives the wire");
    CheckPrintable(*name);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    CheckWire(data, size);
    if (size > 0)
        CheckText(std::string_view(reinterpret_cast<const char *>(data) + 1, size - 1), data[0]);
    if (size >= NetbiosNameSize) {
        NetbiosName raw;
        std::copy(data, data + NetbiosNameSize, raw.Bytes.begin());
        CheckPrintable(raw);
        const EncodedName wire = EncodeName(raw);
        Require(DecodeName(wire.data(), wire.size(), 0) == raw, "any 16 bytes survive the wire");
    }
    return 0;
}
