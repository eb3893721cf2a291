// Reading and appending the fixed-width integers of the codec's packets:
// big-endian for NetBIOS (RFC 1002 4), little-endian for SMB (MS-CIFS 2.1).
// Readers take an offset the caller has already checked against the size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

inline std::uint16_t ReadBig16(const std::uint8_t *p, std::size_t at)
{
    return static_cast<std::uint16_t>(p[at] << 8 | p[at + 1]);
}

inline std::uint32_t ReadBig32(const std::uint8_t *p, std::size_t at)
{
    return static_cast<std::uint32_t>(ReadBig16(p, at)) << 16 | ReadBig16(p, at + 2);
}

inline std::uint16_t ReadLittle16(const std::uint8_t *p, std::size_t at)
{
    return static_cast<std::uint16_t>(p[at] | p[at + 1] << 8);
}

inline void PutBig16(std::vector<std::uint8_t> &out, std::uint16_t v)
{
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

inline void PutBig32(std::vector<std::uint8_t> &out, std::uint32_t v)
{
    PutBig16(out, static_cast<std::uint16_t>(v >> 16));
    PutBig16(out, static_cast<std::uint16_t>(v));
}

inline void PutLittle16(std::vector<std::uint8_t> &out, std::uint16_t v)
{
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
