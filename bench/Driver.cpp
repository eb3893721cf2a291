// The benchmark driver: runs inside the station's Wine prefix, starts the
// program under test, feeds it datagrams, closes its pop-up boxes as they
// appear and prints its figures as "R name value" lines for bench/run.sh.
//
//   drain   PROGRAM COUNT FIFO TEXTBYTES CAPSECONDS BOXES
//                                           station (or bare loop) drains a burst;
//                                           BOXES "keep": boxes stay open (the bare
//                                           loop shows none), "close": every box is
//                                           closed as it appears (the bare loop
//                                           shows one per datagram)
//   history PROGRAM FIFO TEXTBYTES SIZES SAMPLES REPEATS CAPSECONDS
//                                           cost of one entry at each history size,
//                                           whole-text sets, memory
//   idle    PROGRAM FLOORPROGRAM SECONDS    CPU of an idle station and an idle window
//   oneshot RUNS PROGRAM_A PROGRAM_B FIFO   start-to-exit of two programs, alternated
#include "BenchKit.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using namespace bench;

namespace {
constexpr const char *Sender = "x"; // receipts go to \\x\mailslot\messngr

void Report(const std::string &name, double value)
{
    std::printf("R %s %.6f\n", name.c_str(), value);
    std::fflush(stdout);
}

void Note(const std::string &text)
{
    std::fprintf(stderr, "bench: %s\n", text.c_str());
}

bool WaitForMailslot(int timeoutMs)
{
    const double end = Now() + timeoutMs / 1000.0;
    while (Now() < end) {
        if (drive::Opens(drive::LocalMailslot))
            return true;
        Sleep(10);
    }
    return false;
}

bool IsStation(const std::string &program)
{
    return program.find("tindrel") != std::string::npos;
}

std::string ExeName(const std::string &program)
{
    const auto slash = program.find_last_of("\\/");
    return program.substr(slash == std::string::npos ? 0 : slash + 1);
}

std::vector<std::string> Blocks(int first, int count, std::size_t textBytes)
{
    std::vector<std::string> blocks;
    for (int n = first; n < first + count; ++n)
        blocks.push_back(MessageBlock(Sender, "bench", MessageText(n, textBytes)));
    return blocks;
}

// Every message n in [0, count) is in the pane, newest first.
bool HistoryHolds(HWND pane, int count)
{
    const std::string text = TextOf(pane);
    std::size_t at = 0;
    for (int n = count - 1; n >= 0; --n) {
        char head[32];
        std::snprintf(head, sizeof head, "<<bench %07d ", n);
        at = text.find(head, at);
        if (at == std::string::npos)
            return false;
    }
    return true;
}

int Drain(const std::string &program, int count, const std::string &fifo, std::size_t textBytes,
          double capSeconds, bool closeBoxes)
{
    Sink sink(fifo);
    if (!sink.Ok()) {
        Note("cannot open the receipt FIFO " + fifo);
        return 2;
    }
    const bool station = IsStation(program);
    Started started;
    std::string command = "\"" + program + "\"";
    if (!station)
        command += " " + std::to_string(count) + (closeBoxes ? " boxes" : "");
    else if (const char *extra = std::getenv("BENCH_STATION_ARGS"))
        command += " " + std::string(extra);
    if (!Start(command, started, station ? drive::StationClass : nullptr, station ? 5 : 0) ||
        !WaitForMailslot(20000)) {
        Note("program did not start: " + program);
        Stop(started);
        return 2;
    }
    const int upid = UnixPidOf(ExeName(program));
    std::unique_ptr<BoxCloser> closer;
    if (closeBoxes)
        closer = std::make_unique<BoxCloser>(started.Process.Pid);
    const auto blocks = Blocks(0, count, textBytes);
    Sleep(300); // the start-up's own work is not part of the drain
    const std::int64_t cpu0 = upid ? ThreadCpuNs(upid, upid) : 0;

    const double t0 = Now();
    std::thread writer([&] {
        for (const auto &block : blocks)
            WriteToStation(block);
    });
    const bool done = sink.WaitFor(count, static_cast<int>(capSeconds * 1000));
    const double seconds = Now() - t0;
    const std::int64_t cpu1 = upid ? ThreadCpuNs(upid, upid) : 0;
    if (!done) {
        Report("drain_seconds", -1);
        Report("drain_done_at_cap", static_cast<double>(sink.Blocks()));
        Report("drain_cap_seconds", capSeconds);
        Stop(started);
        // The writer may wait on a full mailslot that its own handle keeps alive.
        ExitProcess(1);
    }
    writer.join();

    Report("drain_seconds", seconds);
    if (station) {
        Report("drain_window_thread_cpu_seconds", (cpu1 - cpu0) / 1e9);
        Report("drain_boxes_open_at_end", static_cast<double>(BoxesOf(started.Process.Pid).size()));
        Report("drain_boxes_closed_at_end", closer ? static_cast<double>(closer->Closed()) : 0);
        Report("drain_history_complete", HistoryHolds(started.Children.at(2), count) ? 1 : 0);
        if (upid)
            Report("drain_resident_mb", ResidentBytes(upid) / 1048576.0);
    }
    Stop(started);
    return done ? 0 : 1;
}

struct Sample {
    double CpuMs;
    double LatencyMs;
};

// One message, fed when the station is idle, with a timer message posted
// after it so that the station polls at once rather than at its next tick
// (the main loop polls on every timer message). The window thread's CPU from
// the write until it is idle again: two polls, the pop-up, the entry, the
// receipt, the repaint.
Sample OneMessage(int upid, HWND window, Sink &sink, std::size_t receiptsBefore,
                  const std::string &block)
{
    WaitUntilQuiet(upid, upid, 30);
    const std::int64_t c0 = ThreadCpuNs(upid, upid);
    const double t0 = Now();
    WriteToStation(block);
    PostMessageA(window, WM_TIMER, 0, 0);
    sink.WaitFor(receiptsBefore + 1, 10000);
    const double latency = Now() - t0;
    WaitUntilQuiet(upid, upid, 40);
    const std::int64_t c1 = ThreadCpuNs(upid, upid);
    return {(c1 - c0) / 1e6, latency * 1e3};
}

// One whole-text set of the text the pane already holds: what a station
// that rewrote the pane for every entry pays for each, and it leaves the
// pane as it was.
double WholeTextSet(int upid, HWND pane, const std::string &text)
{
    WaitUntilQuiet(upid, upid, 30);
    const std::int64_t c0 = ThreadCpuNs(upid, upid);
    // Wine delivers no more than about 1 MB of text to another process's
    // window; a set that did not arrive counts as none.
    if (Ask(pane, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str())) != TRUE)
        return -1;
    WaitUntilQuiet(upid, upid, 40);
    return (ThreadCpuNs(upid, upid) - c0) / 1e6;
}

void ReportSpread(const std::string &name, const std::vector<double> &values)
{
    if (values.empty())
        return;
    Report(name + "_median", Median(values));
    Report(name + "_min", *std::min_element(values.begin(), values.end()));
    Report(name + "_max", *std::max_element(values.begin(), values.end()));
    Report(name + "_n", static_cast<double>(values.size()));
}

bool SetShown(const Started &started, bool shown)
{
    if (shown)
        ShowWindow(started.Window, SW_SHOWNORMAL);
    else
        PostMessageA(started.Children.at(4), BM_CLICK, 0, 0); // the Hide button
    const double end = Now() + 10;
    while (Now() < end) {
        if (((GetWindowLongA(started.Window, GWL_STYLE) & WS_VISIBLE) != 0) == shown)
            return true;
        Sleep(10);
    }
    return false;
}

// The pop-up boxes are left open: the first 100 messages open the most the
// station shows at once and every later pop-up waits in its queue, so each
// measured message costs the same there whatever the history's size. (Closing
// them would show every one of 10,000 boxes; the run ends the station instead.)
// The bulk of each fill is taken with the window hidden, which draws nothing;
// the measured messages arrive with the window shown.
int History(const std::string &program, const std::string &fifo, std::size_t textBytes,
            const std::vector<int> &sizes, int samples, int repeats, double capSeconds)
{
    const double deadline = Now() + capSeconds;
    Sink sink(fifo);
    Started started;
    if (!sink.Ok() || !Start("\"" + program + "\"", started, drive::StationClass, 5) ||
        !WaitForMailslot(20000)) {
        Note("station did not start");
        Stop(started);
        return 2;
    }
    const HWND pane = started.Children.at(2);
    const int upid = UnixPidOf(ExeName(program));
    if (!upid) {
        Note("no Unix process found for the station");
        Stop(started);
        return 2;
    }
    WaitUntilQuiet(upid, upid, 200, 5000);
    Report("memory_start_mb", ResidentBytes(upid) / 1048576.0);

    int entries = 0;
    for (int size : sizes) {
        const std::string tag = "history_" + std::to_string(size);
        const double fillStart = Now();
        const bool hide = entries >= 100;
        if (hide)
            SetShown(started, false);
        const auto fill = Blocks(entries, size - entries, textBytes);
        std::thread writer([&] {
            for (const auto &block : fill)
                WriteToStation(block);
        });
        const double left = deadline - Now();
        const bool filled =
            left > 0 && sink.WaitFor(static_cast<std::size_t>(size), static_cast<int>(left * 1000));
        if (!filled) {
            Note("history did not reach " + std::to_string(size) + " entries in time");
            Report("history_reached_at_cap", static_cast<double>(sink.Blocks()));
            Stop(started);
            ExitProcess(1); // the writer may wait on a full mailslot
        }
        writer.join();
        entries = size;
        if (hide)
            SetShown(started, true);
        WaitUntilQuiet(upid, upid, 200, 20000);
        // The boxes open once the burst is logged: the memory figures are
        // taken with every box the station will show open.
        const std::size_t boxes = std::min<std::size_t>(static_cast<std::size_t>(entries), 100);
        for (const double end = Now() + 30;
             BoxesOf(started.Process.Pid).size() < boxes && Now() < end;)
            Sleep(50);
        WaitUntilQuiet(upid, upid, 200, 20000);
        Report(tag + "_fill_seconds", Now() - fillStart);
        // Before anything of the pane's text travels to this process and
        // back, which leaves buffers behind in the station's heap.
        Report(tag + "_resident_mb", ResidentBytes(upid) / 1048576.0);
        Report(tag + "_pane_bytes", static_cast<double>(Ask(pane, WM_GETTEXTLENGTH)));
        if (Ask(started.Children.at(2), EM_GETLINECOUNT) != entries + 1) {
            Note("the pane does not hold " + std::to_string(size) + " entries");
            Stop(started);
            return 1;
        }

        std::vector<double> cpu, latency;
        for (int k = 0; k < samples && Now() < deadline; ++k) {
            const auto s = OneMessage(upid, started.Window, sink, static_cast<std::size_t>(entries),
                                      Blocks(entries, 1, textBytes).front());
            ++entries;
            cpu.push_back(s.CpuMs);
            latency.push_back(s.LatencyMs);
        }
        ReportSpread(tag + "_entry_cpu_ms", cpu);
        ReportSpread(tag + "_entry_latency_ms", latency);

        const std::string text = TextOf(pane);
        Report(tag + "_text_bytes", static_cast<double>(text.size()));
        std::vector<double> sets;
        for (int r = 0; r < repeats && Now() < deadline; ++r) {
            const double ms = WholeTextSet(upid, pane, text);
            if (ms < 0) {
                Note("a whole-text set of " + std::to_string(text.size()) + " bytes did not arrive");
                break;
            }
            sets.push_back(ms);
        }
        ReportSpread(tag + "_whole_set_cpu_ms", sets);
    }

    Report("history_complete", HistoryHolds(pane, entries) ? 1 : 0);

    Stop(started);
    return 0;
}

// A station with nothing arriving: only its poll timer runs. The CPU of the
// whole process over the time, in windows of 10 s for the spread; the floor
// idles beside it (one window, a 1000 ms timer).
int Idle(const std::string &program, const std::string &floorProgram, int seconds)
{
    Started started;
    if (!Start("\"" + program + "\"", started, drive::StationClass, 5) || !WaitForMailslot(20000)) {
        Note("station did not start");
        Stop(started);
        return 2;
    }
    const int upid = UnixPidOf(ExeName(program));
    Started floor;
    int floorPid = 0;
    if (Start("\"" + floorProgram + "\" idle", floor, nullptr, 0))
        floorPid = UnixPidOf(ExeName(floorProgram));
    if (!upid || !floorPid) {
        Note("no Unix process found for the station or the floor");
        Stop(floor);
        Stop(started);
        return 2;
    }
    Sleep(2000); // start-up done
    const std::int64_t floor0 = ProcessCpuNs(floorPid);
    const std::int64_t total0 = ProcessCpuNs(upid);
    std::vector<double> windows;
    for (int left = seconds; left > 0; left -= 10) {
        const int span = left < 10 ? left : 10;
        const std::int64_t w0 = ProcessCpuNs(upid);
        Sleep(static_cast<DWORD>(span * 1000));
        windows.push_back((ProcessCpuNs(upid) - w0) / 1e9 / span * 100.0);
    }
    Report("idle_seconds", seconds);
    Report("idle_percent", (ProcessCpuNs(upid) - total0) / 1e9 / seconds * 100.0);
    Report("idle_floor_percent", (ProcessCpuNs(floorPid) - floor0) / 1e9 / seconds * 100.0);
    ReportSpread("idle_window_percent", windows);
    Stop(floor);
    Stop(started);
    return 0;
}

double RunOnce(const std::string &command)
{
    Started started;
    const double t0 = Now();
    if (!Start(command, started, nullptr, 0))
        return -1;
    const bool ended = drive::WaitForEnd(started.Process.Process, 30000);
    const double seconds = Now() - t0;
    Stop(started);
    return ended ? seconds : -1;
}

int OneShot(int runs, const std::string &a, const std::string &b, const std::string &fifo)
{
    Sink sink(fifo); // the one-shot's message goes somewhere that reads it
    std::vector<double> ta, tb;
    RunOnce(a); // warm-up: caches, the desktop process
    RunOnce(b);
    for (int n = 0; n < runs; ++n) {
        ta.push_back(RunOnce(a) * 1e3);
        tb.push_back(RunOnce(b) * 1e3);
    }
    ReportSpread("oneshot_ms", ta);
    ReportSpread("onewindow_ms", tb);
    Report("oneshot_sent", static_cast<double>(sink.Blocks()));
    return 0;
}

std::vector<int> Sizes(const std::string &list)
{
    std::vector<int> sizes;
    std::stringstream in(list);
    std::string item;
    while (std::getline(in, item, ','))
        sizes.push_back(std::atoi(item.c_str()));
    return sizes;
}
} // namespace

int main(int argc, char **argv)
{
    const std::vector<std::string> a(argv, argv + argc);
    try {
        if (a.size() == 8 && a[1] == "drain")
            return Drain(a[2], std::atoi(a[3].c_str()), a[4], std::strtoul(a[5].c_str(), nullptr, 10),
                         std::atof(a[6].c_str()), a[7] == "close");
        if (a.size() == 9 && a[1] == "history")
            return History(a[2], a[3], std::strtoul(a[4].c_str(), nullptr, 10), Sizes(a[5]),
                           std::atoi(a[6].c_str()), std::atoi(a[7].c_str()),
                           std::atof(a[8].c_str()));
        if (a.size() == 5 && a[1] == "idle")
            return Idle(a[2], a[3], std::atoi(a[4].c_str()));
        if (a.size() == 6 && a[1] == "oneshot")
            return OneShot(std::atoi(a[2].c_str()), a[3], a[4], a[5]);
    } catch (const std::exception &e) {
        Note(e.what());
        return 3;
    }
    std::fprintf(stderr, "usage: see the head of bench/Driver.cpp\n");
    return 2;
}
