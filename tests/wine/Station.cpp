// See Station.h.
#include "tests/wine/Station.h"
#include "transport/Record.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

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
// A Unix path as Wine's Z: drive shows it.
std::string WindowsPathOf(const std::string &unixPath)
{
    std::string p = "Z:" + unixPath;
    std::replace(p.begin(), p.end(), '/', '\\');
    return p;
}

std::string EnvironmentBlock(const std::map<std::string, std::string> &overrides)
{
    std::map<std::string, std::string> vars;
    char *env = GetEnvironmentStringsA();
    for (const char *v = env; *v; v += std::strlen(v) + 1) {
        const char *eq = std::strchr(v + 1, '='); // "=C:=C:\" style names start with '='
        if (eq)
            vars[std::string(v, eq)] = eq + 1;
    }
    FreeEnvironmentStringsA(env);
    for (const auto &[k, val] : overrides)
        vars[k] = val;
    std::string block;
    for (const auto &[k, val] : vars)
        block += k + "=" + val + '\0';
    block += '\0';
    return block;
}

bool StartProcess(const Launch &launch, PROCESS_INFORMATION &process)
{
    std::string command = "\"" + StationExe() + "\"";
    if (!launch.Arguments.empty())
        command += " " + launch.Arguments;
    std::string env = EnvironmentBlock(launch.Env);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    return CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, env.data(), nullptr,
                          &si, &process) != 0;
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
} // namespace

std::string StationExe()
{
    return WindowsPathOf(TINDREL_EXE_UNIX_PATH);
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

HWND FindStationWindow(DWORD pid)
{
    const auto found = TopLevelWindows(pid, "zorvanta_tindrel");
    return found.empty() ? nullptr : found.front();
}

Station::Station(const Launch &launch)
{
    if (!StartProcess(launch, process_))
        return;
    if (!launch.WaitForWindow)
        return;
    // Wait for the window and its five controls, and for the start-up to
    // have set its title.
    WaitUntil(
        [&] {
            window_ = FindStationWindow(process_.dwProcessId);
            if (!window_)
                return false;
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
        CloseHandle(process_.hThread);
    }
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
    return process_.hProcess && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

bool Station::WaitForExit(int timeoutMs)
{
    return process_.hProcess &&
           WaitForSingleObject(process_.hProcess, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0;
}

DWORD Station::ExitCode() const
{
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(process_.hProcess, &code);
    return code;
}

void Station::Settle(int pauseMs) const
{
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(window_, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &ignored);
    Sleep(static_cast<DWORD>(pauseMs));
    SendMessageTimeoutA(window_, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &ignored);
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
    GetGUIThreadInfo(process_.dwThreadId, &info);
    return info.hwndFocus;
}

DWORD RunToEnd(const Launch &launch, int timeoutMs)
{
    PROCESS_INFORMATION process = {};
    if (!StartProcess(launch, process))
        return static_cast<DWORD>(-1);
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, 99);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
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
    const DatagramBlock block = ToBlock(sender + FieldSeparator + recipient + FieldSeparator +
                                        text + RecordTail);
    return std::string(block.data(), block.size());
}

std::string UncRoot()
{
    // Wine does not pass WINEPREFIX on to its programs; scripts/wine-exec.sh does.
    const char *prefix = std::getenv("TINDREL_WINEPREFIX");
    return std::string(prefix ? prefix : "") + "/dosdevices/unc";
}

bool RunUnix(const std::string &commandLine)
{
    std::string command = commandLine;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &process))
        return false;
    WaitForSingleObject(process.hProcess, 10000);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return true;
}

MailslotSink::MailslotSink(const std::string &name)
{
    const std::string dir = UncRoot() + "/" + name + "/mailslot";
    unixPath_ = dir + "/messngr";
    RunUnix("/bin/mkdir -p " + dir);
    RunUnix("/bin/rm -f " + unixPath_);
    RunUnix("/usr/bin/mkfifo " + unixPath_);
    WaitUntil([&] { return GetFileAttributesA(WindowsPathOf(unixPath_).c_str()) !=
                           INVALID_FILE_ATTRIBUTES; },
              5000);
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
    RunUnix("/bin/rm -f " + unixPath_);
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
    for (std::size_t at = 0; at + DatagramSize <= bytes_.size(); at += DatagramSize)
        blocks.push_back(bytes_.substr(at, DatagramSize));
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
