// Traps at the places a forged sender would point a receipt to: a file
// where Wine maps the path, or a named pipe server. Each is armed only once
// a write of the test's own has reached it, so an untouched trap means
// something.
#pragma once

#include "platform/Handles.h"

#include <windows.h>

#include <string>

namespace wine {

// A regular file where Wine maps the receipt path to target, holding a
// marker block written through that very path: a receipt replaces it.
class FileTrap {
public:
    FileTrap(const std::string &target, const std::string &unixFile);
    bool Armed() const { return armed_; }
    bool Untouched() const;

private:
    std::string path_;
    bool armed_ = false;
};

// A named pipe server where a receipt to a sender such as ".\pipe\x" would
// go; it notes every client that connects.
class PipeTrap {
public:
    explicit PipeTrap(const std::string &target);
    ~PipeTrap();
    PipeTrap(const PipeTrap &) = delete;
    PipeTrap &operator=(const PipeTrap &) = delete;

    bool Armed() const { return armed_; }
    bool Untouched() const { return !Connected(0); }

private:
    bool Listen();
    bool Connected(DWORD waitMs) const;

    std::string path_;
    EventHandle event_; // outlives the pipe, whose pending connect signals it
    FileHandle pipe_;
    OVERLAPPED overlapped_{};
    bool armed_ = false;
};

} // namespace wine
