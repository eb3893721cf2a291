// How a station's window behaves while it works, watched from threads of
// the test: how long it takes to answer, and how long each title holds.
#pragma once

#include <windows.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace wine {

// Sends the window WM_NULL every stepMs and keeps how long each answer took:
// how long keys, clicks and painting would wait. An idle window of this
// process is asked the same way beside it; its longest wait is the floor of
// the run, what the busy machine adds to any answer.
class AnswerProbe {
public:
    explicit AnswerProbe(HWND window, int stepMs = 20);
    ~AnswerProbe() { Stop(); }
    AnswerProbe(const AnswerProbe &) = delete;
    AnswerProbe &operator=(const AnswerProbe &) = delete;

    void Stop();
    long long WorstMs() const { return Worst(answers_); }
    long long IdleWorstMs() const { return Worst(idleAnswers_); }
    int Samples() const;
    // How many of the window's answers took longer than ms.
    int SlowerThan(long long ms) const;
    bool AllAnswered() const { return !failed_; }

private:
    void RunIdleWindow();
    void Probe(HWND window, int stepMs, std::vector<long long> &answers);
    long long Worst(const std::vector<long long> &answers) const;

    std::atomic<bool> stop_{false}, failed_{false};
    std::atomic<HWND> idleWindow_{nullptr};
    std::atomic<DWORD> idleThread_{0};
    mutable std::mutex lock_;
    std::vector<long long> answers_, idleAnswers_; // in ms
    std::thread idle_, idleProbe_, probe_;
};

// Reads a window's title every stepMs from the system's copy (which answers
// while the owner's thread is busy) and keeps, for each title, the longest
// stretch it was seen in, and the titles in the order they came.
class TitleWatch {
public:
    explicit TitleWatch(HWND window, int stepMs = 10);
    ~TitleWatch() { Stop(); }
    TitleWatch(const TitleWatch &) = delete;
    TitleWatch &operator=(const TitleWatch &) = delete;

    void Stop();
    // In ms; -1 when never seen.
    long long HeldMs(const std::string &title) const;
    std::vector<std::string> Titles() const;

private:
    std::atomic<bool> stop_{false};
    mutable std::mutex lock_;
    std::map<std::string, long long> held_;
    std::vector<std::string> titles_;
    std::thread thread_;
};

} // namespace wine
