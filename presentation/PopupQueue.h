// The cap on open pop-up boxes. Every open box costs a thread, a desktop
// heap share and, under Wine, a connection to the X server, whose limit ends
// the whole process when a flood of messages opens boxes without bound. So
// at most a fixed number are open; later pop-ups wait in order and are shown
// as boxes close. Pure logic with its own lock: admitted on the window's
// thread, released on the pop-up threads. Used by presentation/MessageuT.
#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

struct Popup {
    std::string Caption;  // fixed when the message was handled
    std::string Text;
};

class PopupQueue {
public:
    explicit PopupQueue(std::size_t limit) : limit_(limit) {}

    // The pop-up back when a box may open for it now (it is counted open),
    // none when it has to wait.
    std::optional<Popup> Admit(Popup popup);

    // A box has closed: the next waiting pop-up, which takes over its place,
    // or none, and the place is free.
    std::optional<Popup> Next();

    // A box that was admitted could not be opened: its place is free.
    void Abandon();

    std::size_t Open() const;
    std::size_t Waiting() const;

private:
    const std::size_t limit_;
    mutable std::mutex lock_;
    std::size_t open_ = 0;
    std::deque<Popup> waiting_;
};
