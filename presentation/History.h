// History: the station's log, newest entry first, for the life of the
// process, and what the history pane shows of it. Entries come from
// transport/Send and transport/Receive; the main loop's trace and F11 put
// other text into the pane, which shows History again at the next entry.
#pragma once

#include <string>

// Puts the entry and CR LF in front of History and shows the whole History
// in the pane.
void AddHistoryEntry(const std::string &entry);

// Shows text in the pane in place of History (which stays as it is).
void ShowInHistoryPane(const std::string &text);

// History as one text, newest entry first.
std::string HistoryText();
