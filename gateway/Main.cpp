// tindrel-gateway: the command line, -v logging, signals, and the order in
// which the parts start and end. Every failure is one line on stderr and
// exit status 1.
#include "gateway/Daemon.h"
#include "gateway/Inbox.h"
#include "gateway/Network.h"
#include "gateway/Status.h"
#include "gateway/UncFs.h"
#include "gateway/codec/Datagram.h"
#include "gateway/codec/NameService.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <string>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char *const Usage =
    "usage: tindrel-gateway --user NAME --computer NAME --workgroup NAME --prefix WINEPREFIX\n"
    "                       [--interface IFNAME] [--relay PATH/TO/tindrel-relay.exe] [-v]\n"
    "       tindrel-gateway status --prefix WINEPREFIX\n";

int Fail(const std::string &line)
{
    std::fprintf(stderr, "tindrel-gateway: %s\n", line.c_str());
    return 1;
}

void LogLine(const std::string &line)
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t t = std::chrono::system_clock::to_time_t(now);
    const int ms = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm tm{};
    localtime_r(&t, &tm);
    // One call per line, so lines from the loop and the file system's
    // threads never interleave.
    std::fprintf(stderr, "%02d:%02d:%02d.%03d %s\n", tm.tm_hour, tm.tm_min, tm.tm_sec, ms, line.c_str());
}

struct Options {
    bool Status = false;
    bool Verbose = false;
    std::map<std::string, std::string> Values;
};

// Fills `o` from argv; on bad input says why in `error`.
bool Parse(int argc, char **argv, Options &o, std::string &error)
{
    const std::vector<std::string> known = {"--user", "--computer", "--workgroup", "--prefix",
                                            "--interface", "--relay"};
    int i = 1;
    if (argc > 1 && std::string(argv[1]) == "status") {
        o.Status = true;
        i = 2;
    }
    for (; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-v" || arg == "--verbose") {
            o.Verbose = true;
            continue;
        }
        std::string value;
        const auto eq = arg.find('=');
        const bool inlineValue = arg.rfind("--", 0) == 0 && eq != std::string::npos;
        if (inlineValue) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
        }
        bool isKnown = false;
        for (const auto &k : known)
            isKnown = isKnown || k == arg;
        if (!isKnown) {
            error = "unknown argument \"" + arg + "\"; see tindrel-gateway --help";
            return false;
        }
        if (!inlineValue) {
            if (i + 1 >= argc) {
                error = arg + " needs a value";
                return false;
            }
            value = argv[++i];
        }
        if (value.empty()) {
            error = arg + " needs a value";
            return false;
        }
        if (!o.Values.emplace(arg, value).second) {
            error = arg + " is given twice";
            return false;
        }
    }
    const std::vector<std::string> required =
        o.Status ? std::vector<std::string>{"--prefix"}
                 : std::vector<std::string>{"--user", "--computer", "--workgroup", "--prefix"};
    for (const auto &r : required)
        if (!o.Values.count(r)) {
            error = "missing " + r + "; see tindrel-gateway --help";
            return false;
        }
    if (o.Status && o.Values.size() > 1) {
        error = "status takes only --prefix";
        return false;
    }
    return true;
}

// The prefix as an absolute path: Wine and the relay resolve it from
// elsewhere.
bool PrefixPath(const std::string &given, std::string &out, std::string &error)
{
    char *real = ::realpath(given.c_str(), nullptr);
    struct stat st{};
    if (!real || ::stat(real, &st) != 0 || !S_ISDIR(st.st_mode)) {
        std::free(real);
        error = "the prefix " + given + " is not a directory";
        return false;
    }
    out = real;
    std::free(real);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) == "--help" || std::string(argv[i]) == "-h") {
            std::fputs(Usage, stdout);
            return 0;
        }
    Options o;
    std::string error;
    if (!Parse(argc, argv, o, error))
        return Fail(error);
    std::string prefix;
    if (!PrefixPath(o.Values["--prefix"], prefix, error))
        return Fail(error);
    if (o.Status)
        return PrintStatus(prefix, error) ? 0 : Fail(error);
    // Checked before any name goes out: Wine looks for \\NAME\... there.
    struct stat dos{};
    if (::stat((prefix + "/dosdevices").c_str(), &dos) != 0 || !S_ISDIR(dos.st_mode))
        return Fail("the prefix " + prefix + " has no dosdevices folder; is it a Wine prefix? (wineboot makes one)");

    DaemonConfig config;
    config.User = o.Values["--user"];
    config.Computer = o.Values["--computer"];
    config.Workgroup = o.Values["--workgroup"];
    if (o.Verbose)
        config.Log = LogLine;
    config.Deliver = DeliverToStation;
    config.ExtraStatus = [] {
        const InboxCounts c = InboxStatistics();
        return "station queue: " + std::to_string(c.Queued) + " queued, " + std::to_string(c.Waiting) +
               " waiting, " + std::to_string(c.DroppedFull) + " dropped (full), " +
               std::to_string(c.DroppedSize) + " dropped (size), relay started " +
               std::to_string(c.RelayStarts) + " times\n";
    };
    if (!FindInterface(o.Values.count("--interface") ? o.Values["--interface"] : "", config.Iface, error))
        return Fail(error);
    const std::string ready_on = FormatIpv4(config.Iface.Address) + "/" + std::to_string(config.Iface.PrefixLength);
    std::unique_ptr<Daemon> daemon = Daemon::Create(config, error);
    if (!daemon)
        return Fail(error);

    // Signals are taken by the loop through a signalfd; they are blocked
    // before any thread starts so that no other thread takes them.
    sigset_t mask;
    sigemptyset(&mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&mask, sig);
    pthread_sigmask(SIG_BLOCK, &mask, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    UniqueFd signals(::signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC));
    if (!signals)
        return Fail("cannot create a signalfd");

    DaemonSockets sockets;
    if (!BindUdp(NameServicePort, sockets.Names, error) || !BindUdp(DatagramPort, sockets.Datagrams, error) ||
        !ListenControl(prefix, sockets.Control, error))
        return Fail(error);
    sockets.Signals = signals.get();
    daemon->Attach(std::move(sockets));
    const std::string control = ControlSocketPath(prefix);

    if (!daemon->Register(error)) {
        ::unlink(control.c_str());
        return error.empty() ? 0 : Fail(error);
    }

    UncHooks hooks;
    Daemon *d = daemon.get();
    // No exception may cross into the file system's callbacks.
    hooks.Exists = [d](const std::string &name) noexcept {
        try {
            return d->Lookup(name).has_value();
        } catch (...) {
            return false;
        }
    };
    hooks.Send = [d](const std::string &name, const std::uint8_t *data, std::size_t size) noexcept {
        try {
            return d->Send(name, data, size);
        } catch (...) {
            return false;
        }
    };
    const std::string unc = prefix + "/dosdevices/unc";
    bool mounted = false, inbox = false;
    bool started = MountUnc(unc, hooks, error);
    mounted = started;
    if (started)
        inbox = started = OpenInbox(prefix, error);
    if (started && o.Values.count("--relay"))
        started = StartRelay(o.Values["--relay"], prefix, error);

    if (started) {
        std::printf("tindrel-gateway: ready: %s on %s\n", daemon->NamesText().c_str(), ready_on.c_str());
        std::fflush(stdout);
        daemon->Run();
    }
    daemon->EndLookups();
    if (mounted)
        UnmountUnc();
    if (inbox)
        CloseInbox();
    daemon->Release();
    ::unlink(control.c_str());
    return started ? 0 : Fail(error);
}
