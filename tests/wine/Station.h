// Test support for driving the real tindrel.exe from outside, inside the
// Wine prefix the test runs in (one prefix per test, see scripts/wine-exec.sh):
// starting and ending stations and driving their queues, and catching what
// a station writes to \\NAME\mailslot\messngr. Windows, texts, boxes and
// mailslot writes come from tests/drive, which the soak, the bench and
// lanpeek share; Unix programs next to the station from UnixBridge.h.
#pragma once

#include "platform/Handles.h"
#include "tests/drive/Files.h"
#include "tests/drive/Mailslot.h"
#include "tests/drive/Popups.h"
#include "tests/drive/Processes.h"
#include "tests/drive/StationWindow.h"
#include "tests/drive/Wait.h"
#include "tests/wine/UnixBridge.h"

#include <windows.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace wine {

using namespace drive;

// Windows and Unix path of the tindrel.exe under test: $TINDREL_STATION_EXE
// when set (a Unix path), otherwise the one of this build.
std::string StationExe();
std::string StationExeUnixPath();
// Whether it is a 64-bit program; none when it is no 32-bit or 64-bit
// Windows program that can be read.
std::optional<bool> StationIs64Bit();

// The computer and user name of this prefix, as every station started
// without other names reports them.
std::string ComputerName();
std::string UserName();

bool IsShown(HWND window);

struct Launch {
    std::string Arguments; // after the program's name
    // Variables for the station's environment, e.g. {"USER", "alice"}.
    // Wine takes the user name from the Unix USER variable of each process,
    // which no Windows environment block changes; so a launch with Env runs
    // "env NAME=value wine tindrel.exe Arguments" through /bin/sh. The
    // Arguments then pass through the shell: plain words and "double-quoted
    // stretches" arrive as written, other quoting may not. USER="" (or a
    // USER of more than 64 bytes) leaves the station with no user name from
    // either source: GetUserNameA and WNetGetUserA both fail then.
    std::map<std::string, std::string> Env;
    bool WaitForWindow = true;
};

// One running tindrel.exe. Constructed once its start-up is over (with
// Launch::WaitForWindow): its window is up and its main loop runs, so its
// mailslot is open when it could take it. Ends it on destruction if it still
// runs.
// Start one station at a time: a launch with Env finds its process as the
// tindrel.exe that was not there before.
class Station {
public:
    explicit Station(const Launch &launch = {});
    ~Station();
    Station(const Station &) = delete;
    Station &operator=(const Station &) = delete;

    DWORD Pid() const { return process_.Pid; }
    DWORD ThreadId() const; // the thread that owns the main window
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

    // True once the station's thread has taken from its queue and handled
    // everything posted to it before the call. It posts BM_SETSTATE to the
    // Hide button as a marker, waits until the button shows it, and takes it
    // back. The marker is a queued message: with the F11 trace on, the pane
    // shows its trace line (MSG 000000F3) afterwards. Not for a station
    // held in a write to a full FIFO: Wine 8 then lets a message sent to
    // its thread wait past any timeout.
    bool WaitUntilHandled(int timeoutMs = 10000) const;

    // WaitUntilHandled twice: the second round also covers what the station
    // posted to itself while handling the first (the close command that
    // Alt+F4 queues, a poll's follow-up read).
    bool Settle() const;

    // Posts the poll timer's message (WM_TIMER 1) and waits until it is
    // handled: a look into the mailslot now rather than at the next tick.
    bool Poll() const;

    // Post a message to the main window's queue (as keys and menus arrive).
    void Post(UINT message, WPARAM wParam, LPARAM lParam = 0) const;
    void PostTo(HWND window, UINT message, WPARAM wParam, LPARAM lParam = 0) const;
    void Type(HWND control, const std::string &keys) const; // WM_CHAR per byte
    void PressKey(HWND control, UINT vk) const;             // WM_KEYDOWN then WM_KEYUP
    HWND Focus() const;

private:
    Child process_;
    std::string doneMarker_; // launches through /bin/sh: written at the end
    HWND window_ = nullptr;
    std::vector<HWND> controls_;
};

// Runs tindrel.exe with arguments to its end; its exit code, or
// STILL_ACTIVE when it did not end in time (it is then killed). A start
// under Wine on a loaded machine has been seen to take over 15 s.
DWORD RunToEnd(const Launch &launch, int timeoutMs = 30000);

// A message text as a station of this prefix signs it when it sends:
// text, CR LF TAB, user, "@", computer name.
std::string SignedText(const std::string &text, const std::string &user = UserName());

// The first line of a text, without its CR LF.
std::string FirstLine(const std::string &text);
// Splits a history entry into its stamp, "L hh:mm:ss Day dd. Month " with
// L the lead character ('>' sent, '<' received), and the rest. False when
// the entry does not start with a stamp of that shape.
bool SplitStamp(const std::string &entry, char lead, std::string &stamp, std::string &rest);
// The newest history entry after its sent-entry stamp.
std::string NewestSentBody(const Station &station);
// A message from alice written into the local mailslot reaches the station:
// its box comes up (and is closed again) and its line is logged. It still
// owns and reads its mailslot.
bool Receives(const Station &station, const std::string &text);

// What stations write to \\NAME\mailslot\messngr, caught in a FIFO at the
// path Wine maps that name to. Blocks are split at 420 bytes.
class MailslotSink {
public:
    explicit MailslotSink(const std::string &name);
    ~MailslotSink();

    // What the reader has taken so far.
    std::vector<std::string> Blocks() const;
    bool WaitForBlocks(std::size_t count, int timeoutMs = 10000) const;
    // Every block written before the call: the sink writes a mark behind
    // them and waits until the reader has taken it (a FIFO keeps order, and
    // a write of one block is never split). For "nothing more was written"
    // once the writer has ended or handled its send, without a pause.
    std::vector<std::string> BlocksUpToNow();

private:
    std::string unixPath_;
    mutable std::mutex lock_;
    std::string bytes_;
    int marksWritten_ = 0, marksTaken_ = 0;
    std::unique_ptr<FifoReader> reader_;
};

} // namespace wine
