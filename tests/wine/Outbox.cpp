// See Outbox.h.
#include "tests/wine/Outbox.h"

#include <algorithm>

namespace wine {

namespace {
// No station writes a block that starts with 0xFF and holds no NUL.
const std::string Marker(BlockSize, '\xFF');
} // namespace

std::vector<std::string> Outbox::Blocks() const
{
    std::vector<std::string> blocks = sink_.Blocks();
    blocks.erase(std::remove(blocks.begin(), blocks.end(), Marker), blocks.end());
    return blocks;
}

bool Outbox::WaitForBlocks(std::size_t count, int timeoutMs) const
{
    return WaitUntil([&] { return Blocks().size() >= count; }, timeoutMs);
}

std::optional<std::vector<std::string>> Outbox::Settled() const
{
    const auto markers = [&] {
        const auto all = sink_.Blocks();
        return std::count(all.begin(), all.end(), Marker);
    };
    const auto before = markers();
    if (!WriteBlock(MailslotOf(name_), Marker) ||
        !WaitUntil([&] { return markers() > before; }))
        return std::nullopt;
    return Blocks();
}

} // namespace wine
