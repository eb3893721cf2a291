// See Probes.h.
#include "tests/wine/Probes.h"
#include "tests/drive/Wait.h"

#include <algorithm>

namespace wine {

AnswerProbe::AnswerProbe(HWND window, int stepMs)
{
    idle_ = std::thread([this] { RunIdleWindow(); });
    drive::WaitUntil([&] { return idleWindow_ != nullptr; }, 10000, 5);
    idleProbe_ = std::thread([this, stepMs] { Probe(idleWindow_, stepMs, idleAnswers_); });
    probe_ = std::thread([this, window, stepMs] { Probe(window, stepMs, answers_); });
}

void AnswerProbe::Stop()
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

int AnswerProbe::Samples() const
{
    const std::lock_guard<std::mutex> hold(lock_);
    return static_cast<int>(answers_.size());
}

long long AnswerProbe::Worst(const std::vector<long long> &answers) const
{
    const std::lock_guard<std::mutex> hold(lock_);
    return answers.empty() ? 0 : *std::max_element(answers.begin(), answers.end());
}

int AnswerProbe::SlowerThan(long long ms) const
{
    const std::lock_guard<std::mutex> hold(lock_);
    return static_cast<int>(
        std::count_if(answers_.begin(), answers_.end(), [&](long long t) { return t > ms; }));
}

void AnswerProbe::RunIdleWindow()
{
    idleThread_ = GetCurrentThreadId();
    MSG msg = {};
    PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE); // the queue exists before the window
    idleWindow_ = CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                  nullptr);
    while (GetMessageA(&msg, nullptr, 0, 0) > 0)
        DispatchMessageA(&msg);
    DestroyWindow(idleWindow_);
}

void AnswerProbe::Probe(HWND window, int stepMs, std::vector<long long> &answers)
{
    while (!stop_) {
        const DWORD start = GetTickCount();
        DWORD_PTR ignored = 0;
        if (!SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &ignored))
            failed_ = true;
        {
            const std::lock_guard<std::mutex> hold(lock_);
            answers.push_back(static_cast<long long>(GetTickCount() - start));
        }
        Sleep(static_cast<DWORD>(stepMs));
    }
}

TitleWatch::TitleWatch(HWND window, int stepMs)
    : thread_([this, window, stepMs] {
          std::string last;
          DWORD since = GetTickCount();
          while (!stop_) {
              char title[512] = {};
              GetWindowTextA(window, title, sizeof title);
              const DWORD now = GetTickCount();
              {
                  const std::lock_guard<std::mutex> hold(lock_);
                  if (title != last || titles_.empty()) {
                      last = title;
                      since = now;
                      titles_.push_back(last);
                  }
                  long long &longest = held_[last];
                  longest = std::max(longest, static_cast<long long>(now - since));
              }
              Sleep(static_cast<DWORD>(stepMs));
          }
      })
{
}

void TitleWatch::Stop()
{
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

long long TitleWatch::HeldMs(const std::string &title) const
{
    const std::lock_guard<std::mutex> hold(lock_);
    const auto found = held_.find(title);
    return found == held_.end() ? -1 : found->second;
}

std::vector<std::string> TitleWatch::Titles() const
{
    const std::lock_guard<std::mutex> hold(lock_);
    return titles_;
}

} // namespace wine
