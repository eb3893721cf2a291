// See Station.h.
#include "tests/wine/Station.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <regex>
#include <set>
#include <utility>

namespace wine {

bool WaitUntil(const std::function<bool()> &done, int timeoutMs, int stepMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (done())
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        Sleep(stepMs);
    }
}

namespace {
constexpr std::size_t BlockSize = 420;

// A Unix path as Wine's Z: drive shows it.
std::string WindowsPathOf(const std::string &unixPath)
{
    std::string p = "Z:" + unixPath;
    std::replace(p.begin(), p.end(), '/', '\\');
    return p;
}

bool FileExists(const std::string &windowsPath)
{
    return GetFileAttributesA(windowsPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool WriteWholeFile(const std::string &windowsPath, const std::string &bytes)
{
    HANDLE file = CreateFileA(windowsPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                              nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

std::string ReadWholeFile(const std::string &windowsPath)
{
    HANDLE file = CreateFileA(windowsPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "";
    char buffer[256];
    DWORD got = 0;
    std::string bytes;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
}

// A shell script run by /bin/sh from this process. A Unix child started by
// CreateProcessA has no process handle that can be waited for (the wait
// fails at once), so the script writes its exit status to a marker file as
// its last act; the marker's appearance is its end.
class UnixScript {
public:
    // Writes the script; Start() runs it.
    explicit UnixScript(const std::string &body)
    {
        char dir[MAX_PATH] = {}, name[MAX_PATH] = {};
        GetTempPathA(sizeof dir, dir);
        if (!GetTempFileNameA(dir, "tdl", 0, name))
            return;
        script_ = name;
        marker_ = script_ + ".done";
        const std::string unixMarker = UnixPathOf(marker_);
        if (unixMarker.empty())
            return;
        // In a subshell, so that an exit in the body still reaches the marker.
        const std::string partial = ShellQuoted(unixMarker + ".tmp");
        const std::string text = "(\n" + body + "\n)\necho $? > " + partial + " && mv " + partial +
                                 " " + ShellQuoted(unixMarker) + "\n";
        ready_ = WriteWholeFile(script_, text);
    }
    ~UnixScript()
    {
        if (!script_.empty())
            DeleteFileA(script_.c_str());
        if (!marker_.empty())
            DeleteFileA(marker_.c_str());
    }
    UnixScript(const UnixScript &) = delete;
    UnixScript &operator=(const UnixScript &) = delete;

    bool Start()
    {
        if (!ready_)
            return false;
        std::string command = "/bin/sh " + UnixPathOf(script_);
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION process = {};
        if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                            &si, &process))
            return false;
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
        return true;
    }
    bool Done() const { return !marker_.empty() && FileExists(marker_); }
    // The exit status, or -1 before the end.
    int Status() const { return Done() ? std::atoi(ReadWholeFile(marker_).c_str()) : -1; }
    // Hands the marker to an owner that outlives this object. The script
    // goes now: a running shell keeps it open.
    std::string TakeMarker()
    {
        DeleteFileA(script_.c_str());
        script_.clear();
        return std::exchange(marker_, std::string());
    }

private:
    std::string script_, marker_;
    bool ready_ = false;
};

std::set<DWORD> StationProcesses()
{
    std::set<DWORD> pids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return pids;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        if (_stricmp(entry.szExeFile, "tindrel.exe") == 0)
            pids.insert(entry.th32ProcessID);
    CloseHandle(snapshot);
    return pids;
}

// A station started by a Windows parent: exact command line and a real
// process handle.
bool StartDirectly(const Launch &launch, PROCESS_INFORMATION &process)
{
    std::string command = "\"" + StationExe() + "\"";
    if (!launch.Arguments.empty())
        command += " " + launch.Arguments;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    return CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &si, &process) != 0;
}

bool SameWidthAsThisProcess(HANDLE process)
{
    BOOL otherWow64 = FALSE, selfWow64 = FALSE;
    IsWow64Process(process, &otherWow64);
    IsWow64Process(GetCurrentProcess(), &selfWow64);
    return otherWow64 == selfWow64;
}

// A station started from Unix with its own environment (see Launch::Env).
// Finds its process as the tindrel.exe that was not there before; the
// process handle stays null when it ended before it was seen.
bool StartThroughShell(const Launch &launch, PROCESS_INFORMATION &process, std::string &marker)
{
    std::string body = "/usr/bin/env";
    for (const auto &[name, value] : launch.Env)
        body += " " + ShellQuoted(name + "=" + value);
    body += " wine " + ShellQuoted(StationExeUnixPath());
    if (!launch.Arguments.empty())
        body += " " + launch.Arguments;
    const std::set<DWORD> before = StationProcesses();
    UnixScript script(body);
    if (!script.Start())
        return false;
    WaitUntil(
        [&] {
            for (DWORD pid : StationProcesses()) {
                if (before.count(pid))
                    continue;
                const HANDLE handle = OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid);
                // With Wine's 32-bit loader installed, `wine` starts a program
                // built as this test is through a stand-in of the other width
                // and the same name, which waits for it: not the station.
                if (handle && !SameWidthAsThisProcess(handle)) {
                    CloseHandle(handle);
                    continue;
                }
                process.dwProcessId = pid;
                process.hProcess = handle;
                return true;
            }
            return script.Done();
        },
        20000, 5);
    marker = script.TakeMarker();
    return true;
}

bool StartProcess(const Launch &launch, PROCESS_INFORMATION &process, std::string &marker)
{
    if (launch.Env.empty())
        return StartDirectly(launch, process);
    return StartThroughShell(launch, process, marker);
}

BOOL CALLBACK CollectChild(HWND child, LPARAM param)
{
    auto *list = reinterpret_cast<std::vector<HWND> *>(param);
    if (GetParent(child) == GetAncestor(child, GA_PARENT))
        list->push_back(child);
    return TRUE;
}

struct WindowSearch {
    DWORD Pid;
    const char *Class;
    std::vector<HWND> Found;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM param)
{
    auto *search = reinterpret_cast<WindowSearch *>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char cls[64] = {};
    GetClassNameA(window, cls, sizeof cls);
    if (pid == search->Pid && std::strcmp(cls, search->Class) == 0)
        search->Found.push_back(window);
    return TRUE;
}

std::vector<HWND> TopLevelWindows(DWORD pid, const char *cls)
{
    WindowSearch search{pid, cls, {}};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

int MarkerStatus(const std::string &marker)
{
    if (marker.empty() || !FileExists(marker))
        return -1;
    return std::atoi(ReadWholeFile(marker).c_str());
}
} // namespace

std::string StationExe()
{
    return WindowsPathOf(TINDREL_EXE_UNIX_PATH);
}

std::string StationExeUnixPath()
{
    return TINDREL_EXE_UNIX_PATH;
}

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

std::string TextOf(HWND window)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, 10000, &length))
        return "<no answer>";
    std::string text(length + 1, '\0');
    DWORD_PTR got = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                        SMTO_NORMAL, 10000, &got);
    text.resize(got);
    return text;
}

void SetTextOf(HWND window, const std::string &text)
{
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                        SMTO_NORMAL, 10000, &ignored);
}

RECT ClientRectInParent(HWND child)
{
    RECT r = {};
    GetWindowRect(child, &r);
    MapWindowPoints(HWND_DESKTOP, GetParent(child), reinterpret_cast<POINT *>(&r), 2);
    return r;
}

bool IsShown(HWND window)
{
    return (GetWindowLongA(window, GWL_STYLE) & WS_VISIBLE) != 0;
}

std::vector<HWND> TopLevelWindowsOf(DWORD pid, const char *windowClass)
{
    return TopLevelWindows(pid, windowClass);
}

HWND FindStationWindow(DWORD pid)
{
    const auto found = TopLevelWindows(pid, "zorvanta_tindrel");
    return found.empty() ? nullptr : found.front();
}

Station::Station(const Launch &launch)
{
    if (!StartProcess(launch, process_, doneMarker_))
        return;
    if (!launch.WaitForWindow || !process_.dwProcessId)
        return;
    // Wait for the window and its five controls, and for the start-up to
    // have set its title.
    WaitUntil(
        [&] {
            window_ = FindStationWindow(process_.dwProcessId);
            if (!window_)
                return !Running();
            controls_.clear();
            EnumChildWindows(window_, CollectChild, reinterpret_cast<LPARAM>(&controls_));
            char title[128] = {};
            GetWindowTextA(window_, title, sizeof title);
            return controls_.size() == 5 && std::strncmp(title, "Zorvanta tindrel", 16) == 0;
        },
        20000);
}

Station::~Station()
{
    if (process_.hProcess) {
        if (Running()) {
            TerminateProcess(process_.hProcess, 99);
            WaitForSingleObject(process_.hProcess, 5000);
        }
        CloseHandle(process_.hProcess);
    }
    if (process_.hThread)
        CloseHandle(process_.hThread);
    if (!doneMarker_.empty()) {
        // The shell writes the marker right after the station's end.
        WaitUntil([&] { return FileExists(doneMarker_); }, 2000);
        DeleteFileA(doneMarker_.c_str());
    }
}

DWORD Station::ThreadId() const
{
    return window_ ? GetWindowThreadProcessId(window_, nullptr) : process_.dwThreadId;
}

std::string Station::Title() const
{
    // The system's copy of the caption: answers even while the station's
    // thread is busy.
    char title[512] = {};
    GetWindowTextA(window_, title, sizeof title);
    return title;
}

bool Station::Running() const
{
    if (process_.hProcess)
        return WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
    // Seen but not opened: started through the shell, it runs until the
    // shell writes its marker.
    return process_.dwProcessId && !doneMarker_.empty() && !FileExists(doneMarker_);
}

bool Station::WaitForExit(int timeoutMs)
{
    if (process_.hProcess)
        return WaitForSingleObject(process_.hProcess, static_cast<DWORD>(timeoutMs)) ==
               WAIT_OBJECT_0;
    return !doneMarker_.empty() && WaitUntil([&] { return FileExists(doneMarker_); }, timeoutMs);
}

DWORD Station::ExitCode() const
{
    DWORD code = STILL_ACTIVE;
    if (process_.hProcess)
        GetExitCodeProcess(process_.hProcess, &code);
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
    const bool seen = WaitUntil(pushed, timeoutMs, 2);
    SendMessageTimeoutA(marker, BM_SETSTATE, FALSE, 0, SMTO_NORMAL, 10000, &ignored);
    return seen;
}

void Station::Settle(int pauseMs) const
{
    WaitUntilHandled();
    Sleep(static_cast<DWORD>(pauseMs));
    WaitUntilHandled();
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
    PROCESS_INFORMATION process = {};
    std::string marker;
    if (!StartProcess(launch, process, marker))
        return static_cast<DWORD>(-1);
    DWORD code = STILL_ACTIVE;
    if (process.hProcess) {
        if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0)
            GetExitCodeProcess(process.hProcess, &code);
        else
            TerminateProcess(process.hProcess, 99);
        CloseHandle(process.hProcess);
    }
    if (process.hThread)
        CloseHandle(process.hThread);
    if (!marker.empty()) {
        // Through the shell the exit status also arrives in the marker; it
        // is the only source when the station ended before it was seen.
        const bool ended = WaitUntil([&] { return FileExists(marker); },
                                     process.hProcess ? 2000 : timeoutMs);
        if (ended && code == STILL_ACTIVE && !process.hProcess)
            code = static_cast<DWORD>(MarkerStatus(marker));
        DeleteFileA(marker.c_str());
    }
    return code;
}

bool WriteToStation(const std::string &bytes)
{
    HANDLE slot = CreateFileA("\\\\.\\mailslot\\messngr", GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (slot == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(slot, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                              nullptr);
    CloseHandle(slot);
    return ok && written == bytes.size();
}

std::string MessageBlock(const std::string &sender, const std::string &recipient,
                         const std::string &text)
{
    // Built here on its own rather than by the program's code, so that the
    // blocks tests expect do not share the program's faults. A 0x02 in a
    // field becomes NUL on the wire like every separator.
    std::string block = sender + '\x02' + recipient + '\x02' + text + "\x02\x02\x02\x02";
    std::replace(block.begin(), block.end(), '\x02', '\0');
    block.resize(BlockSize, '\0');
    return block;
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

std::string UncRoot()
{
    // Wine does not pass WINEPREFIX on to its programs; scripts/wine-exec.sh does.
    const char *prefix = std::getenv("TINDREL_WINEPREFIX");
    return std::string(prefix ? prefix : "") + "/dosdevices/unc";
}

std::string UnixPathOf(const std::string &windowsPath)
{
    // Wine's own export; absent on Windows itself.
    using ToUnix = char *(CDECL *)(const WCHAR *);
    static const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!toUnix)
        return "";
    const int n = MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide.data(), n);
    char *unix = toUnix(wide.c_str());
    if (!unix)
        return "";
    std::string path = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return path;
}

std::string ShellQuoted(const std::string &text)
{
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

int RunUnixStatus(const std::string &commandLine, int timeoutMs)
{
    UnixScript script(commandLine);
    if (!script.Start())
        return -1;
    if (!WaitUntil([&] { return script.Done(); }, timeoutMs, 5))
        return -1;
    return script.Status();
}

bool RunUnix(const std::string &commandLine)
{
    return RunUnixStatus(commandLine) >= 0;
}

bool SaveScreenshot(HWND window, const std::string &unixPath)
{
    // winex11 keeps the X window of each top-level window as this property.
    const auto xWindow = reinterpret_cast<DWORD_PTR>(GetPropA(window, "__wine_x11_whole_window"));
    if (!xWindow)
        return false;
    char id[32] = {};
    std::snprintf(id, sizeof id, "0x%llx", static_cast<unsigned long long>(xWindow));
    return RunUnixStatus("/usr/bin/import -window " + std::string(id) + " " +
                             ShellQuoted(unixPath),
                         20000) == 0 &&
           FileExists(WindowsPathOf(unixPath));
}

MailslotSink::MailslotSink(const std::string &name)
{
    const std::string dir = UncRoot() + "/" + name + "/mailslot";
    unixPath_ = dir + "/messngr";
    RunUnix("mkdir -p " + ShellQuoted(dir) + " && rm -f " + ShellQuoted(unixPath_) +
            " && mkfifo " + ShellQuoted(unixPath_));
    // Read-write, as a plain reader would see an end of file at every
    // writer's close and lose what follows.
    fifo_ = CreateFileA(WindowsPathOf(unixPath_).c_str(), GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (fifo_ != INVALID_HANDLE_VALUE)
        reader_ = std::thread([this] { Reader(); });
}

MailslotSink::~MailslotSink()
{
    if (reader_.joinable()) {
        {
            const std::lock_guard<std::mutex> hold(lock_);
            stop_ = true;
        }
        // Wakes the reader out of its blocking read, through a handle of its own.
        HANDLE waker = CreateFileA(WindowsPathOf(unixPath_).c_str(), GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                   nullptr);
        DWORD written = 0;
        WriteFile(waker, "!", 1, &written, nullptr);
        CloseHandle(waker);
        reader_.join();
    }
    if (fifo_ != INVALID_HANDLE_VALUE)
        CloseHandle(fifo_);
    RunUnix("rm -f " + ShellQuoted(unixPath_));
}

void MailslotSink::Reader()
{
    char buffer[4096];
    for (;;) {
        DWORD got = 0;
        const BOOL ok = ReadFile(fifo_, buffer, sizeof buffer, &got, nullptr);
        const std::lock_guard<std::mutex> hold(lock_);
        if (stop_ || !ok)
            return;
        bytes_.append(buffer, got);
    }
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

std::vector<Box> BoxesOf(DWORD pid)
{
    std::vector<Box> boxes;
    for (HWND window : TopLevelWindows(pid, "#32770")) {
        // A box is shown once its text and buttons are in place.
        if (!IsWindowVisible(window))
            continue;
        char caption[512] = {};
        GetWindowTextA(window, caption, sizeof caption);
        boxes.push_back({window, caption, TextOf(GetDlgItem(window, 0xFFFF))});
    }
    return boxes;
}

void CloseBox(HWND box)
{
    PostMessageA(box, WM_COMMAND, IDOK, 0);
}

} // namespace wine
