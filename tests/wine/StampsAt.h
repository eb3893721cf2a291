// The stamps a station may have written within a stretch of time, rendered
// by the platform's own formatters for the thread locale, independently of
// the program: the caption of a pop-up, the head of a received entry, the
// time of a receipt entry.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace wine {

SYSTEMTIME LocalNow();
// Every whole second from `from` to `to`, both included (at most ten minutes).
std::vector<SYSTEMTIME> SecondsBetween(SYSTEMTIME from, SYSTEMTIME to);

// "Message - " and the short date and time, the time left out at midnight.
std::string CaptionAt(const SYSTEMTIME &t);
// "< hh:mm:ss Dayname dd. Monthname ".
std::string ReceivedStampAt(const SYSTEMTIME &t);
// The locale's time.
std::string ReceiptTimeAt(const SYSTEMTIME &t);

// True when text is stamp(t) followed by rest for a second t from `from` to `to`.
bool StampedBetween(const std::string &text, const std::function<std::string(const SYSTEMTIME &)> &stamp,
                    const std::string &rest, const SYSTEMTIME &from, const SYSTEMTIME &to);

} // namespace wine
