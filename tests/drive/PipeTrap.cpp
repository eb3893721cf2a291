// See PipeTrap.h.
#include "tests/drive/PipeTrap.h"
#include "tests/drive/Mailslot.h"
#include "platform/Handles.h"

#include <windows.h>

namespace drive {

struct PipeTrap::Server {
    // Declared first, so it outlives the pipe, whose pending connect signals it.
    EventHandle Event{CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    FileHandle Pipe;
    OVERLAPPED Overlapped{};
    bool Armed = false;

    bool Listen()
    {
        ResetEvent(Event.get());
        Overlapped = {};
        Overlapped.hEvent = Event.get();
        if (ConnectNamedPipe(Pipe.get(), &Overlapped))
            return true;
        const DWORD error = GetLastError();
        if (error == ERROR_PIPE_CONNECTED)
            SetEvent(Event.get());
        return error == ERROR_IO_PENDING || error == ERROR_PIPE_CONNECTED;
    }

    bool Connected(DWORD waitMs) const
    {
        return WaitForSingleObject(Event.get(), waitMs) == WAIT_OBJECT_0;
    }
};

PipeTrap::PipeTrap(const std::string &sender) : server_(std::make_unique<Server>())
{
    Server &s = *server_;
    const std::string path = MailslotOf(sender);
    s.Pipe = FileHandle(CreateNamedPipeA(path.c_str(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED,
                                         PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr));
    if (!s.Pipe || !s.Listen() || !Opens(path))
        return;
    s.Armed = s.Connected(2000);
    DisconnectNamedPipe(s.Pipe.get());
    s.Armed = s.Armed && s.Listen();
}

PipeTrap::~PipeTrap()
{
    if (server_->Pipe)
        CancelIo(server_->Pipe.get());
}

bool PipeTrap::Armed() const
{
    return server_->Armed;
}

bool PipeTrap::Untouched() const
{
    return !server_->Connected(0);
}

} // namespace drive
