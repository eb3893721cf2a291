// See Traps.h.
#include "tests/wine/Traps.h"
#include "tests/drive/Files.h"
#include "tests/drive/Mailslot.h"
#include "tests/wine/UnixBridge.h"

namespace wine {

namespace {
const std::string Marker(420, 'M');
} // namespace

FileTrap::FileTrap(const std::string &target, const std::string &unixFile)
    : path_(drive::MailslotOf(target))
{
    RunUnix("/bin/mkdir -p " + ShellQuoted(unixFile.substr(0, unixFile.rfind('/'))));
    RunUnix("/usr/bin/touch " + ShellQuoted(unixFile));
    armed_ = drive::WriteBlock(path_, Marker) && Untouched();
}

bool FileTrap::Untouched() const
{
    return drive::ReadWholeFile(path_) == Marker;
}

PipeTrap::PipeTrap(const std::string &target)
    : path_(drive::MailslotOf(target)), event_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
      pipe_(CreateNamedPipeA(path_.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                             PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr))
{
    if (!pipe_ || !Listen())
        return;
    // A client of our own proves that the path reaches this server.
    if (!drive::Opens(path_))
        return;
    armed_ = Connected(2000);
    DisconnectNamedPipe(pipe_.get());
    armed_ = armed_ && Listen();
}

PipeTrap::~PipeTrap()
{
    if (pipe_)
        CancelIo(pipe_.get());
}

bool PipeTrap::Listen()
{
    ResetEvent(event_.get());
    overlapped_ = {};
    overlapped_.hEvent = event_.get();
    if (ConnectNamedPipe(pipe_.get(), &overlapped_))
        return true;
    const DWORD error = GetLastError();
    if (error == ERROR_PIPE_CONNECTED)
        SetEvent(event_.get());
    return error == ERROR_IO_PENDING || error == ERROR_PIPE_CONNECTED;
}

bool PipeTrap::Connected(DWORD waitMs) const
{
    return WaitForSingleObject(event_.get(), waitMs) == WAIT_OBJECT_0;
}

} // namespace wine
