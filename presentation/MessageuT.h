// The pop-up boxes that announce received messages, each on a thread of its
// own so that the window's thread goes on polling, sending and painting.
// Called by transport/Receive on the window's thread.
#pragma once

#include <cstddef>
#include <string>

// At most this many boxes are open at once; the rest wait their turn.
constexpr std::size_t MaxOpenPopups = 100;

// Queues a pop-up with the caption "Message - " and the date and time of
// now. Its box opens at the next ShowWaitingPopups, or when an open box
// closes and it is the oldest waiting.
void ShowIncoming(const std::string &text);

// Opens a box for each waiting pop-up, oldest first, while fewer than
// MaxOpenPopups are open. Returns at once.
void ShowWaitingPopups();
