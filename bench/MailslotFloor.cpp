// The Wine side of bench/gateway.sh: the time from a datagram's write to its
// arrival, median of COUNT, for a local mailslot and through the gateways.
//
//   bench_mailslot_floor.exe local COUNT
//       open, write, close a 420-byte datagram into a mailslot of this
//       process, until it has been read back
//   bench_mailslot_floor.exe remote COUNT UNC FIFO
//       open, write, close into UNC (\\bob\mailslot\messngr through the
//       sending gateway), until its frame has been read from FIFO (the
//       receiving gateway's inbox, as Z:\...); also the open, write,
//       close alone
// Prints "R name value" lines.
#include "platform/Handles.h"
#include "tests/drive/Files.h"
#include "tests/drive/Mailslot.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {
constexpr DWORD Size = 420;

double Now()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

bool ReadExactly(HANDLE h, char *buffer, DWORD size)
{
    DWORD have = 0;
    while (have < size) {
        DWORD got = 0;
        if (!ReadFile(h, buffer + have, size - have, &got, nullptr))
            return false;
        have += got;
    }
    return true;
}

void Report(const char *name, std::vector<double> &ms, int count)
{
    std::printf("R %s_count %zu of %d\n", name, ms.size(), count);
    if (ms.empty())
        return;
    std::sort(ms.begin(), ms.end());
    std::printf("R %s_median_ms %.3f\n", name, ms[ms.size() / 2]);
    std::printf("R %s_p90_ms %.3f\n", name, ms[ms.size() * 9 / 10]);
}
} // namespace

int main(int argc, char **argv)
{
    const std::string mode = argc > 2 ? argv[1] : "";
    const int count = argc > 2 ? std::atoi(argv[2]) : 0;
    const std::string data(Size, 'm');
    std::vector<double> ms;
    char buffer[2 + Size];
    if (mode == "local" && argc == 3) {
        const char *path = "\\\\.\\mailslot\\gwfloor";
        const FileHandle slot(CreateMailslotA(path, 0, MAILSLOT_WAIT_FOREVER, nullptr));
        if (!slot)
            return std::fprintf(stderr, "cannot create the mailslot (%lu)\n", GetLastError()), 1;
        for (int i = 0; i < count; ++i) {
            const double start = Now();
            DWORD got = 0;
            if (!drive::WriteBlock(path, data) ||
                !ReadFile(slot.get(), buffer, sizeof buffer, &got, nullptr))
                continue;
            ms.push_back(Now() - start);
        }
        Report("mailslot_local", ms, count);
        return 0;
    }
    if (mode == "remote" && argc == 5) {
        const FileHandle fifo = drive::OpenFifo(argv[4]);
        if (!fifo)
            return std::fprintf(stderr, "cannot open %s (%lu)\n", argv[4], GetLastError()), 1;
        std::vector<double> writes;
        for (int i = 0; i < count; ++i) {
            const double start = Now();
            if (!drive::WriteBlock(argv[3], data))
                continue;
            const double written = Now();
            if (!ReadExactly(fifo.get(), buffer, sizeof buffer))
                continue;
            writes.push_back(written - start);
            ms.push_back(Now() - start);
        }
        Report("wine_unc_write", writes, count);
        Report("wine_to_inbox", ms, count);
        return 0;
    }
    std::fprintf(stderr, "usage: bench_mailslot_floor.exe local COUNT | remote COUNT UNC FIFO\n");
    return 2;
}
