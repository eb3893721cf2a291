// See HistoryText.h.
#include "presentation/HistoryText.h"

#include <algorithm>

std::string SentEntry(const std::string &stamp, const MessageRecord &outgoing)
{
    std::string shown = outgoing;
    std::replace_if(shown.begin(), shown.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20; }, FieldSeparator);
    return stamp + shown;
}

namespace {
// Bytes 0x03 to 0x1F, CR LF and TAB among them, shown as 0x03: an entry
// stays on one line whatever a sender put into it.
std::string OnOneLine(std::string text)
{
    std::replace_if(text.begin(), text.end(),
                    [](char c) {
                        const auto b = static_cast<unsigned char>(c);
                        return b >= 0x03 && b <= 0x1F;
                    },
                    '\x03');
    return text;
}
} // namespace

std::string ReceivedEntry(const std::string &stamp, const MessageRecord &record)
{
    MessageRecord oneLine = OnOneLine(record);
    const std::string sender = TakeField(oneLine);
    DropField(oneLine);
    const std::string recipient = TakeField(oneLine);
    DropField(oneLine);
    const std::string text = TakeField(oneLine);
    return stamp + "From:" + sender + ", To:" + recipient + " <<" + text + ">>";
}

std::string ReceiptEntry(const std::string &receiptTime, const std::string &sender)
{
    // A real station's name holds no control byte; a forged one with CR LF
    // would otherwise add lines that look like received messages.
    return "~ " + receiptTime + " Delivered to: " + OnOneLine(sender);
}

std::string PopupText(const std::string &sender, const std::string &recipient,
                      const std::string &text)
{
    return "From:\t" + sender + "\r\nTo:\t" + recipient + "\r\n\r\n" + text;
}
