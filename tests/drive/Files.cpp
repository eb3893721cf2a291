// See Files.h.
#include "tests/drive/Files.h"

#include <windows.h>

#include <algorithm>

namespace drive {

std::string WindowsPathOf(const std::string &unixPath)
{
    std::string p = "Z:" + unixPath;
    std::replace(p.begin(), p.end(), '/', '\\');
    return p;
}

std::string UnixPathOf(const std::string &windowsPath)
{
    // Wine's own export; absent on Windows itself.
    using ToUnix = char *(CDECL *)(const WCHAR *);
    static const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void *>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    if (!toUnix)
        return "";
    const int n = MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, windowsPath.c_str(), -1, wide.data(), n);
    char *unix = toUnix(wide.c_str());
    if (!unix)
        return "";
    std::string path = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return path;
}

bool FileExists(const std::string &windowsPath)
{
    return GetFileAttributesA(windowsPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::optional<std::string> ReadWholeFile(const std::string &windowsPath)
{
    const FileHandle file(CreateFileA(windowsPath.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      0, nullptr));
    if (!file)
        return std::nullopt;
    std::string bytes;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got > 0)
        bytes.append(buffer, got);
    return bytes;
}

bool WriteWholeFile(const std::string &windowsPath, const std::string &bytes)
{
    const FileHandle file(CreateFileA(windowsPath.c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && WriteAll(file, bytes);
}

bool WriteAll(const FileHandle &file, const std::string &bytes)
{
    DWORD written = 0;
    return WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) &&
           written == bytes.size();
}

FileHandle OpenFifo(const std::string &windowsPath)
{
    return FileHandle(CreateFileA(windowsPath.c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                  nullptr));
}

FifoReader::FifoReader(const std::string &windowsPath, Chunk chunk)
    : path_(windowsPath), chunk_(std::move(chunk)), fifo_(OpenFifo(windowsPath))
{
    if (fifo_)
        reader_ = std::thread([this] { Run(); });
}

FifoReader::~FifoReader()
{
    if (reader_.joinable()) {
        stop_ = true;
        const FileHandle waker(CreateFileA(path_.c_str(), GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, 0, nullptr));
        DWORD written = 0;
        WriteFile(waker.get(), "!", 1, &written, nullptr);
        reader_.join();
    }
}

void FifoReader::Run()
{
    char buffer[8192];
    try {
        for (;;) {
            DWORD got = 0;
            const BOOL ok = ReadFile(fifo_.get(), buffer, sizeof buffer, &got, nullptr);
            if (stop_ || !ok)
                return;
            chunk_(buffer, got);
        }
    } catch (...) {
        // Out of memory in the callback: the reading ends, the process goes on.
    }
}

} // namespace drive
