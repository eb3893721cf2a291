// The datagrams of the soak and what the station must make of them.
//
// HostileMix draws the flood: random bytes of every length up to 64 KiB,
// blocks without NUL, blocks of nothing but NUL, the receipt marker
// 0x03 0x04 0x03 everywhere, senders that are paths, repeats and edge
// lengths. Expectation replays each datagram through the station's own
// record and bookkeeping code (transport/Record, transport/ReceiveBook,
// presentation/HistoryText), so the soak knows exactly which pop-ups,
// history entries and receipts the station owes. Pure; used by SoakDriver.
#pragma once

#include "transport/ReceiveBook.h"

#include <cstddef>
#include <map>
#include <random>
#include <string>
#include <vector>

constexpr std::size_t LargestDatagram = 65536;
constexpr const char *SoakSender = "soaker";      // the only sender that may get receipts
constexpr const char *SoakRecipient = "station";

// What the station owes after the datagrams seen so far.
class Expectation {
public:
    // Replays one datagram as the station reads it (its first 420 bytes).
    void See(const std::string &datagram);
    // What See would decide for it, without remembering it.
    DatagramVerdict Peek(const std::string &datagram) const;

    const ReceiveBook &Book() const { return book_; }
    // Entries without their time stamps, oldest first, each ending CR LF.
    const std::vector<std::string> &Entries() const { return entries_; }
    const std::map<std::string, std::size_t> &Popups() const { return popups_; }
    std::size_t PopupCount() const { return popupCount_; }
    std::size_t Receipts() const { return receipts_; }    // owed to SoakSender
    std::size_t Ignored() const { return ignored_; }      // empty sender
    std::size_t Repeats() const { return repeats_; }
    std::size_t ReceiptsLogged() const { return receiptsLogged_; }
    std::size_t ReceiptsTitleOnly() const { return receiptsTitleOnly_; }

private:
    ReceiveBook book_;
    std::vector<std::string> entries_;
    std::map<std::string, std::size_t> popups_;
    std::size_t popupCount_ = 0, receipts_ = 0, ignored_ = 0, repeats_ = 0;
    std::size_t receiptsLogged_ = 0, receiptsTitleOnly_ = 0;
};

// Senders holding a path character or a control byte. Some of them, if a
// station wrote its receipt to them, would reach a file, a pipe or the
// soaker's own mailslot path; probeWindowsDir is a Windows path (Z:...)
// of a folder whose mailslot\messngr is a file that must stay empty.
std::vector<std::string> ForgedSenders(const std::string &probeWindowsDir,
                                       const std::string &probePipe);

class HostileMix {
public:
    // receiptLogBudget: how many forged receipts may be logged, each of
    // which pauses the station for a second.
    HostileMix(unsigned seed, std::vector<std::string> forged, std::size_t receiptLogBudget);

    // The next hostile datagram, given what the station has seen so far.
    std::string Next(const Expectation &seen);
    // A valid message from SoakSender, distinct from every other; with
    // everyBytes its text holds every byte value but NUL, so that its box
    // and line need every glyph the flood may ask for.
    std::string Valid(std::size_t number, bool everyByte = false);
    // Datagrams drawn per kind, for the report.
    const std::map<std::string, std::size_t> &Kinds() const { return kinds_; }

private:
    std::string Bytes(std::size_t n, int low, int high);
    std::size_t Length();
    std::string Marked(std::size_t n);
    std::string SafeName();

    std::mt19937 random_;
    std::vector<std::string> forged_;
    std::size_t receiptLogBudget_;
    std::string last_;
    std::map<std::string, std::size_t> kinds_;
};

// Text of a block as MessageBlock of the test harness builds it.
std::string MessageDatagram(const std::string &sender, const std::string &recipient,
                            const std::string &text);
