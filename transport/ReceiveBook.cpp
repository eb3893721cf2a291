// See ReceiveBook.h.
#include "transport/ReceiveBook.h"

DatagramVerdict Accept(ReceiveBook &book, const MessageRecord &record)
{
    DatagramVerdict verdict;
    if (record == book.LastRawMessage)
        return verdict;
    book.LastRawMessage = record;
    verdict.Sender = TakeField(record);
    if (!IsReceipt(record)) {
        verdict.Kind = DatagramKind::Message;
        return verdict;
    }
    verdict.Kind = DatagramKind::Receipt;
    verdict.LogReceipt = verdict.Sender != book.LastReceiptSender;
    if (verdict.LogReceipt)
        book.LastReceiptSender = verdict.Sender;
    return verdict;
}
