// See Mailslot.h.
#include "tests/drive/Mailslot.h"
#include "tests/drive/Files.h"

#include <windows.h>

#include <algorithm>

namespace drive {

namespace {
FileHandle OpenForWriting(const std::string &path, DWORD flags)
{
    return FileHandle(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, flags, nullptr));
}
} // namespace

std::string MailslotOf(const std::string &name)
{
    return "\\\\" + name + "\\mailslot\\messngr";
}

bool WriteBlock(const std::string &path, const std::string &bytes)
{
    const FileHandle slot = OpenForWriting(path, FILE_ATTRIBUTE_NORMAL);
    return slot && WriteAll(slot, bytes);
}

bool WriteToStation(const std::string &bytes)
{
    return WriteBlock(LocalMailslot, bytes);
}

bool WriteToStationWhile(const std::string &bytes, const std::function<bool()> &running)
{
    const FileHandle slot = OpenForWriting(LocalMailslot, FILE_FLAG_OVERLAPPED);
    if (!slot)
        return false;
    const EventHandle done(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    OVERLAPPED overlapped = {};
    overlapped.hEvent = done.get();
    DWORD written = 0;
    BOOL ok = WriteFile(slot.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                        &overlapped);
    if (!ok && GetLastError() == ERROR_IO_PENDING) {
        while (WaitForSingleObject(done.get(), 500) == WAIT_TIMEOUT)
            if (!running())
                CancelIoEx(slot.get(), &overlapped);
        ok = GetOverlappedResult(slot.get(), &overlapped, &written, TRUE);
    }
    return ok && written == bytes.size();
}

unsigned long OpenError(const std::string &path)
{
    const FileHandle slot = OpenForWriting(path, FILE_ATTRIBUTE_NORMAL);
    return slot ? 0 : GetLastError();
}

bool Opens(const std::string &path)
{
    return OpenError(path) == 0;
}

FileHandle TakeLocalMailslot()
{
    return FileHandle(CreateMailslotA(LocalMailslot, 0, MAILSLOT_WAIT_FOREVER, nullptr));
}

std::string MessageBlock(const std::string &sender, const std::string &recipient,
                         const std::string &text)
{
    std::string block = sender + '\x02' + recipient + '\x02' + text + "\x02\x02\x02\x02";
    std::replace(block.begin(), block.end(), '\x02', '\0');
    block.resize(BlockSize, '\0');
    return block;
}

} // namespace drive
