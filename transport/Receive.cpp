// See Receive.h.
#include "transport/Receive.h"
#include "UTypes.h"
#include "platform/Locale.h"
#include "platform/Mailslot.h"
#include "platform/Process.h"
#include "platform/Windowing.h"
#include "presentation/History.h"
#include "presentation/HistoryText.h"
#include "presentation/MessageuT.h"
#include "presentation/Stamps.h"
#include "transport/ReceiveBook.h"
#include "transport/Record.h"
#include "transport/Send.h"

namespace {
FileHandle MailslotHandle;
ReceiveBook Book;

// After a logged receipt the title names the answering station for a
// second, and nothing is read in that second, so receipts are logged at most
// one a second. The window's thread goes on with keys, painting and sending:
// the timer messages of that second do nothing, and a timer of its own polls
// once the second is over rather than a poll period later.
constexpr unsigned ReceiptHoldMs = 1000;
constexpr unsigned HoldTimerId = 2; // beside POLL_TIMER_ID
std::uint64_t HoldEnds = 0; // 0: no hold

void StartHold()
{
    HoldEnds = MillisecondsSinceBoot() + ReceiptHoldMs;
    StartWindowTimer(MainWindow, HoldTimerId, ReceiptHoldMs);
}

bool StillHolding()
{
    if (HoldEnds == 0)
        return false;
    const std::uint64_t now = MillisecondsSinceBoot();
    if (now < HoldEnds) {
        // Any timer message may come early by this clock: the rest is waited for.
        StartWindowTimer(MainWindow, HoldTimerId, static_cast<unsigned>(HoldEnds - now));
        return true;
    }
    HoldEnds = 0;
    StopWindowTimer(MainWindow, HoldTimerId);
    return false;
}

// A receipt holds nothing of the message it answers, so it is the same for
// every message: it tells the sender that this station has read one.
void SendReceipt(const std::string &replyTarget)
{
    // A sender field holding a path character or a control byte names no
    // station; writing to it would open a path of the sender's choosing.
    if (!IsSafeReplyTarget(replyTarget))
        return;
    ReadLocalIdentity();
    const DatagramBlock block = ToBlock(ReceiptRecord(CurrentIdentity(), RecipientBuffer()));
    WriteDatagram(MailslotPath(replyTarget), block.data(), block.size());
}

void HandleMessage(MessageRecord record)
{
    const std::string replyTarget = TakeField(record);
    DropField(record);
    const std::string recipient = TakeField(record);
    DropField(record);
    const std::string text = TakeField(record);
    ShowIncoming(PopupText(replyTarget, recipient, text));
}
} // namespace

bool OpenLocalMailslot()
{
    MailslotHandle = CreateLocalMailslot(LocalMailslotPath);
    return MailslotHandle.valid();
}

void CloseLocalMailslot()
{
    MailslotHandle.reset();
}

void PollMailslot()
{
    if (StillHolding())
        return;
    SetTitle(MainWindow, TitlePolling);
    const auto size = NextDatagramSize(MailslotHandle);
    if (!size)
        return;
    ReceiveArea area{};
    // At most one block's worth, so the last two bytes of the area stay NUL;
    // a longer datagram is taken off the queue and handled by its first block.
    const bool taken = ReadNextDatagram(MailslotHandle, *size, area.data(), DatagramSize);
    // The next waiting datagram is taken at the next loop iteration, also
    // after one without a sender: waiting for the timer there would let a
    // flood of empty blocks hold every later message back a second each.
    // A failed read waits for the timer, so an unreadable mailslot cannot
    // spin the loop.
    if (taken)
        PostPollRequest(MainWindow);
    const auto [sender, record] = FromBlock(area);
    if (sender.empty())
        return;

    const DatagramVerdict verdict = Accept(Book, record);
    switch (verdict.Kind) {
    case DatagramKind::Repeat:
        return;
    case DatagramKind::Receipt:
        SetText(MainWindow, TitleDeliveredPrefix + verdict.Sender);
        if (!verdict.LogReceipt)
            return;
        AddHistoryEntry(ReceiptEntry(ReceiptTime(ReadClock()), verdict.Sender));
        StartHold();
        return;
    case DatagramKind::Message:
        HandleMessage(record);
        AddHistoryEntry(ReceivedEntry(ReceivedEntryStamp(ReadClock()), record));
        SendReceipt(verdict.Sender);
        return;
    }
}
