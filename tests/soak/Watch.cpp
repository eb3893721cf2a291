// See Watch.h.
#include "tests/soak/Watch.h"
#include "tests/drive/Popups.h"
#include "tests/drive/StationWindow.h"
#include "tests/drive/Wait.h"
#include "UTypes.h"

#include <algorithm>
#include <cstdio>

void Fail(const char *why)
{
    std::printf("soak: FAILED: %s\n", why);
    std::fflush(stdout);
    ExitProcess(1);
}

StationWindows FindStation()
{
    // Up once its start-up has set the title, after the controls exist.
    StationWindows s;
    const bool up = drive::WaitUntil(
        [&] {
            s.Window = drive::FindStationWindow();
            return s.Window && drive::TitledAsStation(s.Window);
        },
        20000);
    if (!up)
        Fail("no station window");
    s.Pid = drive::PidOf(s.Window);
    s.Pane = drive::FieldsOf(s.Window).History;
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

void BoxCloser::Run()
{
    std::set<HWND> posted;
    while (!stop_) {
        const auto found = drive::DialogsOf(pid_);
        open_ = found.size();
        mostOpen_ = std::max<std::size_t>(mostOpen_, open_);
        for (HWND box : found) {
            // A box is read once it is up, that is visible with its text.
            if (!IsWindowVisible(box))
                continue;
            if (!seen_.count(box)) {
                const std::string caption = drive::TitleOf(box);
                const std::string text = drive::BoxText(box);
                const std::lock_guard<std::mutex> hold(lock_);
                seen_.insert(box);
                ++texts_[text];
                if (caption.rfind("Message - ", 0) != 0)
                    ++badCaptions_;
            }
            if (!hold_ && posted.insert(box).second) {
                drive::CloseBox(box);
                ++closed_;
            }
        }
        Sleep(15);
    }
}

ReceiptCatcher::ReceiptCatcher(const std::string &fifo, std::string expected)
    : expected_(std::move(expected)),
      reader_(fifo, [this](const char *bytes, std::size_t size) { Take(bytes, size); })
{
    if (!reader_.Open())
        Fail("cannot open the soaker's FIFO");
}

void ReceiptCatcher::Take(const char *bytes, std::size_t size)
{
    pending_.append(bytes, size);
    while (pending_.size() >= DatagramSize) {
        if (pending_.compare(0, DatagramSize, expected_) != 0)
            ++wrong_;
        pending_.erase(0, DatagramSize);
        ++blocks_;
    }
}

long long FileSize(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data))
        return -1;
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}
