// See Processes.h.
#include "tests/drive/Processes.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cstring>

namespace drive {

bool StartProgram(const std::string &commandLine, Child &child)
{
    std::string command = commandLine; // CreateProcessA may write into it
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &si, &started))
        return false;
    child.Process.reset(started.hProcess);
    child.Thread.reset(started.hThread);
    child.Pid = started.dwProcessId;
    child.ThreadId = started.dwThreadId;
    return true;
}

ProcessHandle OpenProcessById(unsigned long pid)
{
    return ProcessHandle(OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid));
}

bool Running(const ProcessHandle &process)
{
    return process && WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}

bool WaitForEnd(const ProcessHandle &process, int timeoutMs)
{
    return process &&
           WaitForSingleObject(process.get(), static_cast<DWORD>(timeoutMs)) == WAIT_OBJECT_0;
}

unsigned long ExitCodeOf(const ProcessHandle &process)
{
    DWORD code = STILL_ACTIVE;
    if (process)
        GetExitCodeProcess(process.get(), &code);
    return code;
}

void EndProcess(const ProcessHandle &process, unsigned code, int waitMs)
{
    if (!Running(process))
        return;
    TerminateProcess(process.get(), code);
    WaitForSingleObject(process.get(), static_cast<DWORD>(waitMs));
}

std::set<unsigned long> ProcessesNamed(const char *exeName)
{
    std::set<unsigned long> pids;
    const SnapshotHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot)
        return pids;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot.get(), &entry); more;
         more = Process32Next(snapshot.get(), &entry))
        if (_stricmp(entry.szExeFile, exeName) == 0)
            pids.insert(entry.th32ProcessID);
    return pids;
}

} // namespace drive
