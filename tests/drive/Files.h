// Files as a program inside a Wine prefix reaches them: Unix paths through
// Wine's Z: drive and back, whole small files, and FIFOs that catch what a
// station writes to a name (read from a thread of their own).
#pragma once

#include "platform/Handles.h"

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <thread>

namespace drive {

// A Unix path as Wine's Z: drive shows it.
std::string WindowsPathOf(const std::string &unixPath);
// The Unix path of a Windows path (Wine's own mapping), or "" (also on
// Windows itself, which has no such mapping).
std::string UnixPathOf(const std::string &windowsPath);

bool FileExists(const std::string &windowsPath);
// Everything up to the end (a /proc file's size reads as 0); none when the
// file cannot be opened.
std::optional<std::string> ReadWholeFile(const std::string &windowsPath);
bool WriteWholeFile(const std::string &windowsPath, const std::string &bytes);
// Every byte with one WriteFile: one datagram when the file is a mailslot.
bool WriteAll(const FileHandle &file, const std::string &bytes);

// A FIFO opened read-write: a plain reader would see an end of file at
// every writer's close and lose what follows.
FileHandle OpenFifo(const std::string &windowsPath);

// Hands every chunk read from a FIFO to a callback, on a thread of its own,
// until destruction, which wakes the blocked read through a handle of its
// own and joins.
class FifoReader {
public:
    using Chunk = std::function<void(const char *bytes, std::size_t size)>;
    FifoReader(const std::string &windowsPath, Chunk chunk);
    ~FifoReader();
    FifoReader(const FifoReader &) = delete;
    FifoReader &operator=(const FifoReader &) = delete;

    bool Open() const { return fifo_.valid(); }

private:
    void Run();
    const std::string path_;
    const Chunk chunk_;
    FileHandle fifo_;
    std::atomic<bool> stop_{false};
    std::thread reader_;
};

} // namespace drive
