// lanpeek: looks into a running station from outside, for tools/lan and
// the cross-station tests.
//
// Runs inside the station's Wine prefix (FindWindowA and friends see only
// the windows of their own prefix) and drives the station the way a user
// would: it reads the window's title and history pane, lists its pop-up
// boxes, and types into its fields. It also shows what the network looks
// like from that prefix. Output goes to stdout as raw bytes.
//
//   lanpeek.exe up X Y TIMEOUT_MS      wait until the prefix's one station
//                                      receives; move its window to X,Y;
//                                      print its process id
//   lanpeek.exe history PID            the history pane's text
//   lanpeek.exe boxes PID              every open pop-up: its caption, then
//                                      each line of its text indented by 4
//   lanpeek.exe close-boxes PID        press OK in every open pop-up; wait
//                                      until none is left
//   lanpeek.exe watch-title PID TEXT TIMEOUT_MS
//                                      print each new title until TEXT shows;
//                                      exit 1 if it does not in time
//   lanpeek.exe type PID RECIPIENT TEXT...
//                                      for each TEXT: type RECIPIENT into the
//                                      recipient field and TEXT into the
//                                      message field, press Enter in the
//                                      recipient field, wait for the sent line
//   lanpeek.exe paste PID RECIPIENT TEXT...
//                                      the same, with each field's text put
//                                      in at once
//   lanpeek.exe wait PID history|boxes TEXT COUNT TIMEOUT_MS
//                                      wait until TEXT occurs COUNT times in
//                                      the history pane, or in the texts of
//                                      COUNT open pop-ups; exit 1 if not in time
//   lanpeek.exe probe NAME...          open \\NAME\mailslot\messngr: "NAME ok"
//                                      or "NAME error N"
//   lanpeek.exe names                  this prefix's computer and user name
//
// Exit status: 0 done, 1 not in time, 2 usage, 4 no such station window.
#include "tests/drive/Mailslot.h"
#include "tests/drive/Popups.h"
#include "tests/drive/StationWindow.h"
#include "tests/drive/Wait.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {
using namespace drive;

void Out(const std::string &bytes)
{
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
              &written, nullptr);
}

int Fail(int status, const std::string &why)
{
    std::fprintf(stderr, "lanpeek: %s\n", why.c_str());
    return status;
}

// Looked for again for a while before giving up: on a loaded machine Wine
// has been seen to leave a running station out of one enumeration.
HWND StationWindow(DWORD pid)
{
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindStationWindow(pid)) != nullptr; }, 5000, 50);
    return found;
}

// What the enumeration saw, for the message of a station that is not found.
std::string WindowsSeen()
{
    std::string seen = std::to_string(TopLevelWindows(0, nullptr).size()) +
                       " top-level windows, desktop " +
                       (GetDesktopWindow() ? "present" : "missing") + ", stations of process";
    for (HWND window : TopLevelWindows(0, StationClass))
        seen += " " + std::to_string(PidOf(window));
    return seen;
}

int Up(int x, int y, int timeoutMs)
{
    std::string seen = "no station window";
    HWND station = nullptr;
    const bool up = WaitUntil([&] {
        const auto windows = TopLevelWindows(0, StationClass);
        if (windows.size() > 1)
            seen = std::to_string(windows.size()) + " station windows";
        if (windows.size() != 1)
            return false;
        const Fields fields = FieldsOf(windows[0]);
        const bool receiving = Opens(LocalMailslot);
        seen = "a window with " + std::to_string(fields.Controls) + " controls, mailslot " +
               (receiving ? "open" : "missing");
        station = windows[0];
        return fields.Controls == 5 && fields.History && receiving;
    }, timeoutMs);
    if (!up)
        return Fail(1, "no receiving station after " + std::to_string(timeoutMs) + " ms: " + seen);
    // Asynchronous: a busy station must not hold up the caller.
    SetWindowPos(station, nullptr, x, y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_ASYNCWINDOWPOS);
    Out(std::to_string(PidOf(station)) + "\n");
    return 0;
}

int Boxes(DWORD pid)
{
    for (const Box &box : BoxesOf(pid)) {
        std::string shown = box.Caption + "\n";
        std::size_t at = 0;
        for (;;) {
            const std::size_t end = box.Text.find("\r\n", at);
            shown += "    " + box.Text.substr(at, end == std::string::npos ? end : end - at) + "\n";
            if (end == std::string::npos)
                break;
            at = end + 2;
        }
        Out(shown);
    }
    return 0;
}

// Boxes queued behind the cap of open ones show up as others close, 20 ms
// apart, so this goes on until half a second of looks finds none.
int CloseBoxes(DWORD pid)
{
    std::size_t open = 0;
    int quiet = 0;
    const bool closed = WaitUntil([&] {
        const auto boxes = BoxesOf(pid);
        for (const Box &box : boxes)
            CloseBox(box.Window);
        open = boxes.size();
        quiet = boxes.empty() && DialogsOf(pid).empty() ? quiet + 1 : 0;
        return quiet == 5;
    }, 60000, 100);
    return closed ? 0 : Fail(1, std::to_string(open) + " pop-ups still open after 60 s");
}

int WatchTitle(HWND window, const std::string &wanted, int timeoutMs)
{
    std::string last;
    bool first = true;
    WaitUntil([&] {
        const std::string title = TitleOf(window);
        if (first || title != last)
            Out(title + "\n");
        last = title;
        first = false;
        return title == wanted || !IsWindow(window);
    }, timeoutMs, 5);
    return last == wanted ? 0 : 1;
}

int SentLines(const std::string &history)
{
    int n = history.rfind("> ", 0) == 0 ? 1 : 0;
    for (std::size_t at = history.find("\r\n> "); at != std::string::npos;
         at = history.find("\r\n> ", at + 2))
        ++n;
    return n;
}

// Waits until the pane holds more sent lines than before; the length is
// asked first, as it is cheap to answer, and the text only when it changed.
bool AwaitSentLine(HWND history, int before)
{
    std::size_t seen = 0;
    return WaitUntil([&] {
        const std::size_t length = AskTextLength(history).value_or(0);
        if (length == seen)
            return false;
        seen = length;
        return SentLines(AskText(history).value_or("")) > before;
    }, AnswerWithinMs, 10);
}

void Keys(HWND field, const std::string &text)
{
    for (char c : text)
        PostMessageA(field, WM_CHAR, static_cast<unsigned char>(c), 1);
}

// typed: each byte as a key; otherwise put in at once, as a paste would.
int Send(HWND window, bool typed, const std::string &recipient,
         const std::vector<std::string> &texts)
{
    const Fields fields = FieldsOf(window);
    if (!fields.Recipient || !fields.Message || !fields.History)
        return Fail(4, "the station window has no fields");
    for (const std::string &text : texts) {
        const int before = SentLines(AskText(fields.History).value_or(""));
        if (typed) {
            // Cleared as a user selects the old text and types over it.
            SetTextOf(fields.Recipient, "");
            Keys(fields.Recipient, recipient);
            SetTextOf(fields.Message, "");
            Keys(fields.Message, text);
        } else {
            SetTextOf(fields.Recipient, recipient);
            SetTextOf(fields.Message, text);
        }
        // Posted, as keys are: the station's own loop takes them in order.
        PostMessageA(fields.Recipient, WM_KEYDOWN, VK_RETURN, 1);
        PostMessageA(fields.Recipient, WM_KEYUP, VK_RETURN, 0xC0000001);
        if (!AwaitSentLine(fields.History, before))
            return Fail(1, "the station logged no sent line for: " + text);
    }
    return 0;
}

int Count(const std::string &haystack, const std::string &needle)
{
    int n = 0;
    for (std::size_t at = haystack.find(needle); at != std::string::npos;
         at = haystack.find(needle, at + needle.size()))
        ++n;
    return n;
}

// Polls from inside the prefix, far cheaper than a new process per look.
int Wait(DWORD pid, HWND window, const std::string &where, const std::string &text, int count,
         int timeoutMs)
{
    const HWND history = FieldsOf(window).History;
    std::size_t seenLength = static_cast<std::size_t>(-1);
    int found = 0;
    const bool done = WaitUntil([&] {
        if (where == "boxes") {
            found = 0;
            for (const Box &box : BoxesOf(pid))
                found += Count(box.Text, text) > 0;
        } else if (const std::size_t length = AskTextLength(history).value_or(0);
                   length != seenLength) {
            seenLength = length;
            found = Count(AskText(history).value_or(""), text);
        }
        return found >= count;
    }, timeoutMs, 50);
    return done ? 0
                : Fail(1, std::to_string(found) + " of " + std::to_string(count) + " in " + where +
                              " after " + std::to_string(timeoutMs) + " ms");
}

int Probe(int argc, char **argv)
{
    for (int i = 2; i < argc; ++i) {
        // Nothing written: no block reaches anyone.
        const unsigned long error = OpenError(MailslotOf(argv[i]));
        if (error)
            Out(std::string(argv[i]) + " error " + std::to_string(error) + "\n");
        else
            Out(std::string(argv[i]) + " ok\n");
    }
    return 0;
}

int Names()
{
    char computer[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof computer;
    GetComputerNameA(computer, &size);
    char user[256] = {};
    size = sizeof user;
    GetUserNameA(user, &size);
    Out(std::string("computer ") + computer + "\nuser " + user + "\n");
    return 0;
}

int Run(int argc, char **argv)
{
    const std::string command = argc > 1 ? argv[1] : "";
    if (command == "up" && argc == 5)
        return Up(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]));
    if (command == "probe")
        return Probe(argc, argv);
    if (command == "names" && argc == 2)
        return Names();

    int least = 0; // arguments, the program's name included
    int most = 0;
    if (command == "history" || command == "boxes" || command == "close-boxes")
        least = most = 3;
    else if (command == "watch-title")
        least = most = 5;
    else if (command == "type" || command == "paste")
        least = 5, most = argc;
    else if (command == "wait" && argc == 7 &&
             (std::strcmp(argv[3], "history") == 0 || std::strcmp(argv[3], "boxes") == 0))
        least = most = 7;
    if (least == 0 || argc < least || argc > most)
        return Fail(2, "usage: see the head of tools/lanpeek.cpp");
    const DWORD pid = std::strtoul(argv[2], nullptr, 10);
    const HWND window = StationWindow(pid);
    if (!window)
        return Fail(4, "no station window for process " + std::string(argv[2]) +
                           " (" + WindowsSeen() + ")");
    if (command == "history") {
        const auto text = AskText(FieldsOf(window).History);
        if (!text)
            return Fail(1, "the station did not answer");
        Out(*text);
        return 0;
    }
    if (command == "boxes")
        return Boxes(pid);
    if (command == "close-boxes")
        return CloseBoxes(pid);
    if (command == "wait")
        return Wait(pid, window, argv[3], argv[4], std::atoi(argv[5]), std::atoi(argv[6]));
    if (command == "watch-title")
        return WatchTitle(window, argv[3], std::atoi(argv[4]));
    return Send(window, command == "type", argv[3],
                std::vector<std::string>(argv + 4, argv + argc));
}
} // namespace

int main(int argc, char **argv)
{
    try {
        return Run(argc, argv);
    } catch (...) {
        return Fail(3, "out of memory");
    }
}
