// See History.h.
//
// Setting a long text into an edit control costs time that grows with the
// text, so an addition puts only the new entry into the pane when the pane
// already shows History, and sets the whole text otherwise (first entry,
// after a trace or F11). Both leave the pane in the same state.
#include "presentation/History.h"
#include "platform/Windowing.h"

#include <vector>

namespace {
std::vector<std::string> Entries; // oldest first, each with its CR LF: appending is cheap
bool PaneShowsHistory = false;    // false until the first entry: the pane holds the help text
} // namespace

std::string HistoryText()
{
    std::size_t size = 0;
    for (const auto &entry : Entries)
        size += entry.size();
    std::string text;
    text.reserve(size);
    for (auto it = Entries.rbegin(); it != Entries.rend(); ++it)
        text += *it;
    return text;
}

void AddHistoryEntry(const std::string &entry)
{
    Entries.push_back(entry + "\r\n");
    if (PaneShowsHistory) {
        InsertAtTop(HistoryPane, Entries.back());
        return;
    }
    SetPaneText(HistoryPane, HistoryText());
    PaneShowsHistory = true;
}

void ShowInHistoryPane(const std::string &text)
{
    SetPaneText(HistoryPane, text);
    PaneShowsHistory = false;
}
