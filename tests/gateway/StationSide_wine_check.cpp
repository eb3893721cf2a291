// The station side against the real tindrel.exe under Wine, without a
// network, the way the gateway runs it: started as root, it mounts the UNC
// file system on the prefix's dosdevices/unc for USER, then becomes USER
// with no capabilities left, serves the mount with hooks that know the names
// alice and bob and loop whatever goes to bob back into the inbox, and runs
// the relay, which carries it into bob's mailslot. Wine runs as USER.
//   station_wine_check PREFIX PROGRAMS USER
// (PROGRAMS: a folder with tindrel.exe, tindrel-relay.exe and lanpeek.exe.)
// Shows: `/S Bob hello` is one Send of one 420-byte block; opening
// \\Nobody\mailslot\messngr fails with error 3 and `/S Nobody` sends
// nothing; the relay waits for bob's mailslot, and once bob's station
// runs it takes the block and its receipt comes back to alice through the
// file system; at the end the mount is gone. Needs root, /dev/fuse,
// DISPLAY; run by station_side_wine.sh.
#include "gateway/Inbox.h"
#include "gateway/Privileges.h"
#include "gateway/RelaySupervisor.h"
#include "gateway/UncFs.h"
#include "gateway/UncMount.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace {
struct Sent {
    std::string Name, Bytes;
};
std::mutex Lock;
std::vector<Sent> Sends;
std::vector<std::string> Asked;
int Failures = 0;

std::string Lower(std::string s)
{
    for (auto &c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

void Check(bool ok, const std::string &what)
{
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what.c_str());
    std::fflush(stdout);
    if (!ok)
        ++Failures;
}

std::vector<Sent> TakeSends()
{
    const std::lock_guard<std::mutex> hold(Lock);
    return std::exchange(Sends, {});
}

bool Mounted(const std::string &point)
{
    std::ifstream mounts("/proc/self/mountinfo");
    for (std::string line; std::getline(mounts, line);)
        if (line.find(" " + point + " ") != std::string::npos)
            return true;
    return false;
}

std::string StatusLines()
{
    std::ifstream status("/proc/self/status");
    std::string lines;
    for (std::string line; std::getline(status, line);)
        if (line.rfind("Uid:", 0) == 0 || line.rfind("CapEff:", 0) == 0 || line.rfind("NoNewPrivs:", 0) == 0)
            lines += line + "; ";
    return lines;
}

// The programs here are 64-bit: their own loader, as the gateway's relay
// has (Debian's `wine` would pick the 32-bit one).
std::string Loader()
{
    return access("/usr/lib/wine/wine64", X_OK) == 0 ? "/usr/lib/wine/wine64" : "wine";
}

std::string Command(const std::string &prefix, const std::string &user, const std::string &args)
{
    return "cd / && USER=" + user + " WINEPREFIX='" + prefix + "' WINEDEBUG=-all timeout 60 " + Loader() + " " + args;
}

int Wine(const std::string &prefix, const std::string &user, const std::string &args)
{
    const int status = std::system(Command(prefix, user, args).c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : 255;
}

std::string WineOutput(const std::string &prefix, const std::string &args)
{
    std::string out;
    if (FILE *pipe = popen(Command(prefix, "alice", args).c_str(), "r")) {
        char buffer[256];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}
} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: station_wine_check PREFIX PROGRAMS USER\n");
        return 2;
    }
    const std::string prefix = argv[1], programs = argv[2], point = prefix + "/dosdevices/unc";
    const std::string tindrel = programs + "/tindrel.exe", relay = programs + "/tindrel-relay.exe",
                      peek = programs + "/lanpeek.exe";
    std::string error;
    Account account;
    std::unique_ptr<UncMount> mount;
    if (!ChooseAccount(argv[3], prefix, account, error) ||
        !(mount = UncMount::Mount(point, account, error)) || !BecomeAccount(account, error) || !LockDown(error)) {
        std::fprintf(stderr, "station_wine_check: %s\n", error.c_str());
        return 2;
    }
    Check(getuid() == account.Uid, "runs as " + account.Name + ": " + StatusLines());
    setenv("HOME", account.Home.c_str(), 1);
    unsetenv("XDG_RUNTIME_DIR");

    const auto inbox = Inbox::Open(prefix, error);
    UncHooks hooks;
    hooks.Exists = [](const std::string &name) {
        const std::lock_guard<std::mutex> hold(Lock);
        Asked.push_back(name);
        return Lower(name) == "alice" || Lower(name) == "bob";
    };
    Inbox *station = inbox.get();
    hooks.Send = [station](const std::string &name, const std::uint8_t *data, std::size_t size) {
        {
            const std::lock_guard<std::mutex> hold(Lock);
            Sends.push_back({name, std::string(reinterpret_cast<const char *>(data), size)});
        }
        if (Lower(name) == "bob")
            station->Deliver(data, size);
        return true;
    };
    std::unique_ptr<UncFs> fs;
    RelayCommand command;
    if (!inbox || !(fs = UncFs::Serve(*mount, hooks, error)) ||
        !WineRelayCommand(relay, prefix, inbox->FifoPath(), account, command, error)) {
        std::fprintf(stderr, "station_wine_check: %s\n", error.c_str());
        return 2;
    }
    auto supervisor = RelaySupervisor::Start(*inbox, command);

    const int sent = Wine(prefix, "alice", "'" + tindrel + "' /S Bob hello");
    auto sends = TakeSends();
    Check(sent == 0, "/S Bob hello exits 0 (" + std::to_string(sent) + ")");
    Check(sends.size() == 1, "one Send for one /S (" + std::to_string(sends.size()) + ")");
    if (!sends.empty()) {
        Check(sends[0].Name == "Bob", "to the name as typed (" + sends[0].Name + ")");
        Check(sends[0].Bytes.size() == 420, "of 420 bytes (" + std::to_string(sends[0].Bytes.size()) + ")");
        Check(sends[0].Bytes.compare(0, 10, std::string("alice\0Bob\0", 10)) == 0 &&
                  sends[0].Bytes.find("hello") != std::string::npos,
              "carrying alice, Bob and hello");
    }

    const std::string probe = WineOutput(prefix, "'" + peek + "' probe bOB Nobody");
    Check(probe == "bOB ok\nNobody error 3\n", "opens: " + probe);
    Wine(prefix, "alice", "'" + tindrel + "' /S Nobody hello");
    Check(TakeSends().empty(), "/S Nobody and the opens send nothing");
    {
        const std::lock_guard<std::mutex> hold(Lock);
        bool asked = false;
        for (const auto &name : Asked)
            asked = asked || name == "Nobody";
        Check(asked, "after asking for Nobody");
    }

    // bob's station: the relay has been waiting for its mailslot.
    std::system(("cd / && USER=bob WINEPREFIX='" + prefix + "' WINEDEBUG=-all " + Loader() + " '" + tindrel +
                 "' >/dev/null 2>&1 &")
                    .c_str());
    std::string receipt;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (receipt.empty() && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        for (const auto &s : TakeSends())
            if (Lower(s.Name) == "alice")
                receipt = s.Bytes;
    }
    Check(!receipt.empty(), "bob's station got the block through the relay and answered alice");
    const InboxCounts counts = inbox->Counts();
    Check(counts.Queued == 1 && counts.DroppedFull == 0 && counts.RelayStarts == 1,
          "inbox: 1 queued, none dropped, the relay started once");

    supervisor.reset();
    fs.reset();
    mount.reset();
    Check(!Mounted(point), "the mount is gone at the end");
    std::printf("%s\n", Failures == 0 ? "station side under Wine: all checks passed"
                                      : "station side under Wine: FAILED");
    return Failures == 0 ? 0 : 1;
}
