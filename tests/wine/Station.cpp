// See Station.h.
#include "tests/wine/Station.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <set>

namespace wine {

namespace {
// A station started by a Windows parent: exact command line and a real
// process handle.
bool StartDirectly(const Launch &launch, Child &process)
{
    std::string command = "\"" + StationExe() + "\"";
    if (!launch.Arguments.empty())
        command += " " + launch.Arguments;
    return StartProgram(command, process);
}

// The Wine loader for the station. With wine32 installed, Debian's `wine`
// runs the 32-bit loader, which hands a 64-bit program on to wine64 and so
// now and then leaves a short-lived process of the station's name first:
// start a 64-bit station with wine64 at once.
std::string LoaderFor(bool is64Bit)
{
    const std::string wine64 = "/usr/lib/wine/wine64";
    if (is64Bit && FileExists(WindowsPathOf(wine64)))
        return wine64;
    return "wine";
}

// A station started from Unix with its own environment (see Launch::Env).
// Finds its process as the tindrel.exe that was not there before; the
// process handle stays null when it ended before it was seen.
bool StartThroughShell(const Launch &launch, Child &process, std::string &marker)
{
    std::string body = "/usr/bin/env";
    for (const auto &[name, value] : launch.Env)
        body += " " + ShellQuoted(name + "=" + value);
    body += " " + LoaderFor(StationIs64Bit().value_or(false)) + " " +
            ShellQuoted(StationExeUnixPath());
    if (!launch.Arguments.empty())
        body += " " + launch.Arguments;
    const std::set<unsigned long> before = ProcessesNamed("tindrel.exe");
    UnixScript script(body);
    if (!script.Start())
        return false;
    WaitUntil(
        [&] {
            for (unsigned long pid : ProcessesNamed("tindrel.exe"))
                if (!before.count(pid)) {
                    process.Pid = pid;
                    process.Process = OpenProcessById(pid);
                    return true;
                }
            return script.Done();
        },
        20000, 5);
    marker = script.TakeMarker();
    return true;
}

} // namespace

std::string StationExe()
{
    return WindowsPathOf(StationExeUnixPath());
}

std::string StationExeUnixPath()
{
    // Set per test by tests/CMakeLists.txt to drive the 32-bit build.
    const char *chosen = std::getenv("TINDREL_STATION_EXE");
    return chosen && *chosen ? chosen : TINDREL_EXE_UNIX_PATH;
}

std::optional<bool> StationIs64Bit()
{
    DWORD type = 0;
    if (!GetBinaryTypeA(StationExe().c_str(), &type) ||
        (type != SCS_32BIT_BINARY && type != SCS_64BIT_BINARY))
        return std::nullopt;
    return type == SCS_64BIT_BINARY;
}

namespace {
// Where the kernel runs no 32-bit programs (wine-exec.sh tells), the tests
// of a 32-bit station cannot start it: each is skipped, saying why, rather
// than failing on a fault that is not the program's.
class No32BitStation : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (std::getenv("TINDREL_NO_32BIT") && !StationIs64Bit().value_or(true))
            GTEST_SKIP() << "this machine runs no 32-bit programs (its kernel's ia32 emulation is off)";
    }
};
[[maybe_unused]] ::testing::Environment *const no32Bit = ::testing::AddGlobalTestEnvironment(new No32BitStation);
} // namespace

std::string ComputerName()
{
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    GetComputerNameA(name, &size);
    return name;
}

std::string UserName()
{
    char name[256] = {};
    DWORD size = sizeof name;
    GetUserNameA(name, &size);
    return name;
}

bool IsShown(HWND window)
{
    return (GetWindowLongA(window, GWL_STYLE) & WS_VISIBLE) != 0;
}

Station::Station(const Launch &launch)
{
    const bool started = launch.Env.empty() ? StartDirectly(launch, process_)
                                            : StartThroughShell(launch, process_, doneMarker_);
    if (!started) {
        std::fprintf(stderr, "station: not started, error %lu\n", GetLastError());
        return;
    }
    if (!launch.WaitForWindow || !process_.Pid)
        return;
    // Wait for the window and its five controls, and for the start-up to
    // have set its title.
    const DWORD startedAt = GetTickCount();
    WaitUntil(
        [&] {
            window_ = FindStationWindow(process_.Pid);
            if (!window_)
                return !Running();
            controls_ = ControlsOf(window_);
            return controls_.size() == 5 && TitledAsStation(window_);
        },
        20000);
    if (!window_ && !Running()) {
        // The tests only see a missing window; say how the station ended.
        std::fprintf(stderr, "station: no window; the process ended after %lu ms with status 0x%08lx\n",
                     GetTickCount() - startedAt, ExitCode());
        return;
    }
    // The station titles its window before it opens its mailslot: once its
    // main loop has handled a marker, the start-up is over.
    WaitUntilHandled();
}

Station::~Station()
{
    EndProcess(process_.Process, 99, 5000);
    if (!doneMarker_.empty()) {
        // The shell writes the marker right after the station's end.
        WaitUntil([&] { return FileExists(doneMarker_); }, 2000);
        DeleteFileA(doneMarker_.c_str());
    }
}

DWORD Station::ThreadId() const
{
    return window_ ? GetWindowThreadProcessId(window_, nullptr) : process_.ThreadId;
}

std::string Station::Title() const
{
    return TitleOf(window_);
}

bool Station::Running() const
{
    if (process_.Process)
        return drive::Running(process_.Process);
    // Seen but not opened: started through the shell, it runs until the
    // shell writes its marker.
    return process_.Pid && !doneMarker_.empty() && !FileExists(doneMarker_);
}

bool Station::WaitForExit(int timeoutMs)
{
    if (process_.Process)
        return WaitForEnd(process_.Process, timeoutMs);
    return !doneMarker_.empty() && WaitUntil([&] { return FileExists(doneMarker_); }, timeoutMs);
}

DWORD Station::ExitCode() const
{
    DWORD code = STILL_ACTIVE;
    if (process_.Process)
        code = ExitCodeOf(process_.Process);
    else if (MarkerStatus(doneMarker_) >= 0)
        code = static_cast<DWORD>(MarkerStatus(doneMarker_));
    return code;
}

bool Station::WaitUntilHandled(int timeoutMs) const
{
    if (controls_.size() < 5)
        return false;
    const HWND marker = HideButton();
    const auto pushed = [&] {
        DWORD_PTR state = 0;
        return SendMessageTimeoutA(marker, BM_GETSTATE, 0, 0, SMTO_NORMAL, 1000, &state) &&
               (state & BST_PUSHED) != 0;
    };
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(marker, BM_SETSTATE, FALSE, 0, SMTO_NORMAL, 10000, &ignored);
    if (!PostMessageA(marker, BM_SETSTATE, TRUE, 0))
        return false;
    bool seen = false;
    WaitUntil([&] { return (seen = pushed()) || !Running(); }, timeoutMs, 2);
    SendMessageTimeoutA(marker, BM_SETSTATE, FALSE, 0, SMTO_NORMAL, 10000, &ignored);
    return seen;
}

bool Station::Settle() const
{
    return WaitUntilHandled() && WaitUntilHandled();
}

bool Station::Poll() const
{
    Post(WM_TIMER, 1);
    return WaitUntilHandled();
}

void Station::Post(UINT message, WPARAM wParam, LPARAM lParam) const
{
    PostMessageA(window_, message, wParam, lParam);
}

void Station::PostTo(HWND window, UINT message, WPARAM wParam, LPARAM lParam) const
{
    PostMessageA(window, message, wParam, lParam);
}

void Station::Type(HWND control, const std::string &keys) const
{
    for (char c : keys)
        PostMessageA(control, WM_CHAR, static_cast<unsigned char>(c), 1);
}

void Station::PressKey(HWND control, UINT vk) const
{
    PostMessageA(control, WM_KEYDOWN, vk, 1);
    PostMessageA(control, WM_KEYUP, vk, 0xC0000001);
}

HWND Station::Focus() const
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(ThreadId(), &info);
    return info.hwndFocus;
}

DWORD RunToEnd(const Launch &launch, int timeoutMs)
{
    Launch toEnd = launch;
    toEnd.WaitForWindow = false;
    Station station(toEnd);
    station.WaitForExit(timeoutMs);
    return station.ExitCode(); // ended on destruction when it still runs
}

std::string SignedText(const std::string &text, const std::string &user)
{
    return text + "\r\n\t" + user + "@" + ComputerName();
}

std::string FirstLine(const std::string &text)
{
    return text.substr(0, text.find("\r\n"));
}

bool SplitStamp(const std::string &entry, char lead, std::string &stamp, std::string &rest)
{
    // Day and month names are those of the locale; neither holds a blank.
    static const std::regex shape("^. [0-2][0-9]:[0-5][0-9]:[0-5][0-9] [^ ]+ [0-3][0-9]\\. [^ ]+ ");
    std::smatch match;
    if (entry.empty() || entry[0] != lead || !std::regex_search(entry, match, shape))
        return false;
    stamp = match.str(0);
    rest = entry.substr(stamp.size());
    return true;
}

std::string NewestSentBody(const Station &station)
{
    std::string stamp, rest;
    const std::string line = FirstLine(station.HistoryText());
    if (!SplitStamp(line, '>', stamp, rest))
        return "<no sent stamp in: " + line + ">";
    return rest;
}

bool Receives(const Station &station, const std::string &text)
{
    if (!WriteToStation(MessageBlock("alice", "bob", text)))
        return false;
    bool shown = false;
    WaitUntil(
        [&] {
            for (const Box &box : BoxesOf(station.Pid()))
                if (box.Text.find(text) != std::string::npos) {
                    CloseBox(box.Window);
                    shown = true;
                }
            return shown;
        },
        8000);
    return shown && station.HistoryText().find("<<" + text + ">>\r\n") != std::string::npos;
}

namespace {
// No station writes a block of DEL bytes: a text of such bytes would be
// followed by its signature and NUL separators.
const std::string SinkMark(BlockSize, '\x7f');
} // namespace

MailslotSink::MailslotSink(const std::string &name)
{
    const std::string dir = UncRoot() + "/" + name + "/mailslot";
    unixPath_ = dir + "/messngr";
    RunUnix("mkdir -p " + ShellQuoted(dir) + " && rm -f " + ShellQuoted(unixPath_) +
            " && mkfifo " + ShellQuoted(unixPath_));
    reader_ = std::make_unique<FifoReader>(WindowsPathOf(unixPath_),
                                           [this](const char *bytes, std::size_t size) {
                                               const std::lock_guard<std::mutex> hold(lock_);
                                               bytes_.append(bytes, size);
                                               const std::size_t at = bytes_.find(SinkMark);
                                               if (at != std::string::npos) {
                                                   bytes_.erase(at, SinkMark.size());
                                                   ++marksTaken_;
                                               }
                                           });
}

MailslotSink::~MailslotSink()
{
    reader_.reset();
    RunUnix("rm -f " + ShellQuoted(unixPath_));
}

std::vector<std::string> MailslotSink::Blocks() const
{
    const std::lock_guard<std::mutex> hold(lock_);
    std::vector<std::string> blocks;
    for (std::size_t at = 0; at + BlockSize <= bytes_.size(); at += BlockSize)
        blocks.push_back(bytes_.substr(at, BlockSize));
    return blocks;
}

bool MailslotSink::WaitForBlocks(std::size_t count, int timeoutMs) const
{
    return WaitUntil([&] { return Blocks().size() >= count; }, timeoutMs);
}

std::vector<std::string> MailslotSink::BlocksUpToNow()
{
    const int mark = ++marksWritten_;
    const FileHandle writer(CreateFileA(WindowsPathOf(unixPath_).c_str(), GENERIC_WRITE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_EXISTING, 0, nullptr));
    const bool taken = WriteAll(writer, SinkMark) && WaitUntil([&] {
                           const std::lock_guard<std::mutex> hold(lock_);
                           return marksTaken_ >= mark;
                       });
    if (!taken)
        ADD_FAILURE() << "the mark written into " << unixPath_ << " did not come through";
    return Blocks();
}

} // namespace wine
