// The mailslot's floor for the drain figure: owns \\.\mailslot\messngr, reads
// each datagram and writes one receipt block to the sender's mailslot (open,
// write, close, as a station does), nothing else. Ends after the number of
// datagrams given as its argument. Started by bench/Driver.cpp.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char **argv)
{
    const long count = argc > 1 ? std::atol(argv[1]) : 1000;
    const HANDLE slot =
        CreateMailslotA("\\\\.\\mailslot\\messngr", 0, MAILSLOT_WAIT_FOREVER, nullptr);
    if (slot == INVALID_HANDLE_VALUE)
        return 2;
    // The same receipt bytes a station writes: user@computer, recipient, marker.
    char receipt[420] = {};
    std::strcpy(receipt, "bench@BENCH");
    std::memcpy(receipt + 13, "\x03\x04\x03", 3);
    for (long n = 0; n < count;) {
        char area[422] = {};
        DWORD got = 0;
        if (!ReadFile(slot, area, 420, &got, nullptr) || area[0] == '\0')
            continue;
        ++n;
        const std::string path = std::string("\\\\") + area + "\\mailslot\\messngr";
        const HANDLE target = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (target == INVALID_HANDLE_VALUE)
            continue;
        DWORD written = 0;
        WriteFile(target, receipt, sizeof receipt, &written, nullptr);
        CloseHandle(target);
    }
    CloseHandle(slot);
    return 0;
}
