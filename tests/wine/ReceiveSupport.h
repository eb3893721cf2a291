// Support for the receiving and pop-up tests that drive the real tindrel.exe
// (tests/transport/Receive_wine_test.cpp, tests/presentation/Popup_wine_test.cpp):
// the history entries and pop-up boxes of a station, the stamps it may have
// written within a stretch of time (rendered by the platform's own
// formatters, independently of the program), the receipt bytes it writes,
// traps at the paths a forged sender would point a receipt to, and how long
// the station's window takes to answer and its title holds while it works.
#pragma once

#include "tests/wine/Station.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace wine {

// --- History pane and boxes -------------------------------------------------

// A station has polled once, so its mailslot exists and its timer runs. Its
// window and title come before the mailslot: a write any sooner may fail.
inline bool WaitUntilReceiving(const Station &station, int timeoutMs = 10000)
{
    return station.Window() &&
           WaitUntil([&] { return station.Title() == "Zorvanta tindrel..."; }, timeoutMs);
}

// The history entries, newest first; none while the pane shows the help
// text (which, unlike every entry, does not end in CR LF).
inline std::vector<std::string> Entries(const Station &station)
{
    const std::string text = station.HistoryText();
    std::vector<std::string> entries;
    if (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0)
        return entries;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find("\r\n", at);
        entries.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return entries;
}

inline bool WaitForEntries(const Station &station, std::size_t count, int timeoutMs = 5000)
{
    return WaitUntil([&] { return Entries(station).size() >= count; }, timeoutMs, 50);
}

inline bool StartsWith(const std::string &text, const std::string &head)
{
    return text.compare(0, head.size(), head) == 0;
}

inline bool EndsWith(const std::string &text, const std::string &tail)
{
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// What a received entry shows after its stamp.
inline std::string ReceivedRest(const std::string &sender, const std::string &recipient,
                                const std::string &shownText)
{
    return "From:" + sender + ", To:" + recipient + " <<" + shownText + ">>";
}

// What a pop-up box shows for a message.
inline std::string PopupText(const std::string &sender, const std::string &recipient,
                             const std::string &text)
{
    return "From:\t" + sender + "\r\nTo:\t" + recipient + "\r\n\r\n" + text;
}

// Message boxes of the process that announce messages (the exit question is
// a message box too) and are on screen: a box is built hidden, and shown
// once its caption and text are in place.
inline std::vector<Box> PopupsOf(DWORD pid)
{
    std::vector<Box> popups;
    for (Box &box : BoxesOf(pid))
        if (StartsWith(box.Caption, "Message - ") && IsWindowVisible(box.Window))
            popups.push_back(std::move(box));
    return popups;
}

inline std::multiset<std::string> PopupTexts(DWORD pid)
{
    std::multiset<std::string> texts;
    for (const Box &box : PopupsOf(pid))
        texts.insert(box.Text);
    return texts;
}

inline std::size_t CountBoxes(DWORD pid)
{
    return DialogsOf(pid).size();
}

// The pop-ups on screen, for a test that looks at many boxes many times:
// each box's text is asked once (a round trip to the box's own thread) and
// remembered, since it never changes.
class PopupWatch {
public:
    explicit PopupWatch(DWORD pid) : pid_(pid) {}
    std::vector<Box> Now()
    {
        std::vector<Box> popups;
        for (HWND window : DialogsOf(pid_)) {
            const std::string caption = TitleOf(window);
            if (!StartsWith(caption, "Message - ") || !IsWindowVisible(window))
                continue;
            auto known = texts_.find(window);
            if (known == texts_.end())
                known = texts_.emplace(window, BoxText(window)).first;
            popups.push_back({window, caption, known->second});
        }
        return popups;
    }

private:
    DWORD pid_;
    std::map<HWND, std::string> texts_;
};

// Closes every pop-up and waits until none is left.
inline bool CloseAllPopups(DWORD pid, int timeoutMs = 20000)
{
    return WaitUntil(
        [&] {
            const auto popups = PopupsOf(pid);
            for (const Box &box : popups)
                CloseBox(box.Window);
            return popups.empty();
        },
        timeoutMs, 100);
}

// The exit question ("Tindrel"), or null.
inline HWND ExitQuestion(DWORD pid)
{
    for (const Box &box : BoxesOf(pid))
        if (box.Caption == "Tindrel")
            return box.Window;
    return nullptr;
}

// --- Receipts ---------------------------------------------------------------

// The receipt a station of this prefix writes when the recipient of its last
// send was lastRecipient.
inline std::string StationReceipt(const std::string &lastRecipient)
{
    std::string block = UserName() + "@" + ComputerName() + '\0' + lastRecipient + '\0' +
                        "\x03\x04\x03" + std::string(4, '\0');
    block.resize(420, '\0');
    return block;
}

// A receipt as another station, named sender, writes it.
inline std::string ReceiptBlock(const std::string &sender, const std::string &recipient = "")
{
    return MessageBlock(sender, recipient, "\x03\x04\x03");
}

// --- The window while the station works -------------------------------------

// Sends the window a message (WM_NULL) every stepMs from a thread of its
// own and keeps the longest wait for an answer: how long keys, clicks and
// painting would wait. A window of this process that does nothing else is
// asked the same way beside it; its longest wait is the floor of the run,
// what the busy machine (other tests and programs on two cores) adds to any
// answer, as the benchmarks measure their floors.
class AnswerProbe {
public:
    explicit AnswerProbe(HWND window, int stepMs = 20)
    {
        idle_ = std::thread([this] { RunIdleWindow(); });
        WaitUntil([&] { return idleWindow_ != nullptr; }, 10000, 5);
        idleProbe_ = std::thread([this, stepMs] { Probe(idleWindow_, stepMs, idleWorst_); });
        probe_ = std::thread([this, window, stepMs] { Probe(window, stepMs, worst_); });
    }
    ~AnswerProbe() { Stop(); }
    AnswerProbe(const AnswerProbe &) = delete;
    AnswerProbe &operator=(const AnswerProbe &) = delete;

    void Stop()
    {
        stop_ = true;
        for (std::thread *t : {&probe_, &idleProbe_})
            if (t->joinable())
                t->join();
        if (idle_.joinable()) {
            PostThreadMessageA(idleThread_, WM_QUIT, 0, 0);
            idle_.join();
        }
    }
    long long WorstMs() const { return worst_; }
    long long IdleWorstMs() const { return idleWorst_; }
    int Samples() const { return samples_; }
    // How many of the window's answers took longer than ms.
    int SlowerThan(long long ms) const
    {
        const std::lock_guard<std::mutex> hold(lock_);
        return static_cast<int>(
            std::count_if(answers_.begin(), answers_.end(), [&](long long t) { return t > ms; }));
    }
    bool AllAnswered() const { return !failed_; }

private:
    void RunIdleWindow()
    {
        idleThread_ = GetCurrentThreadId();
        MSG msg = {};
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE); // the queue exists before the window
        idleWindow_ = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      nullptr, nullptr);
        while (GetMessageA(&msg, nullptr, 0, 0) > 0)
            DispatchMessageA(&msg);
        DestroyWindow(idleWindow_);
    }
    void Probe(HWND window, int stepMs, std::atomic<long long> &worst)
    {
        while (!stop_) {
            const DWORD start = GetTickCount();
            DWORD_PTR ignored = 0;
            if (!SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &ignored))
                failed_ = true;
            const long long took = static_cast<long long>(GetTickCount() - start);
            if (took > worst)
                worst = took;
            if (&worst == &worst_) {
                ++samples_;
                const std::lock_guard<std::mutex> hold(lock_);
                answers_.push_back(took);
            }
            Sleep(static_cast<DWORD>(stepMs));
        }
    }

    std::atomic<bool> stop_{false}, failed_{false};
    std::atomic<HWND> idleWindow_{nullptr};
    std::atomic<DWORD> idleThread_{0};
    std::atomic<long long> worst_{0}, idleWorst_{0};
    std::atomic<int> samples_{0};
    mutable std::mutex lock_;
    std::vector<long long> answers_;
    std::thread idle_, idleProbe_, probe_;
};

// Reads a window's title every stepMs from the system's copy (which answers
// while the owner's thread is busy) and keeps, for each title, how long it
// was seen in one stretch at the most.
class TitleWatch {
public:
    explicit TitleWatch(HWND window, int stepMs = 10)
        : thread_([this, window, stepMs] {
              std::string last;
              DWORD since = GetTickCount();
              while (!stop_) {
                  char title[512] = {};
                  GetWindowTextA(window, title, sizeof title);
                  const DWORD now = GetTickCount();
                  const std::lock_guard<std::mutex> hold(lock_);
                  if (title != last) {
                      last = title;
                      since = now;
                  }
                  long long &longest = held_[last];
                  longest = std::max(longest, static_cast<long long>(now - since));
                  Sleep(static_cast<DWORD>(stepMs));
              }
          })
    {
    }
    ~TitleWatch() { Stop(); }
    TitleWatch(const TitleWatch &) = delete;
    TitleWatch &operator=(const TitleWatch &) = delete;

    void Stop()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
    }
    // The longest stretch the title was seen, in ms; -1 when never seen.
    long long HeldMs(const std::string &title) const
    {
        const std::lock_guard<std::mutex> hold(lock_);
        const auto found = held_.find(title);
        return found == held_.end() ? -1 : found->second;
    }

private:
    std::atomic<bool> stop_{false};
    mutable std::mutex lock_;
    std::map<std::string, long long> held_;
    std::thread thread_;
};

// --- Writing many datagrams ----------------------------------------------------

// WriteToStation that gives up once the station has ended (see
// drive::WriteToStationWhile).
inline bool WriteWhileRunning(const Station &station, const std::string &bytes)
{
    return WriteToStationWhile(bytes, [&] { return station.Running(); });
}

// Writes datagrams in order from a thread of its own, so that the test can
// watch and close boxes meanwhile; joined at the latest on destruction.
class BackgroundWriter {
public:
    BackgroundWriter(const Station &station, std::vector<std::string> datagrams)
        : thread_([this, &station, all = std::move(datagrams)] {
              for (const std::string &datagram : all) {
                  if (!WriteWhileRunning(station, datagram))
                      return;
                  ++written_;
              }
          })
    {
    }
    ~BackgroundWriter() { Join(); }
    BackgroundWriter(const BackgroundWriter &) = delete;
    BackgroundWriter &operator=(const BackgroundWriter &) = delete;

    // How many were written, once all are, or a write has failed.
    std::size_t Join()
    {
        if (thread_.joinable())
            thread_.join();
        return written_;
    }

private:
    std::atomic<std::size_t> written_{0};
    std::thread thread_;
};

// --- Stamps within a stretch of time ----------------------------------------

inline SYSTEMTIME LocalNow()
{
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    return now;
}

// Every whole second from `from` to `to`, both included (at most ten minutes).
inline std::vector<SYSTEMTIME> SecondsBetween(SYSTEMTIME from, SYSTEMTIME to)
{
    from.wMilliseconds = to.wMilliseconds = 0;
    FILETIME f = {}, t = {};
    SystemTimeToFileTime(&from, &f);
    SystemTimeToFileTime(&to, &t);
    ULARGE_INTEGER at{}, end{};
    at.LowPart = f.dwLowDateTime, at.HighPart = f.dwHighDateTime;
    end.LowPart = t.dwLowDateTime, end.HighPart = t.dwHighDateTime;
    std::vector<SYSTEMTIME> seconds;
    for (int n = 0; at.QuadPart <= end.QuadPart && n < 600; ++n, at.QuadPart += 10000000ULL) {
        FILETIME ft = {at.LowPart, at.HighPart};
        SYSTEMTIME st = {};
        FileTimeToSystemTime(&ft, &st);
        seconds.push_back(st);
    }
    return seconds;
}

namespace detail {
inline std::string DatePicture(const SYSTEMTIME &t, const char *picture)
{
    char text[256] = {};
    GetDateFormatA(GetThreadLocale(), 0, &t, picture, text, sizeof text);
    return text;
}
inline std::string TimeText(const SYSTEMTIME &t)
{
    char text[256] = {};
    GetTimeFormatA(GetThreadLocale(), 0, &t, nullptr, text, sizeof text);
    return text;
}
inline std::string ShortDate(const SYSTEMTIME &t)
{
    char text[256] = {};
    GetDateFormatA(GetThreadLocale(), DATE_SHORTDATE, &t, nullptr, text, sizeof text);
    return text;
}
inline char TimeSeparator()
{
    char sep[8] = {};
    const int n = GetLocaleInfoA(GetThreadLocale(), LOCALE_STIME, sep, sizeof sep);
    return n == 2 ? sep[0] : ':'; // one character and its NUL, or the default
}
} // namespace detail

// The caption of a box for a message handled at t: the locale's short date
// and its time, the time left out on the stroke of midnight.
inline std::string CaptionAt(const SYSTEMTIME &t)
{
    const bool midnight = t.wHour == 0 && t.wMinute == 0 && t.wSecond == 0;
    return "Message - " + detail::ShortDate(t) + (midnight ? "" : " " + detail::TimeText(t));
}

// The head of a received entry: "< hh:mm:ss Dayname dd. Monthname ".
inline std::string ReceivedStampAt(const SYSTEMTIME &t)
{
    const char sep = detail::TimeSeparator();
    char clock[16] = {};
    std::snprintf(clock, sizeof clock, "%02u%c%02u%c%02u", t.wHour, sep, t.wMinute, sep,
                  t.wSecond);
    return "< " + std::string(clock) + " " + detail::DatePicture(t, "dddd") + " " +
           detail::DatePicture(t, "dd") + ". " + detail::DatePicture(t, "MMMM") + " ";
}

// The time of a receipt entry: the locale's time.
inline std::string ReceiptTimeAt(const SYSTEMTIME &t)
{
    return detail::TimeText(t);
}

// True when text is stamp(t) followed by rest for a second t from `from` to `to`.
template <typename Stamp>
bool StampedBetween(const std::string &text, Stamp stamp, const std::string &rest,
                    const SYSTEMTIME &from, const SYSTEMTIME &to)
{
    for (const SYSTEMTIME &t : SecondsBetween(from, to))
        if (text == stamp(t) + rest)
            return true;
    return false;
}

// --- Where a forged sender would point a receipt ------------------------------

// A regular file at the place Wine maps a receipt path to, holding a marker
// block written through that very path: a receipt written there replaces it.
class FileTrap {
public:
    FileTrap(const std::string &target, const std::string &unixFile) : target_(target)
    {
        const std::string dir = unixFile.substr(0, unixFile.rfind('/'));
        RunUnix("/bin/mkdir -p " + dir);
        RunUnix("/usr/bin/touch " + unixFile);
        armed_ = Write(Marker()) && Read() == Marker();
    }
    // The path was reachable, so a receipt could have landed here.
    bool Armed() const { return armed_; }
    bool Untouched() const { return Read() == Marker(); }

private:
    static std::string Marker() { return std::string(420, 'M'); }
    bool Write(const std::string &bytes) const { return WriteBlock(MailslotOf(target_), bytes); }
    std::string Read() const
    {
        return ReadWholeFile(MailslotOf(target_)).value_or("<unreadable>");
    }
    std::string target_;
    bool armed_ = false;
};

// A named pipe server listening where a receipt to a sender such as
// ".\pipe\x" would be written; it counts every client that connects.
class PipeTrap {
public:
    explicit PipeTrap(const std::string &target)
        : path_(MailslotOf(target)), event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
          pipe_(CreateNamedPipeA(path_.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                                 PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr))
    {
        if (!pipe_ || !Listen())
            return;
        // A client of our own proves that the path reaches this server.
        if (!Opens(path_))
            return;
        armed_ = Connected(2000);
        DisconnectNamedPipe(pipe_.get());
        armed_ = armed_ && Listen();
    }
    ~PipeTrap()
    {
        if (pipe_)
            CancelIo(pipe_.get());
    }
    PipeTrap(const PipeTrap &) = delete;
    PipeTrap &operator=(const PipeTrap &) = delete;

    bool Armed() const { return armed_; }
    bool Untouched() const { return !Connected(0); }

private:
    bool Listen()
    {
        ResetEvent(event_.get());
        overlapped_ = {};
        overlapped_.hEvent = event_.get();
        if (ConnectNamedPipe(pipe_.get(), &overlapped_))
            return true;
        const DWORD error = GetLastError();
        if (error == ERROR_PIPE_CONNECTED)
            SetEvent(event_.get());
        return error == ERROR_IO_PENDING || error == ERROR_PIPE_CONNECTED;
    }
    bool Connected(DWORD waitMs) const
    {
        return WaitForSingleObject(event_.get(), waitMs) == WAIT_OBJECT_0;
    }

    std::string path_;
    EventHandle event_; // outlives the pipe, whose pending connect signals it
    FileHandle pipe_;
    OVERLAPPED overlapped_{};
    bool armed_ = false;
};

} // namespace wine
