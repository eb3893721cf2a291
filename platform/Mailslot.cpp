// Mailslots on the Windows API; see Mailslot.h.
#include "platform/Mailslot.h"

#include <windows.h>

#include <algorithm>
#include <vector>

FileHandle CreateLocalMailslot(const char *path)
{
    return FileHandle(CreateMailslotA(path, 0, MAILSLOT_WAIT_FOREVER, nullptr));
}

std::optional<std::size_t> NextDatagramSize(const FileHandle &mailslot)
{
    if (!mailslot)
        return std::nullopt;
    DWORD next = MAILSLOT_NO_MESSAGE;
    // The waiting count is unreliable on some platforms; the next size is not.
    if (!GetMailslotInfo(mailslot.get(), nullptr, &next, nullptr, nullptr) ||
        next == MAILSLOT_NO_MESSAGE)
        return std::nullopt;
    return next;
}

bool ReadNextDatagram(const FileHandle &mailslot, std::size_t nextSize, char *area,
                      std::size_t areaSize)
{
    DWORD got = 0;
    if (nextSize <= areaSize)
        return ReadFile(mailslot.get(), area, static_cast<DWORD>(areaSize), &got, nullptr) != 0;

    std::vector<char> whole(nextSize);
    if (!ReadFile(mailslot.get(), whole.data(), static_cast<DWORD>(whole.size()), &got, nullptr))
        return false;
    std::copy_n(whole.begin(), std::min<std::size_t>(got, areaSize), area);
    return true;
}

bool WriteDatagram(const std::string &path, const char *data, std::size_t size)
{
    FileHandle slot(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!slot)
        return false;
    DWORD written = 0;
    return WriteFile(slot.get(), data, static_cast<DWORD>(size), &written, nullptr) &&
           written == size;
}
