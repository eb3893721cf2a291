// The texts of history entries and pop-ups, built from records. Pure logic,
// used by transport/Send and transport/Receive; the time stamps come in
// ready-made from presentation/Stamps.
#pragma once

#include "transport/Record.h"

#include <string>

// The whole sent record with every byte below 0x20 (separators, tail, CR,
// LF, TAB, any control byte) shown as 0x02.
std::string SentEntry(const std::string &stamp, const MessageRecord &outgoing);

// One line for a received record: bytes 0x03..0x1F become 0x03 so that the
// entry stays on one line, then "From:" sender ", To:" recipient " <<" text ">>".
std::string ReceivedEntry(const std::string &stamp, const MessageRecord &record);

// "~ " time " Delivered to: " sender, the sender kept on one line as above.
std::string ReceiptEntry(const std::string &receiptTime, const std::string &sender);

std::string PopupText(const std::string &sender, const std::string &recipient,
                      const std::string &text);
