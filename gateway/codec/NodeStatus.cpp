#include "gateway/codec/NodeStatus.h"

#include "gateway/codec/WireBytes.h"

#include <algorithm>

namespace {

std::size_t Count(const NodeStatus &status) { return std::min(status.Names.size(), StatusNamesLimit); }

} // namespace

std::size_t NodeStatusSize(const NodeStatus &status)
{
    return 1 + StatusEntrySize * Count(status) + StatisticsSize;
}

void PutNodeStatus(std::vector<std::uint8_t> &out, const NodeStatus &status)
{
    const std::size_t count = Count(status);
    out.push_back(static_cast<std::uint8_t>(count));
    for (std::size_t i = 0; i < count; ++i) {
        const StatusEntry &e = status.Names[i];
        out.insert(out.end(), e.Name.Bytes.begin(), e.Name.Bytes.end());
        PutBig16(out, e.Flags);
    }
    out.insert(out.end(), status.Unit.begin(), status.Unit.end());
    out.insert(out.end(), StatisticsSize - status.Unit.size(), 0);
}

bool ReadNodeStatus(const std::uint8_t *rdata, std::size_t size, NodeStatus &out)
{
    if (size < 1)
        return false;
    const std::size_t count = rdata[0];
    if (size < 1 + StatusEntrySize * count + StatisticsSize)
        return false;
    NodeStatus status;
    status.Names.resize(count);
    const std::uint8_t *at = rdata + 1;
    for (StatusEntry &e : status.Names) {
        std::copy_n(at, NetbiosNameSize, e.Name.Bytes.begin());
        e.Flags = ReadBig16(at, NetbiosNameSize);
        at += StatusEntrySize;
    }
    std::copy_n(at, status.Unit.size(), status.Unit.begin());
    out = std::move(status);
    return true;
}
