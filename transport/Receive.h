// Receiving: owns the local mailslot and what the receiver remembers between
// datagrams. shell/Main opens the mailslot at start; the main loop calls
// PollMailslot for every timer message it takes; ExitApp closes the mailslot.
#pragma once

// Creates \\.\mailslot\messngr; false when it cannot be had (another program
// owns it), and then nothing is ever received.
bool OpenLocalMailslot();
void CloseLocalMailslot();

// Takes at most one datagram off the local mailslot and handles it; takes
// none in the second after a logged receipt.
void PollMailslot();
