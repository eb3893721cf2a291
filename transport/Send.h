// Sending: the one way a message leaves the station, and the station's own
// names. Owns LocalIdentity and the buffers of the last send. Called by the
// Send button and Enter in the recipient field (shell/MainWindow), Alt+S
// (shell/MainLoop) and /S (shell/Main); the receiver reads the identity and
// the last recipient for its receipts.
#pragma once

#include "UTypes.h"
#include "transport/Record.h"

#include <string>

// Refreshes the local identity: the computer name, the logged-on user's name
// or else the network provider's, or an empty user name.
void ReadLocalIdentity();
const LocalIdentity &CurrentIdentity();

// Sends what the recipient and message fields hold and logs it. True when
// the block was written; an unreachable destination is logged all the same.
// The Send button is enabled again however the send ends.
bool ComposeAndSend();

// The recipient field as read at the last send (at most 29 bytes), kept for
// the receipts; empty before the first send.
const std::string &RecipientBuffer();
