// Waiting for what a station does at its own pace: polling a condition
// until it holds or the time is up.
#pragma once

#include <functional>

namespace drive {

// Polls until done() or the time is up; true when done() held. The default
// is generous: two tests share two cores with whatever else the machine runs.
bool WaitUntil(const std::function<bool()> &done, int timeoutMs = 10000, int stepMs = 20);

} // namespace drive
