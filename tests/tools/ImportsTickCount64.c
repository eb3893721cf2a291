/* A program that imports GetTickCount64, which Windows XP lacks: the import
   check has to reject it. */
#define _WIN32_WINNT 0x0600
#include <windows.h>

int main(void)
{
    return GetTickCount64() == 0;
}
