// The station side against the real tindrel.exe under Wine, without a
// network: the UNC file system on the prefix's dosdevices/unc with hooks that
// know the names alice and bob and loop whatever goes to bob back into the
// inbox, and the relay carrying it into bob's mailslot.
//   station_wine_check PREFIX WINDOWS_BUILD
// Shows: `/S Bob hello` is one Send of one 420-byte block; opening
// \\Nobody\mailslot\messngr fails with error 3 and `/S Nobody` sends
// nothing; the relay waits for bob's mailslot, and once bob's station
// runs it takes the block and its receipt comes back to alice through the
// file system. Needs root, /dev/fuse, DISPLAY; run by station_side_wine.sh.
#include "gateway/Inbox.h"
#include "gateway/UncFs.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <sys/wait.h>

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

std::string Command(const std::string &prefix, const std::string &user, const std::string &args)
{
    return "cd / && USER=" + user + " WINEPREFIX='" + prefix + "' WINEDEBUG=-all timeout 60 wine " + args;
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
    if (argc != 3) {
        std::fprintf(stderr, "usage: station_wine_check PREFIX WINDOWS_BUILD\n");
        return 2;
    }
    const std::string prefix = argv[1], build = argv[2];
    const std::string tindrel = build + "/tindrel.exe", relay = build + "/gateway/relay/tindrel-relay.exe",
                      peek = build + "/tools/lanpeek.exe";
    UncHooks hooks;
    hooks.Exists = [](const std::string &name) {
        const std::lock_guard<std::mutex> hold(Lock);
        Asked.push_back(name);
        return Lower(name) == "alice" || Lower(name) == "bob";
    };
    hooks.Send = [](const std::string &name, const std::uint8_t *data, std::size_t size) {
        {
            const std::lock_guard<std::mutex> hold(Lock);
            Sends.push_back({name, std::string(reinterpret_cast<const char *>(data), size)});
        }
        if (Lower(name) == "bob")
            DeliverToStation(data, size);
        return true;
    };
    std::string error;
    if (!MountUnc(prefix + "/dosdevices/unc", hooks, error) || !OpenInbox(prefix, error) ||
        !StartRelay(relay, prefix, error)) {
        std::fprintf(stderr, "station_wine_check: %s\n", error.c_str());
        UnmountUnc();
        CloseInbox();
        return 2;
    }

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
    std::system(("cd / && USER=bob WINEPREFIX='" + prefix + "' WINEDEBUG=-all wine '" + tindrel +
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
    const InboxCounts counts = InboxStatistics();
    Check(counts.Queued == 1 && counts.DroppedFull == 0 && counts.RelayStarts == 1,
          "inbox: 1 queued, none dropped, the relay started once");

    CloseInbox();
    UnmountUnc();
    std::printf("%s\n", Failures == 0 ? "station side under Wine: all checks passed"
                                      : "station side under Wine: FAILED");
    return Failures == 0 ? 0 : 1;
}
