// What the receiver remembers between datagrams, and what it makes of the
// next one: the repeat filter (the last accepted record) and the receipt
// filter (the sender of the last receipt logged). Pure logic, used by
// transport/Receive once per datagram that has a sender.
#pragma once

#include "transport/Record.h"

#include <string>

struct ReceiveBook {
    MessageRecord LastRawMessage;   // empty at start
    std::string LastReceiptSender;  // empty at start
};

enum class DatagramKind {
    Repeat,        // equal to the last accepted datagram: dropped whole
    Receipt,       // a receipt: set the title; log it when LogReceipt
    Message,       // an ordinary message: pop-up, history line, receipt back
};

struct DatagramVerdict {
    DatagramKind Kind = DatagramKind::Repeat;
    std::string Sender;       // first field of the record
    bool LogReceipt = false;  // for receipts: a sender other than the last logged
};

// Classifies a received record and updates the book as accepting it does.
DatagramVerdict Accept(ReceiveBook &book, const MessageRecord &record);
