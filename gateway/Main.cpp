// tindrel-gateway: the command line, -v logging, signals, and the order in
// which the parts are opened. Each part closes itself when main's scope
// ends, in the reverse order. Every failure is one line on stderr and exit
// status 1.
#include "gateway/Daemon.h"
#include "gateway/HeldNames.h"
#include "gateway/Inbox.h"
#include "gateway/Network.h"
#include "gateway/Privileges.h"
#include "gateway/RelaySupervisor.h"
#include "gateway/Sockets.h"
#include "gateway/Status.h"
#include "gateway/UncFs.h"
#include "gateway/UncMount.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <arpa/inet.h>
#include <fcntl.h>
#include <map>
#include <string>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const char *const Usage =
    "usage: tindrel-gateway --user NAME --computer NAME --workgroup NAME --prefix WINEPREFIX\n"
    "                       [--interface IFNAME] [--relay PATH/TO/tindrel-relay.exe]\n"
    "                       [--run-as USER] [--wins ADDRESS] [-v]\n"
    "       tindrel-gateway status --prefix WINEPREFIX\n"
    "\n"
    "Started as root, it binds UDP 137 and 138 on IFNAME's address and broadcast\n"
    "address and mounts WINEPREFIX/dosdevices/unc, then runs as USER (by default\n"
    "the owner of WINEPREFIX, who must not be root) with no capabilities, before\n"
    "it reads the network. Started as a user, it needs the right to bind the\n"
    "ports, given once with: sudo setcap cap_net_bind_service=ep PATH/TO/tindrel-gateway\n"
    "\n"
    "With --wins it is an H-node: it registers its names with that WINS server\n"
    "and asks it first for other names; by broadcast while the server is silent.\n";

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
                                            "--interface", "--relay", "--run-as", "--wins"};
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

// The WINS server of --wins: a dotted quad of a host (inet_pton takes
// nothing else), not 0.0.0.0, a broadcast or a multicast address.
bool WinsAddress(const std::string &text, Ipv4 &out, std::string &error)
{
    in_addr a{};
    const bool quad = ::inet_pton(AF_INET, text.c_str(), &a) == 1;
    out = ntohl(a.s_addr);
    if (!quad || out == 0 || out == 0xFFFFFFFFu || (out >> 28) == 0xE) {
        error = "--wins needs the IPv4 address of the WINS server, such as 10.0.0.5, not \"" + text + "\"";
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

// What the file system asks of the daemon. No exception may cross into the
// file system's callbacks.
UncHooks DaemonHooks(Daemon &d)
{
    UncHooks hooks;
    hooks.Exists = [&d](const std::string &name) noexcept {
        try {
            return d.Lookup(name).has_value();
        } catch (...) {
            return false;
        }
    };
    hooks.Send = [&d](const std::string &name, const std::uint8_t *data, std::size_t size) noexcept {
        try {
            return d.Send(name, data, size);
        } catch (...) {
            return false;
        }
    };
    return hooks;
}

std::string StationStatus(const Inbox &inbox)
{
    const InboxCounts c = inbox.Counts();
    return "station queue: " + std::to_string(c.Queued) + " queued, " + std::to_string(c.Waiting) +
           " waiting, " + std::to_string(c.DroppedFull) + " dropped (full), " + std::to_string(c.DroppedSize) +
           " dropped (size), relay started " + std::to_string(c.RelayStarts) + " times\n";
}

// A closed 0, 1 or 2 would be taken by the next descriptor opened, and a
// child's stdin or stdout would then be one of the gateway's.
void KeepStandardDescriptors()
{
    for (int fd = 0; fd < 3; ++fd)
        if (fcntl(fd, F_GETFD) < 0)
            open("/dev/null", O_RDWR);
}

int Serve(Options &o, const std::string &prefix)
{
    std::string error;
    std::optional<Ipv4> wins;
    if (o.Values.count("--wins") && !WinsAddress(o.Values["--wins"], wins.emplace(), error))
        return Fail(error);
    Account account;
    if (!ChooseAccount(o.Values.count("--run-as") ? o.Values["--run-as"] : "", prefix, account, error))
        return Fail(error);
    Interface iface;
    if (!FindInterface(o.Values.count("--interface") ? o.Values["--interface"] : "", iface, error))
        return Fail(error);

    // The privileged work first: the ports, and the mount made for the user.
    const auto sockets = Sockets::Open(iface, error);
    if (!sockets)
        return Fail(error);
    const auto mount = UncMount::Mount(prefix + "/dosdevices/unc", account, error);
    if (!mount)
        return Fail(error);
    // Then the user's rights alone, before any thread starts or any packet
    // is read: whatever runs from here on (the relay, Wine) has no more.
    if (!BecomeAccount(account, error) || !LockDown(error))
        return Fail(error);

    // Signals are taken by the loop through a signalfd; they are blocked
    // before any thread starts so that no other thread takes them.
    sigset_t mask;
    sigemptyset(&mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&mask, sig);
    pthread_sigmask(SIG_BLOCK, &mask, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    const UniqueFd signals(::signalfd(-1, &mask, SFD_NONBLOCK | SFD_CLOEXEC));
    if (!signals)
        return Fail("cannot create a signalfd");

    const auto control = ControlSocket::Listen(prefix, error);
    if (!control)
        return Fail(error);
    const auto inbox = Inbox::Open(prefix, error);
    if (!inbox)
        return Fail(error);

    DaemonConfig config;
    config.User = o.Values["--user"];
    config.Computer = o.Values["--computer"];
    config.Workgroup = o.Values["--workgroup"];
    config.Iface = iface;
    config.Wins = wins;
    if (o.Verbose)
        config.Log = LogLine;
    config.Notice = [](const std::string &line) { std::fprintf(stderr, "tindrel-gateway: %s\n", line.c_str()); };
    Inbox &station = *inbox;
    config.Deliver = [&station](const std::uint8_t *data, std::size_t size) { station.Deliver(data, size); };
    config.ExtraStatus = [&station] { return StationStatus(station); };
    const auto daemon = Daemon::Create(config, error);
    if (!daemon)
        return Fail(error);
    daemon->Attach({sockets->Names(), sockets->NamesBroadcast(), sockets->Datagrams(),
                    sockets->DatagramsBroadcast(), control->Fd(), signals.get()});

    const auto names = HeldNames::Register(*daemon, error);
    if (!names)
        return error.empty() ? 0 : Fail(error);
    const auto fs = UncFs::Serve(*mount, DaemonHooks(*daemon), error);
    if (!fs)
        return Fail(error);
    std::unique_ptr<RelaySupervisor> relay;
    if (o.Values.count("--relay")) {
        RelayCommand command;
        if (!WineRelayCommand(o.Values["--relay"], prefix, inbox->FifoPath(), account, command, error))
            return Fail(error);
        relay = RelaySupervisor::Start(*inbox, std::move(command));
    }

    std::printf("tindrel-gateway: ready: %s on %s/%d\n", daemon->NamesText().c_str(),
                FormatIpv4(iface.Address).c_str(), iface.PrefixLength);
    std::fflush(stdout);
    daemon->Run();
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) == "--help" || std::string(argv[i]) == "-h") {
            std::fputs(Usage, stdout);
            return 0;
        }
    KeepStandardDescriptors();
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
    return Serve(o, prefix);
}
