// See Inbox.h.
#include "gateway/Inbox.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
std::string ErrnoText(const std::string &what)
{
    return what + ": " + std::strerror(errno);
}
} // namespace

Inbox::Inbox(std::size_t pipeCapacity) : queue_(InboxQueueLimit, pipeCapacity) {}

std::unique_ptr<Inbox> Inbox::Open(const std::string &prefix, std::string &error)
{
    char resolved[PATH_MAX];
    if (!realpath(prefix.c_str(), resolved)) {
        error = ErrnoText("Wine prefix " + prefix);
        return nullptr;
    }
    const std::string dir = std::string(resolved) + "/tindrel-gateway";
    if (mkdir(dir.c_str(), 0755) != 0 && errno != EEXIST) {
        error = ErrnoText("cannot create " + dir);
        return nullptr;
    }
    const std::string fifo = dir + "/inbox";
    struct stat st {};
    // The folder is the gateway's: whatever else sits at the FIFO's name goes.
    if (lstat(fifo.c_str(), &st) == 0 && !S_ISFIFO(st.st_mode))
        unlink(fifo.c_str());
    if (mkfifo(fifo.c_str(), 0600) != 0 && errno != EEXIST) {
        error = ErrnoText("cannot create the FIFO " + fifo);
        return nullptr;
    }
    UniqueFd fd(open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (!fd) {
        error = ErrnoText("cannot open the FIFO " + fifo);
        return nullptr;
    }
    UniqueFd wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake) {
        error = ErrnoText("eventfd");
        return nullptr;
    }
    const int capacity = fcntl(fd.get(), F_GETPIPE_SZ);
    std::unique_ptr<Inbox> inbox(new Inbox(capacity > 0 ? static_cast<std::size_t>(capacity) : 65536));
    inbox->fifoPath_ = fifo;
    inbox->fifo_ = std::move(fd);
    inbox->wake_ = std::move(wake);
    inbox->writer_ = std::thread(&Inbox::WriteLoop, inbox.get());
    return inbox;
}

Inbox::~Inbox()
{
    {
        const std::lock_guard<std::mutex> hold(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    const std::uint64_t one = 1;
    if (write(wake_.get(), &one, sizeof one) < 0) {
        // The writer still wakes within its poll timeout.
    }
    writer_.join();
    unlink(fifoPath_.c_str());
}

// Writes whatever waits, as far as the FIFO takes it without blocking, and
// sleeps in poll() when the FIFO is full so that the lock stays free.
void Inbox::WriteLoop()
{
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        changed_.wait(hold, [&] { return stopping_ || !queue_.Pending().empty(); });
        if (stopping_)
            return;
        const std::string_view bytes = queue_.Pending();
        const ssize_t n = write(fifo_.get(), bytes.data(), bytes.size());
        if (n > 0) {
            queue_.Written(static_cast<std::size_t>(n));
            changed_.notify_all();
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
        pollfd fds[2] = {{fifo_.get(), POLLOUT, 0}, {wake_.get(), POLLIN, 0}};
        poll(fds, 2, 1000);
        hold.lock();
    }
}

void Inbox::Deliver(const std::uint8_t *data, std::size_t size)
{
    const std::lock_guard<std::mutex> hold(lock_);
    switch (queue_.Push(data, size)) {
    case InboxQueue::Verdict::Queued:
        ++counts_.Queued;
        changed_.notify_all();
        break;
    case InboxQueue::Verdict::Full:
        ++counts_.DroppedFull;
        break;
    case InboxQueue::Verdict::BadSize:
        ++counts_.DroppedSize;
        break;
    }
}

InboxCounts Inbox::Counts() const
{
    const std::lock_guard<std::mutex> hold(lock_);
    InboxCounts counts = counts_;
    counts.Waiting = queue_.Waiting();
    return counts;
}

void Inbox::RelayStarted()
{
    const std::lock_guard<std::mutex> hold(lock_);
    ++counts_.RelayStarts;
}

// Reads away the part of a frame that a dead relay had begun, so that the
// next one starts on a boundary.
void Inbox::Realign()
{
    const std::lock_guard<std::mutex> hold(lock_);
    int unread = 0;
    if (ioctl(fifo_.get(), FIONREAD, &unread) != 0)
        return;
    std::size_t skip = queue_.SkipToBoundary(static_cast<std::size_t>(unread));
    char sink[4096];
    while (skip > 0) {
        const ssize_t n = read(fifo_.get(), sink, std::min(skip, sizeof sink));
        if (n <= 0)
            break;
        skip -= static_cast<std::size_t>(n);
    }
}

void Inbox::Drain(std::chrono::steady_clock::time_point until)
{
    std::unique_lock<std::mutex> hold(lock_);
    int unread = 0;
    while (std::chrono::steady_clock::now() < until &&
           (!queue_.Pending().empty() || (ioctl(fifo_.get(), FIONREAD, &unread) == 0 && unread > 0)))
        changed_.wait_for(hold, std::chrono::milliseconds(20));
}
