// See Hostile.h.
#include "tests/soak/Hostile.h"
#include "presentation/HistoryText.h"
#include "transport/Record.h"

#include <algorithm>
#include <cctype>
#include <iterator>

namespace {
ReceiveArea AreaOf(const std::string &datagram)
{
    // What the station's cleared receive area holds after the read.
    ReceiveArea area{};
    std::copy_n(datagram.begin(), std::min(datagram.size(), DatagramSize), area.begin());
    return area;
}

bool NamesSoaker(std::string name)
{
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return name == SoakSender;
}
} // namespace

std::string MessageDatagram(const std::string &sender, const std::string &recipient,
                            const std::string &text)
{
    const DatagramBlock block =
        ToBlock(sender + FieldSeparator + recipient + FieldSeparator + text + RecordTail);
    return std::string(block.begin(), block.end());
}

DatagramVerdict Expectation::Peek(const std::string &datagram) const
{
    const auto [sender, record] = FromBlock(AreaOf(datagram));
    if (sender.empty())
        return {};
    ReceiveBook copy = book_;
    return Accept(copy, record);
}

void Expectation::See(const std::string &datagram)
{
    auto [sender, record] = FromBlock(AreaOf(datagram));
    if (sender.empty()) {
        ++ignored_;
        return;
    }
    const DatagramVerdict verdict = Accept(book_, record);
    switch (verdict.Kind) {
    case DatagramKind::Repeat:
        ++repeats_;
        return;
    case DatagramKind::Receipt:
        if (!verdict.LogReceipt) {
            ++receiptsTitleOnly_;
            return;
        }
        ++receiptsLogged_;
        // The entry as the pane shows it after its "~ " and time.
        entries_.push_back(ReceiptEntry("", verdict.Sender).substr(2) + "\r\n");
        return;
    case DatagramKind::Message: {
        MessageRecord rest = record;
        const std::string from = TakeField(rest);
        DropField(rest);
        const std::string to = TakeField(rest);
        DropField(rest);
        ++popups_[PopupText(from, to, TakeField(rest))];
        ++popupCount_;
        entries_.push_back(ReceivedEntry("", record) + "\r\n");
        if (verdict.Sender == SoakSender)
            ++receipts_;
        return;
    }
    }
}

std::vector<std::string> ForgedSenders(const std::string &probeWindowsDir,
                                       const std::string &probePipe)
{
    return {
        // Each of these reaches something if used as a path.
        "?\\" + probeWindowsDir,                       // a file
        ".\\pipe\\" + probePipe,                        // a named pipe
        "?\\UNC\\soaker",                               // the soaker's own path
        ".\\UNC\\soaker",
        "soaker/",
        "soaker\\mailslot\\messngr\\..\\..\\..\\soaker",
        // Broadcast, devices and names no station has.
        "*", "?", ".\\mailslot\\messngr\\..\\..\\pipe\\" + probePipe, "C:\\windows",
        "soaker:", "soaker|x", "<soaker>", "\"soaker\"", "soaker\r\n", "soaker\t", "\x7fsoaker",
        "soaker\x1b[2J", "..\\..\\..\\..\\..\\tmp",
    };
}

HostileMix::HostileMix(unsigned seed, std::vector<std::string> forged,
                       std::size_t receiptLogBudget)
    : random_(seed), forged_(std::move(forged)), receiptLogBudget_(receiptLogBudget)
{
}

std::string HostileMix::Bytes(std::size_t n, int low, int high)
{
    std::uniform_int_distribution<int> byte(low, high);
    std::string s(n, '\0');
    for (char &c : s)
        c = static_cast<char>(byte(random_));
    return s;
}

std::size_t HostileMix::Length()
{
    // Half around one block, half anywhere up to the largest datagram.
    if (std::uniform_int_distribution<int>(0, 1)(random_))
        return std::uniform_int_distribution<std::size_t>(0, 2 * DatagramSize)(random_);
    return std::uniform_int_distribution<std::size_t>(0, LargestDatagram)(random_);
}

std::string HostileMix::Marked(std::size_t n)
{
    // Receipt markers everywhere, with noise between them.
    std::string s;
    std::uniform_int_distribution<int> gap(0, 12);
    while (s.size() < n) {
        s += ReceiptMarker;
        s += Bytes(static_cast<std::size_t>(gap(random_)), 0, 255);
    }
    s.resize(n);
    return s;
}

std::string HostileMix::SafeName()
{
    static const std::string letters =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_";
    std::uniform_int_distribution<std::size_t> pick(0, letters.size() - 1);
    std::string name(std::uniform_int_distribution<std::size_t>(1, DatagramSize - 1)(random_), 'x');
    for (char &c : name)
        c = letters[pick(random_)];
    return NamesSoaker(name) ? name + "x" : name;
}

std::string HostileMix::Next(const Expectation &seen)
{
    struct Kind {
        const char *Name;
        int Weight;
    };
    // About a fifth of them open a box: boxes are what costs time.
    static const Kind kinds[] = {
        {"random", 6},     {"random-long", 3}, {"no-nul", 3},    {"forged", 3},
        {"long-name", 1},  {"edge-length", 4}, {"only-nul", 22}, {"empty-sender", 20},
        {"marker", 20},    {"repeat", 18},
    };
    std::vector<int> weights;
    for (const Kind &k : kinds)
        weights.push_back(k.Weight);
    std::discrete_distribution<std::size_t> pickKind(weights.begin(), weights.end());
    std::uniform_int_distribution<std::size_t> pickForged(0, forged_.size() - 1);
    static const std::size_t edges[] = {0, 1, 2, 419, 420, 421, 422, 65535, LargestDatagram};

    for (;;) {
        const std::string kind = kinds[pickKind(random_)].Name;
        std::string d;
        if (kind == "random")
            d = Bytes(std::uniform_int_distribution<std::size_t>(0, 2 * DatagramSize)(random_), 0, 255);
        else if (kind == "random-long")
            d = Bytes(std::uniform_int_distribution<std::size_t>(2 * DatagramSize, LargestDatagram)(random_), 0, 255);
        else if (kind == "no-nul")
            d = Bytes(std::max<std::size_t>(1, Length()), 1, 255);
        else if (kind == "only-nul")
            d = std::string(Length(), '\0');
        else if (kind == "marker") {
            d = Marked(std::max<std::size_t>(3, Length()));
            if (std::uniform_int_distribution<int>(0, 1)(random_))
                d = forged_[pickForged(random_)] + '\0' + d;
            const DatagramVerdict v = seen.Peek(d);
            // Past the budget, a receipt comes from the sender logged last:
            // it sets the title and is not logged again.
            if (v.Kind == DatagramKind::Receipt && v.LogReceipt &&
                seen.ReceiptsLogged() >= receiptLogBudget_)
                d = seen.Book().LastReceiptSender + '\0' + d;
        } else if (kind == "forged")
            d = MessageDatagram(forged_[pickForged(random_)], SoakRecipient, Bytes(std::uniform_int_distribution<std::size_t>(0, 300)(random_), 0x20, 0x7E));
        else if (kind == "repeat")
            d = last_;
        else if (kind == "edge-length") {
            const std::size_t n = edges[std::uniform_int_distribution<std::size_t>(0, std::size(edges) - 1)(random_)];
            d = std::uniform_int_distribution<int>(0, 1)(random_) ? Bytes(n, 1, 255) : std::string(n, 'A');
        } else if (kind == "empty-sender")
            d = '\0' + Bytes(Length(), 0, 255);
        else
            d = MessageDatagram(SafeName(), SoakRecipient, "unknown sender");

        // Only the soaker may be owed receipts, and only so many pauses.
        const DatagramVerdict v = seen.Peek(d);
        if (v.Kind == DatagramKind::Message && IsSafeReplyTarget(v.Sender) && NamesSoaker(v.Sender))
            continue;
        if (v.Kind == DatagramKind::Receipt && v.LogReceipt &&
            seen.ReceiptsLogged() >= receiptLogBudget_)
            continue;
        ++kinds_[kind];
        last_ = d;
        return d;
    }
}

std::string HostileMix::Valid(std::size_t number, bool everyByte)
{
    std::string text = "soak valid " + std::to_string(number) + " ";
    if (everyByte) {
        // 0x02 stands for NUL in a record: it would end the text there.
        for (int b = 0xFF; b >= 0x03; --b)
            text += static_cast<char>(b);
        text += '\x01';
        std::shuffle(text.end() - 254, text.end(), random_);
    } else {
        text += Bytes(std::uniform_int_distribution<std::size_t>(0, 200)(random_), 0x20, 0x7E);
    }
    if (number % 3 == 0)
        text += "\r\nsecond line\tend";
    last_ = MessageDatagram(SoakSender, SoakRecipient, text);
    return last_;
}
