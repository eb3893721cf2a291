// What stations write to one name, caught as MailslotSink catches it, with a
// count that is known to be final: the FIFO keeps order, so a marker block
// written behind the station's blocks comes out after all of them.
#pragma once

#include "tests/wine/Station.h"

#include <optional>
#include <string>
#include <vector>

namespace wine {

class Outbox {
public:
    explicit Outbox(const std::string &name) : name_(name), sink_(name) {}

    // The blocks caught so far, markers left out.
    std::vector<std::string> Blocks() const;
    bool WaitForBlocks(std::size_t count, int timeoutMs = 10000) const;
    // Every block written to the name before the call; none when the
    // marker did not come through.
    std::optional<std::vector<std::string>> Settled() const;

private:
    std::string name_;
    MailslotSink sink_;
};

} // namespace wine
