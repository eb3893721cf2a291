// See Identity.h.
#include "platform/Identity.h"

#include <windows.h>
#include <winnetwk.h>

bool QueryComputerName(char *buffer, std::size_t capacity)
{
    DWORD size = static_cast<DWORD>(capacity);
    return GetComputerNameA(buffer, &size) != 0;
}

bool QueryUserName(char *buffer, std::size_t capacity)
{
    DWORD size = static_cast<DWORD>(capacity);
    return GetUserNameA(buffer, &size) != 0;
}

bool QueryNetworkUser(char *buffer, std::size_t capacity)
{
    DWORD size = static_cast<DWORD>(capacity);
    return WNetGetUserA(nullptr, buffer, &size) == NO_ERROR;
}
