// What a station shows of what it receives, read from outside: its history
// entries, its message pop-ups and its exit question; and the ways a test
// puts messages through it: written into its mailslot, many from a thread
// of their own, or sent from its window.
#pragma once

#include "tests/wine/Station.h"

#include <atomic>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace wine {

constexpr WPARAM IdmClose = 17409, IdmHide = 17410; // the rewired system menu

inline bool StartsWith(const std::string &text, const std::string &head)
{
    return text.compare(0, head.size(), head) == 0;
}

inline bool EndsWith(const std::string &text, const std::string &tail)
{
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Bytes as a 420-byte block carries them, NUL to the end.
std::string Padded(std::string bytes);

// The station has polled once, so its mailslot exists and its timer runs.
bool WaitUntilReceiving(const Station &station, int timeoutMs = 10000);

// The history entries, newest first; none while the pane shows the help text.
std::vector<std::string> Entries(const Station &station);
bool WaitForEntries(const Station &station, std::size_t count, int timeoutMs = 5000);
// The entries oldest first, as written, each received one without its
// stamp; other entries as they stand.
std::vector<std::string> Logged(const Station &station);

// The message pop-ups on screen. Each box's text is asked once (a round trip
// to the box's own thread) and remembered, since it never changes: a watch
// kept by a test that looks at many boxes many times.
class PopupWatch {
public:
    explicit PopupWatch(DWORD pid) : pid_(pid) {}
    std::vector<Box> Now();

private:
    DWORD pid_;
    std::map<HWND, std::string> texts_;
};

std::vector<Box> PopupsOf(DWORD pid);
std::multiset<std::string> PopupTexts(DWORD pid);
// Closes every pop-up and waits until none is left.
bool CloseAllPopups(DWORD pid, int timeoutMs = 20000);

// The exit question ("Tindrel") once it is on screen, or null after timeoutMs.
HWND ExitQuestion(DWORD pid, int timeoutMs = 10000);

// Fills both fields and clicks Send; returns once the station has sent.
void SendFromWindow(const Station &station, const std::string &recipient,
                    const std::string &text);
void ClickSend(const Station &station);

// WriteToStation that gives up once the station has ended.
bool WriteWhileRunning(const Station &station, const std::string &bytes);

// Writes datagrams in order from a thread of its own, so that the test can
// watch and close boxes meanwhile; joined at the latest on destruction.
class BackgroundWriter {
public:
    BackgroundWriter(const Station &station, std::vector<std::string> datagrams);
    ~BackgroundWriter() { Join(); }
    BackgroundWriter(const BackgroundWriter &) = delete;
    BackgroundWriter &operator=(const BackgroundWriter &) = delete;

    // How many were written, once all are or a write has failed.
    std::size_t Join();

private:
    std::atomic<std::size_t> written_{0};
    std::thread thread_;
};

} // namespace wine
