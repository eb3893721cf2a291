// Waiting for a child known by a pidfd. A pidfd names one process for as
// long as it is open: a wait or a signal through it can never reach another
// process that took the same ID after this one was reaped.
#pragma once

#include <cerrno>
#include <poll.h>
#include <sys/wait.h>

// glibc 2.36 declares these without C linkage (2.37 mends it).
extern "C" {
#include <sys/pidfd.h>
}

// P_PIDFD (Linux 5.4); glibc 2.36 does not name it yet.
constexpr idtype_t PidfdIdType = static_cast<idtype_t>(3);

// Reaps the child if it ends within `ms` (-1: however long it takes); false
// while it still runs. A child that something else reaped counts as ended,
// with `info` zero.
inline bool ReapWithin(int pidfd, int ms, siginfo_t &info)
{
    info = {};
    pollfd ended{pidfd, POLLIN, 0};
    while (poll(&ended, 1, ms) < 0) {
        if (errno != EINTR)
            return true;
    }
    if (!(ended.revents & POLLIN))
        return false;
    while (waitid(PidfdIdType, static_cast<id_t>(pidfd), &info, WEXITED) < 0 && errno == EINTR) {
    }
    return true;
}
