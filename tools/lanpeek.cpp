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
//   lanpeek.exe title PID              the window title
//   lanpeek.exe history PID            the history pane's text
//   lanpeek.exe boxes PID              every open pop-up: its caption, then
//                                      each line of its text indented by 4
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
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {
constexpr const char *StationClass = "zorvanta_tindrel";
constexpr UINT AnswerWithinMs = 10000;

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

bool Elapsed(std::chrono::steady_clock::time_point start, long timeoutMs)
{
    return std::chrono::steady_clock::now() - start > std::chrono::milliseconds(timeoutMs);
}

struct Search {
    const char *Class; // nullptr: any class
    DWORD Pid;         // 0: any process
    std::vector<HWND> Found;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM param)
{
    auto *search = reinterpret_cast<Search *>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char cls[64] = {};
    GetClassNameA(window, cls, sizeof cls);
    if ((search->Pid == 0 || pid == search->Pid) &&
        (!search->Class || std::strcmp(cls, search->Class) == 0))
        search->Found.push_back(window);
    return TRUE;
}

std::vector<HWND> TopLevel(const char *cls, DWORD pid)
{
    Search search{cls, pid, {}};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.Found;
}

// The station's three edit fields, told apart by their styles.
struct Fields {
    HWND Recipient = nullptr;
    HWND Message = nullptr;
    HWND History = nullptr;
    int Children = 0;
};

BOOL CALLBACK CollectField(HWND child, LPARAM param)
{
    auto *fields = reinterpret_cast<Fields *>(param);
    if (GetParent(child) != GetAncestor(child, GA_PARENT))
        return TRUE; // a grandchild, such as an edit's own scroll bar
    ++fields->Children;
    char cls[16] = {};
    GetClassNameA(child, cls, sizeof cls);
    if (_stricmp(cls, "Edit") != 0)
        return TRUE;
    const LONG style = GetWindowLongA(child, GWL_STYLE);
    if (style & ES_READONLY)
        fields->History = child;
    else if (style & ES_MULTILINE)
        fields->Message = child;
    else
        fields->Recipient = child;
    return TRUE;
}

Fields FieldsOf(HWND window)
{
    Fields fields;
    EnumChildWindows(window, CollectField, reinterpret_cast<LPARAM>(&fields));
    return fields;
}

// Looked for again for a while before giving up: on a loaded machine Wine
// has been seen to leave a running station out of one enumeration.
HWND StationWindow(DWORD pid)
{
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        const auto found = TopLevel(StationClass, pid);
        if (!found.empty())
            return found.front();
        if (Elapsed(start, 5000))
            return nullptr;
        Sleep(50);
    }
}

// What the enumeration saw, for the message of a station that is not found.
std::string WindowsSeen()
{
    std::string seen = std::to_string(TopLevel(nullptr, 0).size()) + " top-level windows, desktop " +
                       (GetDesktopWindow() ? "present" : "missing") + ", stations of process";
    for (HWND window : TopLevel(StationClass, 0)) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        seen += " " + std::to_string(pid);
    }
    return seen;
}

std::string TitleOf(HWND window)
{
    // The system's copy of the caption: answers while the station's thread sleeps.
    char title[512] = {};
    GetWindowTextA(window, title, sizeof title);
    return title;
}

// None when the owner's thread does not answer in time.
std::optional<std::string> TextOf(HWND window)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, AnswerWithinMs, &length))
        return std::nullopt;
    std::string text(length + 1, '\0');
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_NORMAL, AnswerWithinMs, &got))
        return std::nullopt;
    text.resize(got);
    return text;
}

void SetTextOf(HWND window, const char *text)
{
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text), SMTO_NORMAL,
                        AnswerWithinMs, &ignored);
}

bool MailslotOpens()
{
    HANDLE slot = CreateFileA("\\\\.\\mailslot\\messngr", GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (slot == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(slot); // at once: a client handle would outlive the station's mailslot
    return true;
}

int Up(int x, int y, long timeoutMs)
{
    const auto start = std::chrono::steady_clock::now();
    std::string seen = "no station window";
    for (;;) {
        const auto windows = TopLevel(StationClass, 0);
        if (windows.size() == 1) {
            const Fields fields = FieldsOf(windows[0]);
            const bool receiving = MailslotOpens();
            if (fields.Children == 5 && fields.History && receiving) {
                // Asynchronous: a busy station must not hold up the caller.
                SetWindowPos(windows[0], nullptr, x, y, 0, 0,
                             SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_ASYNCWINDOWPOS);
                DWORD pid = 0;
                GetWindowThreadProcessId(windows[0], &pid);
                Out(std::to_string(pid) + "\n");
                return 0;
            }
            seen = "a window with " + std::to_string(fields.Children) + " controls, mailslot " +
                   (receiving ? "open" : "missing");
        } else if (windows.size() > 1) {
            seen = std::to_string(windows.size()) + " station windows";
        }
        if (Elapsed(start, timeoutMs))
            return Fail(1, "no receiving station after " + std::to_string(timeoutMs) +
                               " ms: " + seen);
        Sleep(20);
    }
}

int Boxes(DWORD pid)
{
    for (HWND box : TopLevel("#32770", pid)) {
        // A box is shown once its texts are in; before, it is still being made.
        if (!IsWindowVisible(box))
            continue;
        const std::string text = TextOf(GetDlgItem(box, 0xFFFF)).value_or("");
        std::string shown = TitleOf(box) + "\n";
        std::size_t at = 0;
        for (;;) {
            const std::size_t end = text.find("\r\n", at);
            shown += "    " + text.substr(at, end == std::string::npos ? end : end - at) + "\n";
            if (end == std::string::npos)
                break;
            at = end + 2;
        }
        Out(shown);
    }
    return 0;
}

int WatchTitle(HWND window, const std::string &wanted, long timeoutMs)
{
    const auto start = std::chrono::steady_clock::now();
    std::string last;
    bool first = true;
    for (;;) {
        const std::string title = TitleOf(window);
        if (first || title != last) {
            Out(title + "\n");
            last = title;
            first = false;
        }
        if (title == wanted)
            return 0;
        if (Elapsed(start, timeoutMs) || !IsWindow(window))
            return 1;
        Sleep(5);
    }
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
    const auto start = std::chrono::steady_clock::now();
    DWORD_PTR seen = 0;
    for (;;) {
        DWORD_PTR length = 0;
        SendMessageTimeoutA(history, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, AnswerWithinMs, &length);
        if (length != seen) {
            seen = length;
            if (SentLines(TextOf(history).value_or("")) > before)
                return true;
        }
        if (Elapsed(start, AnswerWithinMs))
            return false;
        Sleep(10);
    }
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
        const int before = SentLines(TextOf(fields.History).value_or(""));
        if (typed) {
            // Cleared as a user selects the old text and types over it.
            SetTextOf(fields.Recipient, "");
            Keys(fields.Recipient, recipient);
            SetTextOf(fields.Message, "");
            Keys(fields.Message, text);
        } else {
            SetTextOf(fields.Recipient, recipient.c_str());
            SetTextOf(fields.Message, text.c_str());
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
         long timeoutMs)
{
    const HWND history = FieldsOf(window).History;
    const auto start = std::chrono::steady_clock::now();
    DWORD_PTR seenLength = static_cast<DWORD_PTR>(-1);
    int found = 0;
    for (;;) {
        if (where == "boxes") {
            found = 0;
            for (HWND box : TopLevel("#32770", pid))
                if (IsWindowVisible(box))
                    found += Count(TextOf(GetDlgItem(box, 0xFFFF)).value_or(""), text) > 0;
        } else {
            DWORD_PTR length = 0;
            SendMessageTimeoutA(history, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, AnswerWithinMs,
                                &length);
            if (length != seenLength) {
                seenLength = length;
                found = Count(TextOf(history).value_or(""), text);
            }
        }
        if (found >= count)
            return 0;
        if (Elapsed(start, timeoutMs))
            return Fail(1, std::to_string(found) + " of " + std::to_string(count) + " in " + where +
                               " after " + std::to_string(timeoutMs) + " ms");
        Sleep(50);
    }
}

int Probe(int argc, char **argv)
{
    for (int i = 2; i < argc; ++i) {
        const std::string path = std::string("\\\\") + argv[i] + "\\mailslot\\messngr";
        HANDLE slot = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        const DWORD error = GetLastError();
        if (slot == INVALID_HANDLE_VALUE) {
            Out(std::string(argv[i]) + " error " + std::to_string(error) + "\n");
        } else {
            CloseHandle(slot); // nothing written: no block reaches anyone
            Out(std::string(argv[i]) + " ok\n");
        }
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
        return Up(std::atoi(argv[2]), std::atoi(argv[3]), std::atol(argv[4]));
    if (command == "probe")
        return Probe(argc, argv);
    if (command == "names" && argc == 2)
        return Names();

    int least = 0; // arguments, the program's name included
    int most = 0;
    if (command == "title" || command == "history" || command == "boxes")
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
    if (command == "title") {
        Out(TitleOf(window) + "\n");
        return 0;
    }
    if (command == "history") {
        const auto text = TextOf(FieldsOf(window).History);
        if (!text)
            return Fail(1, "the station did not answer");
        Out(*text);
        return 0;
    }
    if (command == "boxes")
        return Boxes(pid);
    if (command == "wait")
        return Wait(pid, window, argv[3], argv[4], std::atoi(argv[5]), std::atol(argv[6]));
    if (command == "watch-title")
        return WatchTitle(window, argv[3], std::atol(argv[4]));
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
