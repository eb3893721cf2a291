// See UncMount.h.
#include "gateway/UncMount.h"

#include "gateway/Pidfd.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <grp.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr int KeeperWaitMs = 5000;

// Makes the child's real and saved ids its effective ones, so that a
// set-user-ID program it runs sees the user and not root.
void BeEffectiveUser()
{
    const gid_t g = getegid();
    const uid_t u = geteuid();
    if (setresgid(g, g, g) != 0 || setresuid(u, u, u) != 0)
        _exit(126);
}

// `fusermount3 ARGS...` as the effective user; true when it succeeded.
bool Fusermount(const std::vector<std::string> &args)
{
    std::vector<char *> argv{const_cast<char *>("fusermount3")};
    for (const auto &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        BeEffectiveUser();
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    while (pid > 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A dead mount (ENOTCONN) is left only when a gateway and its keeper were
// both killed. A FUSE mount without allow_other answers its own user alone
// (root too gets EACCES, and so does a process that could become root
// again), so a child with nothing but the user's ids looks, and removes it
// with fusermount3, or with umount2 when that user is root.
bool ClearDeadMount(const std::string &point, std::string &error)
{
    const pid_t pid = fork();
    if (pid == 0) {
        BeEffectiveUser();
        const auto dead = [&point] {
            struct stat st {};
            return lstat(point.c_str(), &st) != 0 && errno == ENOTCONN;
        };
        if (dead() && umount2(point.c_str(), MNT_DETACH | UMOUNT_NOFOLLOW) != 0)
            Fusermount({"-u", "-q", "-z", "--", point});
        _exit(dead() ? 1 : 0);
    }
    int status = 0;
    while (pid > 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (pid < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        error = "a dead mount of another user is left on " + point + "; remove it with: sudo umount -l " + point;
        return false;
    }
    return true;
}

// Makes `point` an empty-handed directory to mount on.
bool PrepareMountPoint(const std::string &point, std::string &error)
{
    if (!ClearDeadMount(point, error))
        return false;
    struct stat st {};
    if (lstat(point.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return true;
        if (unlink(point.c_str()) != 0) {
            error = "cannot replace " + point + ": " + std::strerror(errno);
            return false;
        }
    }
    if (mkdir(point.c_str(), 0755) != 0) {
        error = "cannot create " + point + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace

std::unique_ptr<UncMount> UncMount::Mount(const std::string &point, const Account &owner, std::string &error)
{
    std::unique_ptr<UncMount> m(new UncMount);
    m->point_ = point;
    const bool mounted = geteuid() == 0 ? m->MountAsRoot(owner, error) : m->MountAsUser(owner, error);
    if (!mounted)
        return nullptr;
    if (!m->StartKeeper(owner, error)) {
        m->device_.reset();
        if (umount2(point.c_str(), MNT_DETACH) != 0)
            Fusermount({"-u", "-q", "-z", "--", point});
        return nullptr;
    }
    return m;
}

bool UncMount::MountAsRoot(const Account &owner, std::string &error)
{
    UniqueFd target;
    {
        const ActingAs user(owner);
        if (!user.Ok()) {
            error = "cannot take the rights of " + owner.Name + ": " + std::strerror(errno);
            return false;
        }
        if (!PrepareMountPoint(point_, error))
            return false;
        target.reset(open(point_.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat st {};
        if (!target || fstat(target.get(), &st) != 0 || st.st_uid != owner.Uid) {
            error = "the mount point " + point_ + " is not a folder of " + owner.Name + "'s";
            return false;
        }
    }
    device_.reset(open("/dev/fuse", O_RDWR | O_CLOEXEC));
    if (!device_) {
        error = "cannot open /dev/fuse: " + std::string(std::strerror(errno)) + " (is the fuse module loaded?)";
        return false;
    }
    const std::string options = "fd=" + std::to_string(device_.get()) + ",rootmode=40000,user_id=" +
                                std::to_string(owner.Uid) + ",group_id=" + std::to_string(owner.Gid);
    const std::string on = "/proc/self/fd/" + std::to_string(target.get());
    if (mount("tindrel-gateway", on.c_str(), "fuse.tindrel", MS_NOSUID | MS_NODEV, options.c_str()) != 0) {
        error = "cannot mount the UNC file system on " + point_ + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

// fusermount3 mounts for a user and hands the device back over the socket
// named by _FUSE_COMMFD (libfuse's own protocol). libfuse's mount would do
// the same, but leaves a session that cannot be let go without unmounting.
bool UncMount::MountAsUser(const Account &owner, std::string &error)
{
    if (!PrepareMountPoint(point_, error))
        return false;
    if (access("/dev/fuse", R_OK | W_OK) != 0) {
        error = "cannot mount the UNC file system: /dev/fuse is not open to " + owner.Name +
                " (a desktop has it crw-rw-rw-), and fusermount3 needs it";
        return false;
    }
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        error = std::string("socketpair: ") + std::strerror(errno);
        return false;
    }
    UniqueFd ours(pair[0]), theirs(pair[1]);
    std::vector<std::string> env = {"_FUSE_COMMFD=" + std::to_string(theirs.get())};
    for (char **e = environ; *e; ++e)
        if (std::strncmp(*e, "_FUSE_COMMFD=", 13) != 0)
            env.emplace_back(*e);
    std::vector<char *> envp;
    for (auto &e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    char program[] = "fusermount3", dashO[] = "-o", options[] = "fsname=tindrel-gateway,subtype=tindrel",
         dashes[] = "--";
    char *argv[] = {program, dashO, options, dashes, point_.data(), nullptr};
    const pid_t pid = fork();
    if (pid == 0) {
        fcntl(theirs.get(), F_SETFD, 0);
        execvpe(program, argv, envp.data());
        _exit(127);
    }
    theirs.reset();
    char byte;
    iovec iov{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))];
    msghdr message{};
    message.msg_iov = &iov;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    if (pid > 0 && recvmsg(ours.get(), &message, MSG_CMSG_CLOEXEC) > 0) {
        const cmsghdr *c = CMSG_FIRSTHDR(&message);
        if (c && c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS) {
            int fd;
            std::memcpy(&fd, CMSG_DATA(c), sizeof fd);
            device_.reset(fd);
        }
    }
    int status = 0;
    while (pid > 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!device_) {
        error = "cannot mount the UNC file system on " + point_ + " (is fusermount3 installed? it said why above)";
        return false;
    }
    return true;
}

bool UncMount::StartKeeper(const Account &owner, std::string &error)
{
    int cue[2];
    if (pipe2(cue, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + std::strerror(errno);
        return false;
    }
    UniqueFd waits(cue[0]);
    keeperCue_.reset(cue[1]);
    const pid_t pid = fork();
    if (pid < 0) {
        error = std::string("cannot start the unmount keeper: ") + std::strerror(errno);
        return false;
    }
    if (pid == 0) {
        // Out of the gateway's session and deaf to its signals, so that a
        // Ctrl+C or a TERM to the process group ends the gateway and not the
        // keeper, which must still unmount.
        setsid();
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
            signal(sig, SIG_IGN);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        if (owner.Switch && (setgroups(owner.Groups.size(), owner.Groups.data()) != 0 ||
                             setresgid(owner.Gid, owner.Gid, owner.Gid) != 0 ||
                             setresuid(owner.Uid, owner.Uid, owner.Uid) != 0))
            _exit(126);
        const int null = open("/dev/null", O_WRONLY);
        if (dup2(waits.get(), STDIN_FILENO) < 0 || null < 0 || dup2(null, STDOUT_FILENO) < 0)
            _exit(126);
        // Nothing is ever written to the pipe: read returns at its end.
        execl("/bin/sh", "sh", "-c", "read -r _; exec fusermount3 -u -z -- \"$1\"", "tindrel-gateway",
              point_.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    // Only this object waits for the keeper, so its ID cannot be reused first.
    keeper_.reset(pidfd_open(pid, 0));
    if (!keeper_) {
        error = std::string("pidfd_open: ") + std::strerror(errno);
        return false;
    }
    return true;
}

UncMount::~UncMount()
{
    device_.reset();
    keeperCue_.reset();
    if (!keeper_)
        return;
    siginfo_t info;
    if (!ReapWithin(keeper_.get(), KeeperWaitMs, info))
        std::fprintf(stderr, "tindrel-gateway: the mount on %s is not removed yet; fusermount3 still runs\n",
                     point_.c_str());
}
