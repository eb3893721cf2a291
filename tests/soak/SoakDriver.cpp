// The soak's driver, started by scripts/soak.sh inside the station's Wine
// prefix: floods the running station's mailslot with hostile datagrams
// between valid messages, lets its pop-up boxes pile up to the cap and
// closes them, catches its receipts at the soaker's mailslot path, and
// checks at the end that the station owes nothing: every pop-up shown once,
// every history entry in order, every valid message answered, nothing
// written where a forged sender pointed, memory within what the history
// holds. Prints one summary line; exit status 0 when every check held.
//
// Arguments, name=value: unix-pid (the station's Unix process, for its
// memory), datagrams, valid-every, after (valid messages after the flood),
// seed, seconds (the whole run's budget), receipt-budget, fifo (Windows
// path of the soaker's FIFO), probe (Windows path of a folder whose
// mailslot\messngr file must stay empty).
#include "tests/soak/Hostile.h"
#include "tests/drive/Mailslot.h"
#include "tests/drive/PipeTrap.h"
#include "tests/drive/ProcFigures.h"
#include "tests/drive/StationWindow.h"
#include "tests/drive/Wait.h"
#include "tests/soak/Watch.h"
#include "UTypes.h"
#include "transport/Record.h"

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

using namespace drive;

namespace {
using Clock = std::chrono::steady_clock;
constexpr std::size_t MaxOpenBoxes = 100; // the station's cap on open pop-ups
constexpr long JitterKib = 8 * 1024;

struct Options {
    std::string UnixPid, Fifo, Probe;
    std::size_t Datagrams = 10000, ValidEvery = 50, After = 20, ReceiptBudget = 20;
    unsigned Seed = 1;
    int Seconds = 480;
};

Options Parse(int argc, char **argv)
{
    std::map<std::string, std::string> a;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto eq = arg.find('=');
        if (eq != std::string::npos)
            a[arg.substr(0, eq)] = arg.substr(eq + 1);
    }
    Options o;
    auto number = [&](const char *key, auto &out) {
        if (a.count(key))
            out = static_cast<std::remove_reference_t<decltype(out)>>(std::stoull(a[key]));
    };
    o.UnixPid = a["unix-pid"];
    o.Fifo = a["fifo"];
    o.Probe = a["probe"];
    number("datagrams", o.Datagrams);
    number("valid-every", o.ValidEvery);
    number("after", o.After);
    number("seed", o.Seed);
    number("seconds", o.Seconds);
    number("receipt-budget", o.ReceiptBudget);
    return o;
}

// Walks the pane from the top: every expected entry, newest first, each
// after a time stamp of its own. Returns how many were not where they belong.
std::size_t CheckHistory(const std::string &pane, const std::vector<std::string> &entries,
                         std::size_t &validFound)
{
    constexpr std::size_t LongestStamp = 120;
    const std::string validLead = std::string("From:") + SoakSender + ",";
    std::size_t pos = 0, misplaced = 0;
    validFound = 0;
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
        const std::size_t at = pane.find(*it, pos);
        const char *lead = it->rfind("From:", 0) == 0 ? "< " : "~ ";
        const bool inPlace = at != std::string::npos && at - pos <= LongestStamp &&
                             pane.compare(pos, 2, lead) == 0 &&
                             pane.substr(pos, at - pos).find("\r\n") == std::string::npos;
        if (!inPlace) {
            if (misplaced++ == 0)
                std::printf("soak: first misplaced entry at %zu: %.80s\n", pos, it->c_str());
            if (at == std::string::npos)
                continue;
        }
        if (it->rfind(validLead, 0) == 0)
            ++validFound;
        pos = at + it->size();
    }
    if (pos != pane.size()) {
        std::printf("soak: %zu bytes after the last entry\n", pane.size() - pos);
        ++misplaced;
    }
    return misplaced;
}

// The receipt the station owes: it runs with this prefix's names, as the
// driver does, and has sent nothing, so it names no recipient.
std::string ReceiptBlock()
{
    LocalIdentity identity;
    DWORD size = sizeof identity.ComputerName;
    GetComputerNameA(identity.ComputerName, &size);
    size = sizeof identity.UserName;
    GetUserNameA(identity.UserName, &size);
    const DatagramBlock block = ToBlock(ReceiptRecord(identity, ""));
    return std::string(block.begin(), block.end());
}

double Mb(long kib)
{
    return kib / 1024.0;
}
} // namespace

int main(int argc, char **argv)
{
    const Options o = Parse(argc, argv);
    // Bounded: past its budget the driver gives up and fails.
    std::thread([seconds = o.Seconds] {
        Sleep(static_cast<DWORD>(seconds) * 1000);
        Fail("out of time");
    }).detach();
    const auto started = Clock::now();
    auto elapsed = [&] { return std::chrono::duration<double>(Clock::now() - started).count(); };
    const StationWindows station = FindStation();

    // The forged senders must point at something, or the checks that
    // nothing was written there would prove nothing.
    // The pipe's own sender is counted once its trap is armed through it.
    const std::string probePipe = "soakprobe", pipeSender = ".\\pipe\\" + probePipe;
    const std::vector<std::string> forged = ForgedSenders(o.Probe, probePipe);
    std::size_t reachable = 0;
    std::printf("soak: forged senders whose receipt path opens:");
    for (const auto &sender : forged)
        if (sender != pipeSender && Opens(MailslotOf(sender))) {
            ++reachable;
            std::printf(" \"%s\"", sender.c_str());
        }
    const PipeTrap pipe(pipeSender);
    if (pipe.Armed()) {
        ++reachable;
        std::printf(" \"%s\"", pipeSender.c_str());
    }
    std::printf("\n");
    const std::string probeFile = o.Probe + "\\mailslot\\messngr";
    if (!pipe.Armed() || FileSize(probeFile) != 0 || reachable < 4)
        Fail("the forged senders' targets are not reachable");

    ReceiptCatcher receipts(o.Fifo, ReceiptBlock());
    BoxCloser boxes(station.Pid);
    Expectation expect;
    HostileMix mix(o.Seed, forged, o.ReceiptBudget);
    std::size_t valid = 0, hostile = 0, bytes = 0, capReached = 0;
    auto write = [&](const std::string &d) {
        if (!WriteToStation(d))
            Fail("the station's mailslot is gone");
        expect.See(d);
        bytes += d.size();
    };
    auto allClosed = [&] {
        return boxes.Shown() >= expect.PopupCount() && boxes.Closed() >= expect.PopupCount() &&
               boxes.OpenNow() == 0;
    };
    const Memory cold = MemoryOf(o.UnixPid);

    // Every datagram written so far has been handled once a valid message
    // written now is answered; then the boxes still waiting are shown and
    // closed, and the process settles before its memory is read.
    auto checkpoint = [&](const char *what) {
        boxes.Hold(false);
        write(mix.Valid(valid++, true));
        if (!WaitUntil([&] { return receipts.Blocks() >= expect.Receipts(); }, 180000) ||
            !WaitUntil(allClosed, 300000)) {
            std::printf("soak: %s: %zu of %zu receipts, %zu of %zu pop-ups shown\n", what,
                        receipts.Blocks(), expect.Receipts(), boxes.Shown(), expect.PopupCount());
            Fail("the station fell behind for good");
        }
        Sleep(5000);
        const Memory m = MemoryOf(o.UnixPid);
        std::printf("soak: %s at %.0f s: %zu hostile, %zu boxes, RSS %.1f MB\n", what,
                    elapsed(), hostile, boxes.Shown(), Mb(m.Rss));
        std::fflush(stdout);
        return m;
    };

    // More messages than the cap while nobody closes a box: exactly the cap
    // stays open and the rest wait.
    boxes.Hold(true);
    const std::size_t warmUp = MaxOpenBoxes + 30;
    for (std::size_t i = 0; i < warmUp; ++i)
        write(mix.Valid(valid++, true));
    if (!WaitUntil([&] { return receipts.Blocks() == warmUp && boxes.OpenNow() >= MaxOpenBoxes; },
                 120000)) {
        std::printf("soak: warm-up: %zu of %zu receipts, %zu boxes open\n", receipts.Blocks(),
                    warmUp, boxes.OpenNow());
        Fail("the warm-up messages were not all handled");
    }
    Sleep(1500);
    if (boxes.OpenNow() != MaxOpenBoxes || boxes.MostOpen() != MaxOpenBoxes)
        Fail("the station does not keep to its cap on open boxes");
    ++capReached;
    std::vector<Memory> samples = {checkpoint("warm-up")};

    // The flood, in five rounds. Nobody closes a box during the first part
    // of a round, so the cap is reached again while the flood goes on. The
    // memory after the first round, when every kind of datagram and a full
    // screen of boxes have been seen once, is where growth counts from.
    const std::size_t round = std::max<std::size_t>(1, o.Datagrams / 5);
    for (std::size_t i = 0; i < o.Datagrams; ++i) {
        const bool hold = i % round < round * 2 / 5;
        if (!hold && i % round == round * 2 / 5 && boxes.OpenNow() == MaxOpenBoxes)
            ++capReached;
        boxes.Hold(hold);
        if (o.ValidEvery && i % o.ValidEvery == 0)
            write(mix.Valid(valid++));
        write(mix.Next(expect));
        ++hostile;
        if (hostile % round == 0 || hostile == o.Datagrams)
            samples.push_back(checkpoint("round"));
    }
    const Memory before = samples.size() > 1 ? samples[1] : samples[0];
    long peak = 0;

    // After the flood: every valid message is answered, then the mailslot
    // is empty and one more message must come through at once.
    for (std::size_t i = 0; i < o.After; ++i)
        write(mix.Valid(valid++));
    if (!WaitUntil([&] { return receipts.Blocks() >= expect.Receipts(); }, 180000))
        Fail("the valid messages after the flood were not all answered");
    const auto sentAt = Clock::now();
    write(mix.Valid(valid++));
    if (!WaitUntil([&] { return receipts.Blocks() >= expect.Receipts(); }, 10000))
        Fail("the final message was not answered");
    const double finalSeconds = std::chrono::duration<double>(Clock::now() - sentAt).count();
    std::printf("soak: flood answered at %.0f s\n", elapsed());

    if (!WaitUntil(allClosed, 300000))
        std::printf("soak: only %zu of %zu pop-ups shown\n", boxes.Shown(), expect.PopupCount());
    Sleep(5000);

    const std::string pane = TextOf(station.Pane, 60000);
    std::size_t validLogged = 0;
    const std::size_t misplaced = CheckHistory(pane, expect.Entries(), validLogged);
    const Memory after = MemoryOf(o.UnixPid);
    peak = after.Peak;
    // What History holds, five times over (the edit control keeps it as
    // UTF-16 besides the program's own copy), and the jitter of the
    // platform's heaps between two quiet moments, a few MB under Wine.
    const long limitKib = before.Rss + static_cast<long>(5 * pane.size() / 1024) + JitterKib;
    const auto shown = boxes.Texts();
    std::size_t popupsMissing = 0, popupsExtra = 0;
    for (const auto &[text, n] : expect.Popups()) {
        const auto it = shown.find(text);
        const std::size_t got = it == shown.end() ? 0 : it->second;
        popupsMissing += n > got ? n - got : 0;
        popupsExtra += got > n ? got - n : 0;
    }
    for (const auto &[text, n] : shown)
        if (!expect.Popups().count(text))
            popupsExtra += n;
    const bool forgedWrite = FileSize(probeFile) != 0 || !pipe.Untouched();
    const bool alive =
        IsWindow(station.Window) && AskTextLength(station.Pane).value_or(0) == pane.size();
    const std::size_t unanswered = expect.Receipts() - std::min(expect.Receipts(), receipts.Blocks());
    const std::size_t losses = misplaced + popupsMissing + unanswered;
    const bool memoryOk = before.Rss > 0 && after.Rss > 0 && after.Rss <= limitKib;
    const bool ok = alive && losses == 0 && popupsExtra == 0 && receipts.Wrong() == 0 &&
                    receipts.Blocks() == expect.Receipts() && !forgedWrite && memoryOk &&
                    boxes.BadCaptions() == 0 && boxes.MostOpen() <= MaxOpenBoxes &&
                    finalSeconds < 3.0;

    std::printf("soak: kinds:");
    for (const auto &[kind, n] : mix.Kinds())
        std::printf(" %s=%zu", kind.c_str(), n);
    std::printf("\nsoak: the station saw %zu messages, %zu without sender, %zu repeats, "
                "%zu receipts logged, %zu receipts for the title only; %zu MB written\n",
                expect.PopupCount(), expect.Ignored(), expect.Repeats(), expect.ReceiptsLogged(),
                expect.ReceiptsTitleOnly(), bytes >> 20);
    std::printf("soak: boxes shown %zu of %zu (missing %zu, unexpected %zu, bad captions %zu), "
                "most open at once %zu, cap reached %zu times; history %zu entries, "
                "%zu misplaced; receipts %zu of %zu, %zu wrong; forged senders %zu, their "
                "targets reachable %zu, written to: %s\n",
                boxes.Shown(), expect.PopupCount(), popupsMissing, popupsExtra,
                boxes.BadCaptions(), boxes.MostOpen(), capReached, expect.Entries().size(),
                misplaced, receipts.Blocks(), expect.Receipts(), receipts.Wrong(), forged.size(),
                reachable, forgedWrite ? "YES" : "none");
    std::printf("soak: memory cold %.1f MB; after the warm-up and each round:", Mb(cold.Rss));
    for (const Memory &m : samples)
        std::printf(" %.1f", Mb(m.Rss));
    std::printf(" MB; start (first round) %.1f MB, end %.1f MB, peak %.1f MB; history text "
                "%.2f MB; limit start + 5 x history + %.0f MB jitter = %.1f MB\n",
                Mb(before.Rss), Mb(after.Rss), Mb(peak), pane.size() / 1048576.0, Mb(JitterKib),
                Mb(limitKib));
    std::printf("soak: %s: datagrams=%zu hostile=%zu valid=%zu logged=%zu answered=%zu "
                "boxes-closed=%zu crashes=%d losses=%zu memory-start=%.1fMB memory-end=%.1fMB "
                "history=%.2fMB final-message=%.2fs elapsed=%.0fs\n",
                ok ? "PASS" : "FAIL", hostile + valid, hostile, valid, validLogged,
                receipts.Blocks(), boxes.Closed(), alive ? 0 : 1, losses, Mb(before.Rss),
                Mb(after.Rss), pane.size() / 1048576.0, finalSeconds, elapsed());
    std::fflush(stdout);
    ExitProcess(ok ? 0 : 1);
}
