// The wire block and the record text form of every message and receipt.
//
// A record is built and taken apart as text in which FieldSeparator (0x02)
// stands for the NULs of the wire block; ToBlock and FromBlock convert at
// the very edges of sending and receiving. Pure logic, used by transport/Send
// and transport/Receive; no <windows.h>.
#pragma once

#include "UTypes.h"

#include <array>
#include <string>
#include <utility>

using DatagramBlock = std::array<char, DatagramSize>;
using ReceiveArea = std::array<char, ReceiveAreaSize>;
using MessageRecord = std::string;

constexpr const char *RecordTail = "\x02\x02\x02\x02";
constexpr const char *ReceiptMarker = "\x03\x04\x03";
constexpr const char *LocalMailslotPath = "\\\\.\\mailslot\\messngr";

DatagramBlock ToBlock(const MessageRecord &record);

// The sender (text before the first NUL of the area) and the 421-byte record
// of offsets 0..420 with every NUL turned into FieldSeparator.
std::pair<std::string, MessageRecord> FromBlock(const ReceiveArea &area);

std::string TakeField(const MessageRecord &record);
void DropField(MessageRecord &record);
bool IsReceipt(const MessageRecord &record);
std::string MailslotPath(const std::string &target);

// user, 0x02, recipient, 0x02, text CR LF TAB user "@" computer, tail.
// The caller has already cut recipient and text to their limits.
MessageRecord OrdinaryRecord(const LocalIdentity &identity, const std::string &recipient,
                             const std::string &text);
// user "@" computer, 0x02, recipient of our last send, 0x02, marker, tail.
MessageRecord ReceiptRecord(const LocalIdentity &identity, const std::string &lastRecipient);

// A user or computer name is never empty, never only dots, and never holds
// \ / : * ? " < > | or a control byte; a sender field that does would turn
// the receipt path into a local path or a broadcast of the forger's
// choosing, so no receipt is written to it.
bool IsSafeReplyTarget(const std::string &sender);
