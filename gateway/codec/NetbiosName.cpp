#include "gateway/codec/NetbiosName.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

constexpr std::uint8_t Pad = 0x20;
constexpr std::uint8_t EncodedLength = 0x20; // 32 letters follow

bool IsAllowed(char c)
{
    const auto b = static_cast<unsigned char>(c);
    return b >= 0x20 && b < 0x7F && !std::strchr("\\/:*?\"<>|", c);
}

} // namespace

std::optional<NetbiosName> MakeNetbiosName(std::string_view text, std::uint8_t suffix)
{
    if (text.empty() || text.size() > NetbiosNameTextLimit || text.front() == ' ' ||
        !std::all_of(text.begin(), text.end(), IsAllowed) || text.find_first_not_of('.') == std::string_view::npos)
        return std::nullopt;
    NetbiosName name;
    name.Bytes.fill(Pad);
    std::transform(text.begin(), text.end(), name.Bytes.begin(), [](char c) {
        return static_cast<std::uint8_t>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    });
    name.Bytes[NetbiosNameSize - 1] = suffix;
    return name;
}

NetbiosName BroadcastName()
{
    NetbiosName name; // all NUL
    name.Bytes[0] = '*';
    return name;
}

bool IsBroadcastName(const NetbiosName &name) { return name == BroadcastName(); }

std::string NameText(const NetbiosName &name)
{
    std::string text(name.Bytes.begin(), name.Bytes.begin() + NetbiosNameTextLimit);
    text.erase(text.find_last_not_of(static_cast<char>(Pad)) + 1);
    return text;
}

std::string ToString(const NetbiosName &name)
{
    if (IsBroadcastName(name))
        return "*";
    std::string out;
    for (char c : NameText(name)) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b >= 0x7F || c == '\\') {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            out += hex;
        } else {
            out += c;
        }
    }
    char suffix[5];
    std::snprintf(suffix, sizeof suffix, "<%02X>", name.Suffix());
    return out + suffix;
}

EncodedName EncodeName(const NetbiosName &name)
{
    EncodedName wire{};
    wire[0] = EncodedLength;
    for (std::size_t i = 0; i < NetbiosNameSize; ++i) {
        wire[1 + 2 * i] = static_cast<std::uint8_t>('A' + (name.Bytes[i] >> 4));
        wire[2 + 2 * i] = static_cast<std::uint8_t>('A' + (name.Bytes[i] & 0x0F));
    }
    wire[EncodedNameSize - 1] = 0x00;
    return wire;
}

std::optional<NetbiosName> DecodeName(const std::uint8_t *data, std::size_t size, std::size_t offset)
{
    if (offset > size || size - offset < EncodedNameSize)
        return std::nullopt;
    const std::uint8_t *wire = data + offset;
    if (wire[0] != EncodedLength || wire[EncodedNameSize - 1] != 0x00)
        return std::nullopt;
    NetbiosName name;
    for (std::size_t i = 0; i < NetbiosNameSize; ++i) {
        const std::uint8_t high = wire[1 + 2 * i], low = wire[2 + 2 * i];
        if (high < 'A' || high > 'P' || low < 'A' || low > 'P')
            return std::nullopt;
        name.Bytes[i] = static_cast<std::uint8_t>((high - 'A') << 4 | (low - 'A'));
    }
    return name;
}
