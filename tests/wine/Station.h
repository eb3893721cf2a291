// Test support for driving the real tindrel.exe from outside, inside the
// Wine prefix the test runs in (one prefix per test, see scripts/wine-exec.sh):
// starting and ending stations, reading and setting their controls, writing
// datagrams into the local mailslot, catching what a station writes to
// \\NAME\mailslot\messngr, and watching its pop-up boxes.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace wine {

// Polls until done() or the time is up; true when done() held.
bool WaitUntil(const std::function<bool()> &done, int timeoutMs = 5000, int stepMs = 20);

// Windows path of the tindrel.exe under test.
std::string StationExe();

// The computer and user name of this prefix, as every station started
// without other names reports them.
std::string ComputerName();
std::string UserName();

// Text of any window, by WM_GETTEXT (waits for the owner's thread).
std::string TextOf(HWND window);
void SetTextOf(HWND window, const std::string &text);
RECT ClientRectInParent(HWND child);
bool IsShown(HWND window);

struct Launch {
    std::string Arguments;                     // after the program's name
    std::map<std::string, std::string> Env;    // overrides, e.g. {"USER", "alice"}
    bool WaitForWindow = true;
};

// One running tindrel.exe. Ends it on destruction if it still runs.
class Station {
public:
    explicit Station(const Launch &launch = {});
    ~Station();
    Station(const Station &) = delete;
    Station &operator=(const Station &) = delete;

    DWORD Pid() const { return process_.dwProcessId; }
    HWND Window() const { return window_; }
    HWND Recipient() const { return controls_.at(0); }
    HWND Message() const { return controls_.at(1); }
    HWND History() const { return controls_.at(2); }
    HWND SendButton() const { return controls_.at(3); }
    HWND HideButton() const { return controls_.at(4); }
    const std::vector<HWND> &Controls() const { return controls_; }

    std::string Title() const;
    std::string HistoryText() const { return TextOf(History()); }
    bool Running() const;
    bool WaitForExit(int timeoutMs);
    DWORD ExitCode() const;

    // Lets the station's thread handle what is queued: sent messages
    // round-trip, then a short pause for posted ones.
    void Settle(int pauseMs = 150) const;

    // Post a message to the main window's queue (as keys and menus arrive).
    void Post(UINT message, WPARAM wParam, LPARAM lParam = 0) const;
    void PostTo(HWND window, UINT message, WPARAM wParam, LPARAM lParam = 0) const;
    void Type(HWND control, const std::string &keys) const; // WM_CHAR per byte
    void PressKey(HWND control, UINT vk) const;             // WM_KEYDOWN then WM_KEYUP
    HWND Focus() const;

private:
    PROCESS_INFORMATION process_{};
    HWND window_ = nullptr;
    std::vector<HWND> controls_;
};

// Finds the main window of a process, or null.
HWND FindStationWindow(DWORD pid);

// Runs tindrel.exe with arguments to its end; its exit code, or
// STILL_ACTIVE when it did not end in time (it is then killed).
DWORD RunToEnd(const Launch &launch, int timeoutMs = 15000);

// Writes bytes as one datagram into this prefix's \\.\mailslot\messngr.
bool WriteToStation(const std::string &bytes);
// An ordinary message block as another station would write it.
std::string MessageBlock(const std::string &sender, const std::string &recipient,
                         const std::string &text);

// What stations write to \\NAME\mailslot\messngr, caught in a FIFO at the
// path Wine maps that name to. Blocks are split at 420 bytes.
class MailslotSink {
public:
    explicit MailslotSink(const std::string &name);
    ~MailslotSink();
    MailslotSink(const MailslotSink &) = delete;
    MailslotSink &operator=(const MailslotSink &) = delete;

    std::vector<std::string> Blocks() const;
    bool WaitForBlocks(std::size_t count, int timeoutMs = 5000) const;

private:
    void Reader();
    HANDLE fifo_ = INVALID_HANDLE_VALUE;
    std::string unixPath_;
    mutable std::mutex lock_;
    std::string bytes_;
    bool stop_ = false;
    std::thread reader_;
};

struct Box {
    HWND Window;
    std::string Caption;
    std::string Text;
};
// Every message box (dialog class #32770) of a process.
std::vector<Box> BoxesOf(DWORD pid);
void CloseBox(HWND box);

// The Unix path under which Wine keeps the prefix's UNC names.
std::string UncRoot();
// Runs a Unix program from the test, e.g. {"/usr/bin/mkfifo", path}.
bool RunUnix(const std::string &commandLine);

} // namespace wine
