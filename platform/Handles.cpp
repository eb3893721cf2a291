// See Handles.h.
#include "platform/Handles.h"

#include <windows.h>

void CloseKernelHandle(void *handle)
{
    CloseHandle(handle);
}
