// The cap on open pop-up boxes. Every open box costs a thread, a desktop
// heap share and, under Wine, a connection to the X server, whose limit ends
// the whole process when a flood of messages opens boxes without bound. So
// at most a fixed number are open; later pop-ups wait in order and are shown
// as boxes close. Boxes also open one at a time, a short interval apart:
// under Wine many threads opening boxes at the same moment now and then
// corrupt the process's heap. Pure logic with its own lock: admitted on the
// window's thread, released on the pop-up threads. Used by
// presentation/MessageuT.
#pragma once

#include <cstddef>
#include <cstdint>
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
    // Boxes open at least openingIntervalMs apart.
    PopupQueue(std::size_t limit, std::uint64_t openingIntervalMs)
        : limit_(limit), interval_(openingIntervalMs)
    {
    }

    // The pop-up back when a box may open for it now (it is counted open),
    // none when it has to wait.
    std::optional<Popup> Admit(Popup popup);

    // A box has closed: the next waiting pop-up, which takes over its place,
    // or none, and the place is free.
    std::optional<Popup> Next();

    // A box that was admitted could not be opened: its place is free.
    void Abandon();

    // A box is about to open at nowMs (a clock that only moves forward): how
    // many milliseconds it waits for its turn, which it takes.
    std::uint64_t OpeningDelay(std::uint64_t nowMs);

    std::size_t Open() const;
    std::size_t Waiting() const;

private:
    // A waiting pop-up is kept as one string, caption NUL text: a flood can
    // leave thousands waiting behind the open boxes, and one allocation
    // each instead of two keeps that near the size of their texts.
    static std::string Packed(Popup popup);
    static Popup Unpacked(std::string packed);

    const std::size_t limit_;
    const std::uint64_t interval_;
    mutable std::mutex lock_;
    std::size_t open_ = 0;
    std::uint64_t nextOpening_ = 0;
    std::deque<std::string> waiting_;
};
