// See UncFs.h.
#define FUSE_USE_VERSION 35
#include "gateway/UncFs.h"

#include "gateway/UncMount.h"

#include <fuse.h>
#include <fuse_lowlevel.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Lookups may each wait on a name query, so several run side by side.
constexpr int ServingThreads = 4;
constexpr double NegativeSeconds = 0.5;

UncFs &Self()
{
    return *static_cast<UncFs *>(fuse_get_context()->private_data);
}

bool SameWord(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if ((x >= 'A' && x <= 'Z' ? x + 32 : x) != (y >= 'A' && y <= 'Z' ? y + 32 : y))
            return false;
    }
    return true;
}

// What a path names: the root, a NAME, NAME/mailslot, NAME/mailslot/messngr,
// or nothing that can exist.
struct Place {
    enum Kind { Root, Name, Slots, Slot, None } What = None;
    std::string Host;
};

Place Parse(const char *path)
{
    std::vector<std::string_view> parts;
    std::string_view rest(path);
    while (!rest.empty()) {
        const std::size_t slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        if (!part.empty())
            parts.push_back(part);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    }
    Place place;
    if (parts.empty()) {
        place.What = Place::Root;
        return place;
    }
    place.Host = std::string(parts[0]);
    if (parts.size() == 1)
        place.What = Place::Name;
    else if (parts.size() == 2 && SameWord(parts[1], "mailslot"))
        place.What = Place::Slots;
    else if (parts.size() == 3 && SameWord(parts[1], "mailslot") && SameWord(parts[2], "messngr"))
        place.What = Place::Slot;
    return place;
}

// Only the name itself asks the daemon: every path walk passes it, because no
// entry is cached, and the levels below it exist with it.
bool Exists(const Place &place)
{
    switch (place.What) {
    case Place::Root:
        return true;
    case Place::Name:
        return Self().Hooks().Exists(place.Host);
    case Place::Slots:
    case Place::Slot:
        return true;
    case Place::None:
        break;
    }
    return false;
}

void *Init(fuse_conn_info *, fuse_config *config)
{
    // Names come and go with the network: one that left must not look
    // present, and one that did not answer may answer a second later. Wine
    // looks a missing name up twice in a row, though, and each miss is a
    // name query of 1.5 s: half a second of remembering it halves the wait.
    config->entry_timeout = 0;
    config->negative_timeout = NegativeSeconds;
    config->attr_timeout = 0;
    // One request per write() of the station, never merged in a page cache.
    config->direct_io = 1;
    return fuse_get_context()->private_data;
}

int GetAttr(const char *path, struct stat *st, fuse_file_info *)
try {
    const Place place = Parse(path);
    if (!Exists(place))
        return -ENOENT;
    std::memset(st, 0, sizeof *st);
    st->st_uid = getuid();
    st->st_gid = getgid();
    if (place.What == Place::Slot) {
        st->st_mode = S_IFREG | 0666;
        st->st_nlink = 1;
    } else {
        st->st_mode = S_IFDIR | 0755;
        st->st_nlink = 2;
    }
    return 0;
} catch (...) {
    return -EIO;
}

int ReadDir(const char *path, void *buffer, fuse_fill_dir_t fill, off_t, fuse_file_info *,
            fuse_readdir_flags)
try {
    const Place place = Parse(path);
    if (place.What == Place::Slot || place.What == Place::None)
        return -ENOTDIR;
    fill(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    fill(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    // The root lists nothing: which names exist is known only by asking.
    if (place.What == Place::Name)
        fill(buffer, "mailslot", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    else if (place.What == Place::Slots)
        fill(buffer, "messngr", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    return 0;
} catch (...) {
    return -EIO;
}

int Open(const char *path, fuse_file_info *file)
try {
    if (Parse(path).What != Place::Slot)
        return -EISDIR;
    // A mailslot client can only write.
    if ((file->flags & O_ACCMODE) == O_RDONLY)
        return -EACCES;
    file->direct_io = 1;
    file->nonseekable = 1;
    return 0;
} catch (...) {
    return -EIO;
}

int Write(const char *path, const char *data, std::size_t size, off_t, fuse_file_info *)
try {
    const Place place = Parse(path);
    if (place.What != Place::Slot)
        return -EBADF;
    if (!Self().Hooks().Send(place.Host, reinterpret_cast<const std::uint8_t *>(data), size))
        return -EIO;
    return static_cast<int>(size);
} catch (...) {
    return -EIO;
}

// An open with O_TRUNC asks for this; a mailslot has nothing to cut.
int Truncate(const char *path, off_t, fuse_file_info *)
try {
    return Parse(path).What == Place::Slot ? 0 : -EACCES;
} catch (...) {
    return -EIO;
}

fuse_operations Operations()
{
    fuse_operations ops{};
    ops.init = Init;
    ops.getattr = GetAttr;
    ops.readdir = ReadDir;
    ops.open = Open;
    ops.write = Write;
    ops.truncate = Truncate;
    return ops;
}

} // namespace

std::unique_ptr<UncFs> UncFs::Serve(const UncMount &mount, UncHooks hooks, std::string &error)
{
    if (!hooks.Exists || !hooks.Send) {
        error = "the UNC file system needs both hooks";
        return nullptr;
    }
    std::unique_ptr<UncFs> self(new UncFs);
    self->hooks_ = std::move(hooks);
    self->wake_ = UniqueFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    // libfuse takes a mounted device as /dev/fd/N and closes N at the end.
    const int device = fcntl(mount.Device(), F_DUPFD_CLOEXEC, 3);
    if (!self->wake_ || device < 0) {
        if (device >= 0)
            close(device);
        error = std::string("cannot serve the UNC file system: ") + std::strerror(errno);
        return nullptr;
    }
    char program[] = "tindrel-gateway";
    char *argv[] = {program};
    fuse_args args = FUSE_ARGS_INIT(1, argv);
    const fuse_operations ops = Operations();
    self->fs_ = fuse_new(&args, &ops, sizeof ops, self.get());
    fuse_opt_free_args(&args);
    const std::string path = "/dev/fd/" + std::to_string(device);
    if (!self->fs_ || fuse_mount(self->fs_, path.c_str()) != 0) {
        close(device);
        error = "cannot start the UNC file system (libfuse3 refused it)";
        return nullptr;
    }
    fcntl(device, F_SETFL, fcntl(device, F_GETFL) | O_NONBLOCK);
    try {
        for (int i = 0; i < ServingThreads; ++i)
            self->threads_.emplace_back(&UncFs::ServeLoop, self.get());
    } catch (...) {
        error = "cannot start the threads of the UNC file system";
        return nullptr;
    }
    return self;
}

// Like fuse_loop_mt, but each thread also watches the wake eventfd, so that
// the destructor ends them at once instead of waiting for the next request.
// One thread at a time waits for a request and hands the wait on before
// serving it: threads all polling the device woke together for every
// request, which cost ten times the throughput of a single thread.
void UncFs::ServeLoop()
{
    fuse_session *session = fuse_get_session(fs_);
    const int device = fuse_session_fd(session);
    fuse_buf buffer{};
    for (;;) {
        int got = 0;
        {
            const std::lock_guard<std::mutex> reader(reader_);
            while (got == 0 || got == -EAGAIN || got == -EINTR) {
                if (stopping_ || fuse_session_exited(session))
                    break;
                pollfd fds[2] = {{device, POLLIN, 0}, {wake_.get(), POLLIN, 0}};
                if (poll(fds, 2, -1) < 0 && errno != EINTR)
                    break;
                if (fds[1].revents)
                    break;
                got = fuse_session_receive_buf(session, &buffer);
                if (got == 0)
                    break; // unmounted from outside
            }
        }
        if (got <= 0)
            break;
        fuse_session_process_buf(session, &buffer);
    }
    std::free(buffer.mem);
}

UncFs::~UncFs()
{
    stopping_ = true;
    const std::uint64_t one = 1;
    if (wake_ && write(wake_.get(), &one, sizeof one) < 0) {
        // Cannot fail on an eventfd below its maximum.
    }
    for (auto &thread : threads_)
        thread.join();
    // The mount itself is UncMount's: this only closes the device.
    if (fs_)
        fuse_destroy(fs_);
}
