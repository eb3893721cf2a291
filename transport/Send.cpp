// See Send.h.
#include "transport/Send.h"
#include "platform/Identity.h"
#include "platform/Locale.h"
#include "platform/Mailslot.h"
#include "platform/Windowing.h"
#include "presentation/History.h"
#include "presentation/HistoryText.h"
#include "presentation/Stamps.h"

#include <cstring>

namespace {
LocalIdentity Identity;
std::string Recipient;        // RecipientBuffer: at most RecipientLimit bytes
std::string MessageTextBuffer; // at most MessageTextLimit bytes

// Disabled for the duration of one send and enabled again however it ends,
// an exception included, so that the station can always send again.
class SendButtonDisabled {
public:
    // Disabling the focused Send button (just clicked) leaves the keyboard
    // focus nowhere; it goes back when the button is enabled again.
    SendButtonDisabled() : focus_(FocusedWindow()) { EnableControl(SendButton, false); }
    ~SendButtonDisabled()
    {
        EnableControl(SendButton, true);
        if (focus_ && !FocusedWindow())
            GiveFocus(focus_);
    }
    SendButtonDisabled(const SendButtonDisabled &) = delete;
    SendButtonDisabled &operator=(const SendButtonDisabled &) = delete;

private:
    WindowHandle focus_;
};
} // namespace

void ReadLocalIdentity()
{
    QueryComputerName(Identity.ComputerName, sizeof Identity.ComputerName);
    if (!QueryUserName(Identity.UserName, sizeof Identity.UserName) &&
        !QueryNetworkUser(Identity.UserName, sizeof Identity.UserName))
        std::memset(Identity.UserName, 0, sizeof Identity.UserName);
    // Whatever a platform call left behind, each name ends inside its buffer.
    Identity.ComputerName[NameBufferSize - 1] = '\0';
    Identity.UserName[NameBufferSize - 1] = '\0';
}

const LocalIdentity &CurrentIdentity()
{
    return Identity;
}

const std::string &RecipientBuffer()
{
    return Recipient;
}

bool ComposeAndSend()
{
    const SendButtonDisabled sending;
    SetText(MainWindow, TitleSending);
    ReadLocalIdentity();
    MessageTextBuffer = ReadWindowText(MessageEdit, MessageTextLimit);
    Recipient = ReadWindowText(RecipientEdit, RecipientLimit);

    const MessageRecord outgoing = OrdinaryRecord(Identity, Recipient, MessageTextBuffer);
    const DatagramBlock block = ToBlock(outgoing);
    // An unreachable destination is not shown; the entry is logged all the same.
    const bool written = WriteDatagram(MailslotPath(Recipient), block.data(), block.size());
    SetText(MainWindow, TitleSending);

    AddHistoryEntry(SentEntry(SentEntryStamp(ReadClock()), outgoing));
    return written;
}
