// Fuzz target: what a station makes of the datagrams anyone on the network
// can write into its mailslot. The input is one or more datagrams, split at
// the three bytes FF FE FD; each is cut to one block and read into a cleared
// 422-byte receive area, exactly as the receiver reads it, then taken through
// FromBlock, the field split, the pop-up text, the history line, the receipt
// path and the repeat/receipt filter, whose verdicts are checked against a
// model of the filter's rules.
#include "presentation/HistoryText.h"
#include "transport/ReceiveBook.h"
#include "transport/Record.h"

#include "FuzzCheck.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

const std::string Stamp = "< 15:04:05 Monday 07. December ";
const std::string MailslotSuffix = "\\mailslot\\messngr";

bool Holds(const std::string &text, char c) { return text.find(c) != std::string::npos; }

bool IsFieldClean(const std::string &field) { return !Holds(field, '\0') && !Holds(field, FieldSeparator); }

// What the history line shows of a field: every byte 0x03..0x1F as 0x03.
std::string OneLine(std::string text)
{
    std::replace_if(text.begin(), text.end(),
                    [](char c) { return static_cast<unsigned char>(c) >= 0x03 && static_cast<unsigned char>(c) <= 0x1F; },
                    '\x03');
    return text;
}

std::vector<std::string_view> Datagrams(std::string_view input)
{
    constexpr std::string_view Split = "\xff\xfe\xfd";
    std::vector<std::string_view> parts;
    for (std::size_t at = 0;;) {
        const std::size_t next = input.find(Split, at);
        parts.push_back(input.substr(at, next == std::string_view::npos ? std::string_view::npos : next - at));
        if (next == std::string_view::npos)
            return parts;
        at = next + Split.size();
    }
}

void CheckToBlock(const std::string &record)
{
    const DatagramBlock block = ToBlock(record);
    Require(block.size() == DatagramSize, "a block is 420 bytes");
    for (std::size_t i = 0; i < block.size(); ++i) {
        Require(block[i] != FieldSeparator, "a block holds no 0x02");
        const char expected = i < record.size() ? (record[i] == FieldSeparator ? '\0' : record[i]) : '\0';
        Require(block[i] == expected, "a block is the record's first 420 bytes, 0x02 as NUL, NUL after");
    }
}

void CheckReplyPath(const std::string &target)
{
    if (!IsSafeReplyTarget(target))
        return;
    Require(!target.empty(), "an empty sender is no reply target");
    Require(target.find_first_not_of('.') != std::string::npos, "dots alone are no reply target");
    const std::string path = MailslotPath(target);
    Require(path == "\\\\" + target + MailslotSuffix, "the path is two backslashes, the target, the suffix");
    Require(path[2] != '\\', "exactly two leading backslashes");
    Require(std::count(path.begin(), path.end(), '\\') == 4, "no backslash but those of the prefix and suffix");
    Require(!Holds(path, '/'), "no slash in a reply path");
    Require(std::none_of(target.begin(), target.end(),
                         [](char c) { return static_cast<unsigned char>(c) < 0x20 || std::strchr("\\/:*?\"<>|", c); }),
            "a reply target holds no control byte, wildcard or path character");
}

// The filter's rules, kept apart from the code under test.
struct BookModel {
    std::string Last, LastReceiptSender;

    DatagramVerdict Expect(const MessageRecord &record)
    {
        DatagramVerdict verdict;
        if (record == Last)
            return verdict;
        Last = record;
        verdict.Sender = record.substr(0, record.find(FieldSeparator));
        const bool receipt = record.find("\x03\x04\x03") != std::string::npos;
        verdict.Kind = receipt ? DatagramKind::Receipt : DatagramKind::Message;
        verdict.LogReceipt = receipt && verdict.Sender != LastReceiptSender;
        if (verdict.LogReceipt)
            LastReceiptSender = verdict.Sender;
        return verdict;
    }
};

void CheckDatagram(std::string_view datagram, ReceiveBook &book, BookModel &model)
{
    ReceiveArea area{};
    const std::size_t length = std::min(datagram.size(), DatagramSize);
    std::memcpy(area.data(), datagram.data(), length);

    const auto [first, record] = FromBlock(area);
    Require(record.size() == ReceivedRecordSize, "the record is 421 bytes");
    Require(record[420] == FieldSeparator, "offset 420 of the record is 0x02");
    Require(!Holds(record, '\0'), "the record holds no NUL");
    for (std::size_t i = 0; i < DatagramSize; ++i)
        Require(record[i] == (area[i] == '\0' ? FieldSeparator : area[i]), "the record is the area, NUL as 0x02");
    Require(first == std::string(area.data(), strnlen(area.data(), area.size())), "the first field ends at the first NUL");

    // Back to the wire and in again: nothing is lost but the NUL/0x02 difference.
    CheckToBlock(record);
    ReceiveArea again{};
    const DatagramBlock block = ToBlock(record);
    std::copy(block.begin(), block.end(), again.begin());
    Require(FromBlock(again).second == record, "FromBlock(ToBlock(record)) is the record");

    if (first.empty())
        return; // the receiver drops it here
    CheckReplyPath(first);

    MessageRecord rest = record;
    const std::string sender = TakeField(rest);
    DropField(rest);
    const std::string recipient = TakeField(rest);
    DropField(rest);
    const std::string text = TakeField(rest);
    Require(IsFieldClean(sender) && IsFieldClean(recipient) && IsFieldClean(text), "fields hold no 0x02 and no NUL");
    Require(record.compare(0, sender.size() + 1, sender + FieldSeparator) == 0, "the sender is the record up to its first 0x02");
    Require(sender.size() + recipient.size() + text.size() <= DatagramSize, "the fields fit in the block");
    Require(IsReceipt(record) == (record.find("\x03\x04\x03") != std::string::npos), "a receipt holds 03 04 03");

    const std::string popup = PopupText(sender, recipient, text);
    Require(popup == "From:\t" + sender + "\r\nTo:\t" + recipient + "\r\n\r\n" + text, "the pop-up text layout");
    Require(!Holds(popup, '\0') && !Holds(popup, FieldSeparator), "the pop-up text holds no NUL and no 0x02");

    const std::string line = ReceivedEntry(Stamp, record);
    Require(line == Stamp + "From:" + OneLine(sender) + ", To:" + OneLine(recipient) + " <<" + OneLine(text) + ">>",
            "the history line shows the pop-up's fields on one line");
    for (char c : line) {
        const auto b = static_cast<unsigned char>(c);
        Require(b != 0 && b != 0x02, "the history line holds no NUL and no 0x02");
        Require(b < 0x04 || b > 0x1F, "the history line holds no byte 0x04..0x1F (CR, LF, TAB included)");
    }
    CheckReplyPath(sender);

    const DatagramVerdict verdict = Accept(book, record);
    const DatagramVerdict expected = model.Expect(record);
    Require(verdict.Kind == expected.Kind, "the filter's kind");
    Require(verdict.Sender == expected.Sender, "the filter's sender");
    Require(verdict.LogReceipt == expected.LogReceipt, "the filter's receipt logging");
    Require(book.LastRawMessage == model.Last && book.LastReceiptSender == model.LastReceiptSender, "the filter's memory");
    if (verdict.Kind != DatagramKind::Repeat)
        Require(verdict.Sender == sender, "the filter names the split's sender");
    Require(Accept(book, record).Kind == DatagramKind::Repeat, "an immediate repeat is dropped");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    CheckToBlock(std::string(input)); // any text handed to the wire
    ReceiveBook book;
    BookModel model;
    for (std::string_view datagram : Datagrams(input))
        CheckDatagram(datagram, book, model);
    return 0;
}
