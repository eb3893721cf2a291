// A trap at a place a forged sender would point a receipt to: a file where
// Wine maps the path (the named pipe server is drive::PipeTrap). It is armed
// only once a write of the test's own has reached it, so an untouched trap
// means something.
#pragma once

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

} // namespace wine
