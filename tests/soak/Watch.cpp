// See Watch.h.
#include "tests/soak/Watch.h"
#include "UTypes.h"
#include "transport/Record.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

void Fail(const char *why)
{
    std::printf("soak: FAILED: %s\n", why);
    std::fflush(stdout);
    ExitProcess(1);
}

bool WaitFor(const std::function<bool()> &done, int timeoutMs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        Sleep(20);
    }
    return true;
}

std::string TextOf(HWND window, UINT timeoutMs)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, timeoutMs, &length))
        return "<no answer>";
    std::string text(length + 1, '\0');
    DWORD_PTR got = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                        SMTO_NORMAL, timeoutMs, &got);
    text.resize(got);
    return text;
}

std::size_t TextLength(HWND window)
{
    DWORD_PTR length = 0;
    SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, 10000, &length);
    return length;
}

bool WriteDatagram(const std::string &bytes)
{
    HANDLE slot = CreateFileA(LocalMailslotPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (slot == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(slot, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                              nullptr);
    CloseHandle(slot);
    return ok && written == bytes.size();
}

Memory MemoryOf(const std::string &unixPid)
{
    Memory m;
    HANDLE f = CreateFileA(("Z:\\proc\\" + unixPid + "\\status").c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE)
        return m;
    std::string all;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(f, buffer, sizeof buffer, &got, nullptr) && got)
        all.append(buffer, got);
    CloseHandle(f);
    auto field = [&](const char *name) {
        const auto at = all.find(name);
        return at == std::string::npos ? -1L : std::atol(all.c_str() + at + std::strlen(name));
    };
    m.Rss = field("VmRSS:");
    m.Peak = field("VmHWM:");
    return m;
}

namespace {
BOOL CALLBACK FindPane(HWND child, LPARAM param)
{
    char cls[16] = {};
    GetClassNameA(child, cls, sizeof cls);
    if (lstrcmpiA(cls, "Edit") == 0 && (GetWindowLongA(child, GWL_STYLE) & ES_READONLY))
        *reinterpret_cast<HWND *>(param) = child;
    return TRUE;
}
} // namespace

StationWindows FindStation()
{
    // Up once its start-up has set the title, after the controls exist.
    StationWindows s;
    const bool up = WaitFor(
        [&] {
            s.Window = FindWindowA(WindowClassName, nullptr);
            char title[64] = {};
            return s.Window && GetWindowTextA(s.Window, title, sizeof title) &&
                   std::strncmp(title, "Zorvanta tindrel", 16) == 0;
        },
        20000);
    if (!up)
        Fail("no station window");
    GetWindowThreadProcessId(s.Window, &s.Pid);
    EnumChildWindows(s.Window, FindPane, reinterpret_cast<LPARAM>(&s.Pane));
    if (!s.Pane)
        Fail("no history pane");
    return s;
}

BoxCloser::BoxCloser(DWORD pid) : pid_(pid), thread_([this] { Run(); }) {}

BoxCloser::~BoxCloser()
{
    stop_ = true;
    thread_.join();
}

std::size_t BoxCloser::Shown() const
{
    const std::lock_guard<std::mutex> hold(lock_);
    return seen_.size();
}

std::map<std::string, std::size_t> BoxCloser::Texts() const
{
    const std::lock_guard<std::mutex> hold(lock_);
    return texts_;
}

BOOL CALLBACK BoxCloser::Collect(HWND window, LPARAM param)
{
    auto *self = reinterpret_cast<BoxCloser *>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char cls[16] = {};
    GetClassNameA(window, cls, sizeof cls);
    if (pid == self->pid_ && lstrcmpA(cls, "#32770") == 0)
        self->found_.push_back(window);
    return TRUE;
}

void BoxCloser::Run()
{
    std::set<HWND> posted;
    while (!stop_) {
        found_.clear();
        EnumWindows(Collect, reinterpret_cast<LPARAM>(this));
        open_ = found_.size();
        mostOpen_ = std::max<std::size_t>(mostOpen_, open_);
        for (HWND box : found_) {
            // A box is read once it is up, that is visible with its text.
            if (!IsWindowVisible(box))
                continue;
            if (!seen_.count(box)) {
                char caption[256] = {};
                GetWindowTextA(box, caption, sizeof caption);
                const std::string text = TextOf(GetDlgItem(box, 0xFFFF));
                const std::lock_guard<std::mutex> hold(lock_);
                seen_.insert(box);
                ++texts_[text];
                if (std::string(caption).rfind("Message - ", 0) != 0)
                    ++badCaptions_;
            }
            if (!hold_ && posted.insert(box).second) {
                PostMessageA(box, WM_COMMAND, IDOK, 0);
                ++closed_;
            }
        }
        Sleep(15);
    }
}

ReceiptCatcher::ReceiptCatcher(const std::string &fifo, std::string expected)
    : expected_(std::move(expected))
{
    fifo_ = CreateFileA(fifo.c_str(), GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (fifo_ == INVALID_HANDLE_VALUE)
        Fail("cannot open the soaker's FIFO");
    std::thread([this] { Run(); }).detach(); // blocked in a read until the process ends
}

void ReceiptCatcher::Run()
{
    std::string pending;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(fifo_, buffer, sizeof buffer, &got, nullptr) && got) {
        pending.append(buffer, got);
        while (pending.size() >= DatagramSize) {
            if (pending.compare(0, DatagramSize, expected_) != 0)
                ++wrong_;
            pending.erase(0, DatagramSize);
            ++blocks_;
        }
    }
}

PipeProbe::PipeProbe(const std::string &name)
{
    pipe_ = CreateNamedPipeA(("\\\\.\\pipe\\" + name + "\\mailslot\\messngr").c_str(),
                             PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED, PIPE_TYPE_BYTE, 1, 4096,
                             4096, 0, nullptr);
    overlapped_.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Listen();
}

void PipeProbe::Listen()
{
    ResetEvent(overlapped_.hEvent);
    DisconnectNamedPipe(pipe_);
    if (ConnectNamedPipe(pipe_, &overlapped_) || GetLastError() == ERROR_PIPE_CONNECTED)
        SetEvent(overlapped_.hEvent);
}

bool PipeProbe::Connected() const
{
    return WaitForSingleObject(overlapped_.hEvent, 0) == WAIT_OBJECT_0;
}

bool Reachable(const std::string &sender)
{
    HANDLE h = CreateFileA(MailslotPath(sender).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(h);
    return true;
}

long long FileSize(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}
