// The pop-up boxes that announce received messages, each on a thread of its
// own so that the window's thread goes on polling, sending and painting.
// Called by transport/Receive on the window's thread.
#pragma once

#include <cstddef>
#include <string>

// At most this many boxes are open at once; the rest wait their turn.
constexpr std::size_t MaxOpenPopups = 100;

// Caption "Message - " and the date and time of now, then ShowPopupThreaded.
void ShowIncoming(const std::string &text);

// Shows a system-modal warning box with OK, owned by no window, on a new
// thread, or once a box closes when MaxOpenPopups are open; returns at once.
void ShowPopupThreaded(const std::string &text, const std::string &caption);
