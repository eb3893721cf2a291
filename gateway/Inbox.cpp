// See Inbox.h.
#include "gateway/Inbox.h"

#include "gateway/InboxQueue.h"
#include "gateway/Network.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {
using Clock = std::chrono::steady_clock;

struct RelayProcess {
    std::string Wine;              // absolute path of the wine launcher
    std::vector<std::string> Args; // wine RELAY Z:\...\inbox
    std::vector<std::string> Env;
    std::thread Supervisor;
    pid_t Pid = -1; // guarded by Inbox::Lock
};

struct Inbox {
    std::string FifoPath;
    UniqueFd Fifo;  // read-write: writes never fail for want of a reader
    UniqueFd Wake;  // eventfd: tells the writer to look at `Stopping`
    std::mutex Lock;
    std::condition_variable Changed;
    InboxQueue Queue;
    InboxCounts Counts;
    bool Stopping = false;
    std::thread Writer;
    std::unique_ptr<RelayProcess> Relay;

    Inbox(std::size_t pipeCapacity) : Queue(InboxQueueLimit, pipeCapacity) {}
};

// Open, start and close take OpenLock; delivery only loads the pointer, so
// that it never waits behind a closing inbox.
std::mutex OpenLock;
std::shared_ptr<Inbox> Current;

std::string ErrnoText(const std::string &what)
{
    return what + ": " + std::strerror(errno);
}

// Writes whatever waits, as far as the FIFO takes it without blocking, and
// sleeps in poll() when the FIFO is full so that the lock stays free.
void WriteLoop(Inbox &inbox)
{
    std::unique_lock<std::mutex> hold(inbox.Lock);
    for (;;) {
        inbox.Changed.wait(hold, [&] { return inbox.Stopping || !inbox.Queue.Pending().empty(); });
        if (inbox.Stopping)
            return;
        const std::string_view bytes = inbox.Queue.Pending();
        const ssize_t n = write(inbox.Fifo.get(), bytes.data(), bytes.size());
        if (n > 0) {
            inbox.Queue.Written(static_cast<std::size_t>(n));
            inbox.Changed.notify_all();
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            std::fprintf(stderr, "tindrel-gateway: cannot write the inbox: %s\n", std::strerror(errno));
            hold.unlock();
            std::this_thread::sleep_for(std::chrono::seconds(1));
            hold.lock();
            continue;
        }
        hold.unlock();
        pollfd fds[2] = {{inbox.Fifo.get(), POLLOUT, 0}, {inbox.Wake.get(), POLLIN, 0}};
        poll(fds, 2, 1000);
        hold.lock();
    }
}

// Reads away the part of a frame that a dead relay had begun, so that the
// next one starts on a boundary. Called with the lock held.
void Realign(Inbox &inbox)
{
    int unread = 0;
    if (ioctl(inbox.Fifo.get(), FIONREAD, &unread) != 0)
        return;
    std::size_t skip = inbox.Queue.SkipToBoundary(static_cast<std::size_t>(unread));
    char sink[4096];
    while (skip > 0) {
        const ssize_t n = read(inbox.Fifo.get(), sink, std::min(skip, sizeof sink));
        if (n <= 0)
            break;
        skip -= static_cast<std::size_t>(n);
    }
}

// Between fork and exec only async-signal-safe calls.
pid_t Spawn(const RelayProcess &relay, const std::vector<char *> &argv, const std::vector<char *> &envp)
{
    const pid_t pid = fork();
    if (pid != 0)
        return pid;
    // The daemon may block signals it takes through signalfd; the relay must
    // not inherit that, and must end with the gateway however it ends.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGPIPE, SIGCHLD})
        signal(sig, SIG_DFL);
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int null = open("/dev/null", O_RDONLY);
    if (null >= 0)
        dup2(null, STDIN_FILENO);
    execve(relay.Wine.c_str(), argv.data(), envp.data());
    _exit(127);
}

void Supervise(Inbox &inbox)
{
    RelayProcess &relay = *inbox.Relay;
    std::vector<char *> argv, envp;
    for (auto &a : relay.Args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    for (auto &e : relay.Env)
        envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);

    auto pause = std::chrono::milliseconds(250);
    std::unique_lock<std::mutex> hold(inbox.Lock);
    while (!inbox.Stopping) {
        const pid_t pid = Spawn(relay, argv, envp);
        if (pid < 0) {
            std::fprintf(stderr, "tindrel-gateway: cannot start the relay: %s\n", std::strerror(errno));
        } else {
            relay.Pid = pid;
            ++inbox.Counts.RelayStarts;
            const auto started = Clock::now();
            hold.unlock();
            int status = 0;
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            hold.lock();
            relay.Pid = -1;
            if (inbox.Stopping)
                break;
            Realign(inbox);
            if (WIFEXITED(status))
                std::fprintf(stderr, "tindrel-gateway: the relay ended with status %d; starting it again\n",
                             WEXITSTATUS(status));
            else
                std::fprintf(stderr, "tindrel-gateway: the relay ended by signal %d; starting it again\n",
                             WIFSIGNALED(status) ? WTERMSIG(status) : 0);
            // A relay that keeps dying at once is retried ever more slowly.
            pause = Clock::now() - started > std::chrono::seconds(10)
                        ? std::chrono::milliseconds(250)
                        : std::min<std::chrono::milliseconds>(pause * 2, std::chrono::seconds(10));
        }
        inbox.Changed.wait_for(hold, pause, [&] { return inbox.Stopping; });
    }
}

std::string FindInPath(const std::string &program)
{
    const char *path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    std::size_t at = 0;
    while (at <= dirs.size()) {
        std::size_t end = dirs.find(':', at);
        if (end == std::string::npos)
            end = dirs.size();
        const std::string candidate = (end > at ? dirs.substr(at, end - at) : ".") + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0)
            return candidate;
        at = end + 1;
    }
    return {};
}

// Z: is the root of the Unix file system in every Wine prefix.
std::string WindowsPath(const std::string &unixPath)
{
    std::string path = "Z:" + unixPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}
} // namespace

bool OpenInbox(const std::string &prefix, std::string &error)
{
    const std::lock_guard<std::mutex> serial(OpenLock);
    if (Current) {
        error = "the inbox is already open";
        return false;
    }
    char resolved[PATH_MAX];
    if (!realpath(prefix.c_str(), resolved)) {
        error = ErrnoText("Wine prefix " + prefix);
        return false;
    }
    const std::string dir = std::string(resolved) + "/tindrel-gateway";
    if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
        error = ErrnoText("cannot create " + dir);
        return false;
    }
    const std::string fifo = dir + "/inbox";
    struct stat st {};
    // The folder is the gateway's: whatever else sits at the FIFO's name goes.
    if (lstat(fifo.c_str(), &st) == 0 && !S_ISFIFO(st.st_mode))
        unlink(fifo.c_str());
    if (mkfifo(fifo.c_str(), 0600) != 0 && errno != EEXIST) {
        error = ErrnoText("cannot create the FIFO " + fifo);
        return false;
    }
    UniqueFd fd(open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        error = ErrnoText("cannot open the FIFO " + fifo);
        return false;
    }
    UniqueFd wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake) {
        error = ErrnoText("eventfd");
        return false;
    }
    const int capacity = fcntl(fd.get(), F_GETPIPE_SZ);
    auto inbox = std::make_shared<Inbox>(capacity > 0 ? static_cast<std::size_t>(capacity) : 65536);
    inbox->FifoPath = fifo;
    inbox->Fifo = std::move(fd);
    inbox->Wake = std::move(wake);
    inbox->Writer = std::thread(WriteLoop, std::ref(*inbox));
    std::atomic_store(&Current, std::move(inbox));
    return true;
}

void DeliverToStation(const std::uint8_t *data, std::size_t size)
{
    const std::shared_ptr<Inbox> inbox = std::atomic_load(&Current);
    if (!inbox)
        return;
    const std::lock_guard<std::mutex> hold(inbox->Lock);
    switch (inbox->Queue.Push(data, size)) {
    case InboxQueue::Verdict::Queued:
        ++inbox->Counts.Queued;
        inbox->Changed.notify_all();
        break;
    case InboxQueue::Verdict::Full:
        ++inbox->Counts.DroppedFull;
        break;
    case InboxQueue::Verdict::BadSize:
        ++inbox->Counts.DroppedSize;
        break;
    }
}

bool StartRelay(const std::string &relayExe, const std::string &prefix, std::string &error)
{
    const std::lock_guard<std::mutex> serial(OpenLock);
    if (!Current) {
        error = "the inbox is not open";
        return false;
    }
    if (Current->Relay) {
        error = "the relay already runs";
        return false;
    }
    char exe[PATH_MAX], pfx[PATH_MAX];
    if (!realpath(relayExe.c_str(), exe)) {
        error = ErrnoText("relay " + relayExe);
        return false;
    }
    if (!realpath(prefix.c_str(), pfx)) {
        error = ErrnoText("Wine prefix " + prefix);
        return false;
    }
    auto relay = std::make_unique<RelayProcess>();
    relay->Wine = FindInPath("wine");
    if (relay->Wine.empty()) {
        error = "cannot find the program wine in PATH (Debian: apt-get install wine)";
        return false;
    }
    relay->Args = {"wine", exe, WindowsPath(Current->FifoPath)};
    for (char **e = environ; *e; ++e)
        if (std::strncmp(*e, "WINEPREFIX=", 11) != 0 && std::strncmp(*e, "WINEDEBUG=", 10) != 0)
            relay->Env.emplace_back(*e);
    relay->Env.push_back(std::string("WINEPREFIX=") + pfx);
    relay->Env.push_back("WINEDEBUG=-all");
    Inbox &inbox = *Current;
    inbox.Relay = std::move(relay);
    inbox.Relay->Supervisor = std::thread(Supervise, std::ref(inbox));
    return true;
}

void CloseInbox()
{
    const std::lock_guard<std::mutex> serial(OpenLock);
    if (!Current)
        return;
    Inbox &inbox = *Current;
    {
        std::unique_lock<std::mutex> hold(inbox.Lock);
        // A short grace so that what arrived just before the end still reaches
        // a running station.
        if (inbox.Relay) {
            const auto until = Clock::now() + std::chrono::seconds(1);
            int unread = 0;
            while (Clock::now() < until &&
                   (!inbox.Queue.Pending().empty() ||
                    (ioctl(inbox.Fifo.get(), FIONREAD, &unread) == 0 && unread > 0))) {
                inbox.Changed.wait_for(hold, std::chrono::milliseconds(20));
            }
        }
        inbox.Stopping = true;
        if (inbox.Relay && inbox.Relay->Pid > 0)
            kill(inbox.Relay->Pid, SIGTERM);
    }
    inbox.Changed.notify_all();
    const std::uint64_t one = 1;
    if (write(inbox.Wake.get(), &one, sizeof one) < 0) {
        // The writer still wakes within its poll timeout.
    }
    if (inbox.Relay) {
        // A relay that ignores SIGTERM is killed after two seconds.
        const auto until = Clock::now() + std::chrono::seconds(2);
        for (;;) {
            pid_t pid;
            {
                const std::lock_guard<std::mutex> hold(inbox.Lock);
                pid = inbox.Relay->Pid;
            }
            if (pid <= 0)
                break;
            if (Clock::now() > until) {
                kill(pid, SIGKILL);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        inbox.Relay->Supervisor.join();
    }
    inbox.Writer.join();
    unlink(inbox.FifoPath.c_str());
    std::atomic_store(&Current, std::shared_ptr<Inbox>());
}

InboxCounts InboxStatistics()
{
    const std::shared_ptr<Inbox> inbox = std::atomic_load(&Current);
    if (!inbox)
        return {};
    const std::lock_guard<std::mutex> hold(inbox->Lock);
    InboxCounts counts = inbox->Counts;
    counts.Waiting = inbox->Queue.Waiting();
    return counts;
}
