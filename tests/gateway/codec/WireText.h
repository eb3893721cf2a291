// Packets as the tests state them: hex text, repeats and concatenation, so
// that an expected packet is written out byte by byte rather than rebuilt by
// code that mirrors the builder.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

using Wire = std::vector<std::uint8_t>;

// "20 45 4a" -> {0x20, 0x45, 0x4a}; spaces and line breaks are ignored.
inline Wire Hex(std::string_view text)
{
    Wire out;
    int high = -1;
    for (char c : text) {
        int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
        if (digit < 0)
            continue;
        if (high < 0) {
            high = digit;
        } else {
            out.push_back(static_cast<std::uint8_t>(high << 4 | digit));
            high = -1;
        }
    }
    return out;
}

inline Wire Times(const Wire &part, int count)
{
    Wire out;
    for (int i = 0; i < count; ++i)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

inline Wire operator+(Wire a, const Wire &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// ALICE<03> and BOB<03> in wire form (RFC 1001 14.1).
inline Wire AliceWire() { return Hex("20 45 42 45 4d 45 4a 45 44 45 46") + Times(Hex("43 41"), 10) + Hex("41 44 00"); }
inline Wire BobWire() { return Hex("20 45 43 45 50 45 43") + Times(Hex("43 41"), 12) + Hex("41 44 00"); }

// `wire` with the bytes from `at` on replaced by `bytes` (growing it if need be).
inline Wire Patched(Wire wire, std::size_t at, const Wire &bytes)
{
    if (wire.size() < at + bytes.size())
        wire.resize(at + bytes.size());
    std::copy(bytes.begin(), bytes.end(), wire.begin() + static_cast<std::ptrdiff_t>(at));
    return wire;
}

inline Wire Cut(const Wire &wire, std::size_t size) { return Wire(wire.begin(), wire.begin() + static_cast<std::ptrdiff_t>(size)); }
