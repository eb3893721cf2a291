// Wire block and record text form; see Record.h.
#include "transport/Record.h"

#include <algorithm>
#include <cstring>

DatagramBlock ToBlock(const MessageRecord &record)
{
    DatagramBlock block{};
    const std::size_t n = std::min(record.size(), block.size());
    std::replace_copy(record.begin(), record.begin() + n, block.begin(), FieldSeparator, '\0');
    return block;
}

std::pair<std::string, MessageRecord> FromBlock(const ReceiveArea &area)
{
    // The area's last two bytes are always NUL, so the sender search ends inside it.
    std::string sender(area.data(), strnlen(area.data(), area.size()));
    MessageRecord record(area.data(), ReceivedRecordSize);
    std::replace(record.begin(), record.end(), '\0', FieldSeparator);
    return {std::move(sender), std::move(record)};
}

std::string TakeField(const MessageRecord &record)
{
    const auto end = record.find(FieldSeparator);
    return end == std::string::npos ? std::string() : record.substr(0, end);
}

void DropField(MessageRecord &record)
{
    const auto end = record.find(FieldSeparator);
    if (end != std::string::npos)
        record.erase(0, end + 1);
}

bool IsReceipt(const MessageRecord &record)
{
    return record.find(ReceiptMarker) != std::string::npos;
}

std::string MailslotPath(const std::string &target)
{
    return "\\\\" + target + "\\mailslot\\messngr";
}

namespace {
// A name is the text up to NUL, and at most 64 bytes even when a buffer
// arrives without its NUL: reading on would run past the buffer.
std::string NameOf(const char (&buffer)[NameBufferSize])
{
    return std::string(buffer, strnlen(buffer, NameBufferSize - 1));
}
} // namespace

MessageRecord OrdinaryRecord(const LocalIdentity &identity, const std::string &recipient,
                             const std::string &text)
{
    const std::string user = NameOf(identity.UserName);
    return user + FieldSeparator + recipient + FieldSeparator + text + "\r\n\t" + user + "@" +
           NameOf(identity.ComputerName) + RecordTail;
}

MessageRecord ReceiptRecord(const LocalIdentity &identity, const std::string &lastRecipient)
{
    return NameOf(identity.UserName) + "@" + NameOf(identity.ComputerName) + FieldSeparator +
           lastRecipient + FieldSeparator + ReceiptMarker + RecordTail;
}

bool IsSafeReplyTarget(const std::string &sender)
{
    // An empty target would make the path start with three backslashes.
    // Dots alone name no station either: "\\.\" is this station's own
    // mailslot namespace, and ".." a relative path step, so a forged sender
    // "." would make the station answer into its own mailslot.
    if (sender.find_first_not_of('.') == std::string::npos)
        return false;
    return std::none_of(sender.begin(), sender.end(), [](char c) {
        const auto b = static_cast<unsigned char>(c);
        return b < 0x20 || b == 0x7F || std::strchr("\\/:*?\"<>|", c) != nullptr;
    });
}
