// See RelaySupervisor.h.
#include "gateway/RelaySupervisor.h"

#include "gateway/Pidfd.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include <fcntl.h>
#include <linux/sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

extern char **environ;

namespace {
using Clock = std::chrono::steady_clock;

// The kernel's struct sigaction, as rt_sigaction takes it.
struct KernelSigaction {
    void (*Handler)(int);
    unsigned long Flags;
    void (*Restorer)();
    std::uint64_t Mask;
};

// Starts the program with its pidfd made in the same step (clone3 with
// CLONE_PIDFD), so there is no moment in which the relay is known by its ID
// alone. Between clone and exec the child makes raw system calls only: it
// is a copy of one thread of a process whose other threads may have held
// locks (libc's, the sanitizers') at that moment.
UniqueFd Spawn(const char *program, char *const *argv, char *const *envp)
{
    int pidfd = -1;
    clone_args args{};
    args.flags = CLONE_PIDFD;
    args.pidfd = reinterpret_cast<std::uintptr_t>(&pidfd);
    args.exit_signal = SIGCHLD;
    const long pid = syscall(SYS_clone3, &args, sizeof args);
    if (pid != 0)
        return UniqueFd(pid > 0 ? pidfd : -1);
    // The gateway takes TERM, INT and HUP through a signalfd and ignores
    // PIPE; the relay gets the defaults, and ends with the gateway however
    // the gateway ends.
    const KernelSigaction defaults{SIG_DFL, 0, nullptr, 0};
    for (int sig : {SIGPIPE, SIGTERM, SIGINT, SIGHUP, SIGCHLD})
        syscall(SYS_rt_sigaction, sig, &defaults, nullptr, sizeof defaults.Mask);
    const std::uint64_t none = 0;
    syscall(SYS_rt_sigprocmask, SIG_SETMASK, &none, nullptr, sizeof none);
    syscall(SYS_prctl, PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    const long null = syscall(SYS_openat, AT_FDCWD, "/dev/null", O_RDONLY);
    if (null > 0)
        syscall(SYS_dup3, null, STDIN_FILENO, 0);
    syscall(SYS_execve, program, argv, envp);
    syscall(SYS_exit_group, 127);
    return UniqueFd();
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

bool Named(const char *entry, const std::vector<std::string> &names)
{
    for (const auto &n : names)
        if (std::strncmp(entry, n.c_str(), n.size()) == 0 && entry[n.size()] == '=')
            return true;
    return false;
}

std::string EndText(const siginfo_t &info)
{
    if (info.si_code == CLD_EXITED)
        return "with status " + std::to_string(info.si_status);
    if (info.si_code == CLD_KILLED || info.si_code == CLD_DUMPED)
        return "by signal " + std::to_string(info.si_status);
    return "(reaped elsewhere)";
}
// True for a 64-bit Windows program (machine 0x8664 in its PE header).
bool IsPe64(const char *path)
{
    std::ifstream file(path, std::ios::binary);
    unsigned char word[4] = {};
    if (!file.seekg(0x3c) || !file.read(reinterpret_cast<char *>(word), 4))
        return false;
    const unsigned long pe = word[0] | word[1] << 8 | word[2] << 16 | static_cast<unsigned long>(word[3]) << 24;
    unsigned char header[6] = {};
    if (pe > 1 << 20 || !file.seekg(static_cast<std::streamoff>(pe)) ||
        !file.read(reinterpret_cast<char *>(header), sizeof header))
        return false;
    return std::memcmp(header, "PE\0\0", 4) == 0 && header[4] == 0x64 && header[5] == 0x86;
}

// Debian's `wine` runs the 32-bit loader whenever wine32 is installed, which
// hands a 64-bit relay on to wine64 (the process supervised would be a
// stand-in) and fails outright where the kernel runs no 32-bit programs.
std::string LoaderFor(const char *exe)
{
    const char *wine64 = "/usr/lib/wine/wine64";
    if (IsPe64(exe) && access(wine64, X_OK) == 0)
        return wine64;
    return FindInPath("wine");
}
} // namespace

bool WineRelayCommand(const std::string &relayExe, const std::string &prefix, const std::string &fifo,
                      const Account &account, RelayCommand &out, std::string &error)
{
    char exe[PATH_MAX], pfx[PATH_MAX];
    if (!realpath(relayExe.c_str(), exe) || !realpath(prefix.c_str(), pfx)) {
        error = "relay " + relayExe + " or prefix " + prefix + ": " + std::strerror(errno);
        return false;
    }
    out = RelayCommand();
    out.Program = LoaderFor(exe);
    if (out.Program.empty()) {
        error = "cannot find the program wine in PATH (Debian: apt-get install wine)";
        return false;
    }
    out.Args = {out.Program, exe, WindowsPath(fifo)};
    std::vector<std::string> replaced = {"WINEPREFIX", "WINEDEBUG"};
    if (account.Switch)
        replaced.insert(replaced.end(), {"HOME", "USER", "LOGNAME", "XDG_RUNTIME_DIR"});
    for (char **e = environ; *e; ++e)
        if (!Named(*e, replaced))
            out.Env.emplace_back(*e);
    out.Env.push_back(std::string("WINEPREFIX=") + pfx);
    out.Env.push_back("WINEDEBUG=-all");
    if (account.Switch)
        for (const char *name : {"USER=", "LOGNAME="})
            out.Env.push_back(name + account.Name);
    if (account.Switch)
        out.Env.push_back("HOME=" + account.Home);
    return true;
}

RelaySupervisor::RelaySupervisor(Inbox &inbox, RelayCommand command) : inbox_(inbox), command_(std::move(command))
{
}

std::unique_ptr<RelaySupervisor> RelaySupervisor::Start(Inbox &inbox, RelayCommand command)
{
    std::unique_ptr<RelaySupervisor> s(new RelaySupervisor(inbox, std::move(command)));
    s->thread_ = std::thread(&RelaySupervisor::Supervise, s.get());
    return s;
}

void RelaySupervisor::Supervise()
{
    std::vector<char *> argv, envp;
    for (const auto &a : command_.Args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    for (const auto &e : command_.Env)
        envp.push_back(const_cast<char *>(e.c_str()));
    envp.push_back(nullptr);

    auto pause = std::chrono::milliseconds(250);
    std::unique_lock<std::mutex> hold(lock_);
    while (!stopping_) {
        relay_ = Spawn(command_.Program.c_str(), argv.data(), envp.data());
        if (!relay_) {
            std::fprintf(stderr, "tindrel-gateway: cannot start the relay: %s\n", std::strerror(errno));
        } else {
            inbox_.RelayStarted();
            const auto started = Clock::now();
            const int pidfd = relay_.get();
            hold.unlock();
            siginfo_t info;
            ReapWithin(pidfd, -1, info);
            hold.lock();
            relay_.reset();
            changed_.notify_all();
            if (stopping_)
                break;
            inbox_.Realign();
            std::fprintf(stderr, "tindrel-gateway: the relay ended %s; starting it again\n", EndText(info).c_str());
            // A relay that keeps dying at once is retried ever more slowly.
            pause = Clock::now() - started > std::chrono::seconds(10)
                        ? std::chrono::milliseconds(250)
                        : std::min<std::chrono::milliseconds>(pause * 2, std::chrono::seconds(10));
        }
        changed_.wait_for(hold, pause, [&] { return stopping_; });
    }
}

void RelaySupervisor::Signal(int sig)
{
    // Through the pidfd, under the lock: the descriptor is closed only once
    // its process is reaped, and it never names another.
    if (relay_)
        pidfd_send_signal(relay_.get(), sig, nullptr, 0);
}

RelaySupervisor::~RelaySupervisor()
{
    // A short grace so that what arrived just before the end still reaches
    // a running station.
    inbox_.Drain(Clock::now() + std::chrono::seconds(1));
    std::unique_lock<std::mutex> hold(lock_);
    stopping_ = true;
    Signal(SIGTERM);
    changed_.notify_all();
    // A relay that ignores TERM is killed after two seconds.
    if (!changed_.wait_for(hold, std::chrono::seconds(2), [&] { return !relay_; }))
        Signal(SIGKILL);
    hold.unlock();
    thread_.join();
}
