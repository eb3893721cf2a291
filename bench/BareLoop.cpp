// The mailslot's floor for the drain figure: owns \\.\mailslot\messngr, reads
// each datagram and writes one receipt block to the sender's mailslot (open,
// write, close, as a station does), nothing else. Ends after the number of
// datagrams given as its first argument. With the second argument "boxes" it
// also shows a message box per datagram on a thread of its own, the boxes
// opening 20 ms apart as a station's do: the floor of a drain whose boxes are
// closed as they appear. Started by bench/Driver.cpp.
#include "platform/Handles.h"
#include "presentation/PopupQueue.h"
#include "tests/drive/Mailslot.h"

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
// The station's own pacing rule, so the floor opens boxes as a station does.
PopupQueue Pacing(SIZE_MAX, 20);

DWORD WINAPI Box(LPVOID)
{
    Sleep(static_cast<DWORD>(Pacing.OpeningDelay(GetTickCount64())));
    MessageBoxA(nullptr, "From:\tx\r\nTo:\tbench\r\n\r\nbench", "Message - bench", 0x1030);
    return 0;
}
} // namespace

int main(int argc, char **argv)
{
    const long count = argc > 1 ? std::atol(argv[1]) : 1000;
    const bool boxes = argc > 2 && std::strcmp(argv[2], "boxes") == 0;
    const FileHandle slot = drive::TakeLocalMailslot();
    if (!slot)
        return 2;
    // The same receipt bytes a station writes: user@computer, recipient, marker.
    char receipt[420] = {};
    std::strcpy(receipt, "bench@BENCH");
    std::memcpy(receipt + 13, "\x03\x04\x03", 3);
    for (long n = 0; n < count;) {
        char area[422] = {};
        DWORD got = 0;
        if (!ReadFile(slot.get(), area, 420, &got, nullptr) || area[0] == '\0')
            continue;
        ++n;
        if (boxes)
            ThreadHandle(CreateThread(nullptr, 0, Box, nullptr, 0, nullptr)); // runs on alone
        drive::WriteBlock(drive::MailslotOf(area), std::string(receipt, sizeof receipt));
    }
    return 0;
}
