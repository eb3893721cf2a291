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
// The entries oldest first, each with its CR LF, in one buffer: appending is
// cheap and a history of 10,000 entries costs its text and an offset each.
std::string Entries;
std::vector<std::size_t> EntryStarts;
bool PaneShowsHistory = false; // false until the first entry: the pane holds the help text
} // namespace

std::string HistoryText()
{
    std::string text;
    text.reserve(Entries.size());
    std::size_t end = Entries.size();
    for (auto start = EntryStarts.rbegin(); start != EntryStarts.rend(); ++start) {
        text.append(Entries, *start, end - *start);
        end = *start;
    }
    return text;
}

void AddHistoryEntry(const std::string &entry)
{
    const std::string line = entry + "\r\n";
    EntryStarts.push_back(Entries.size());
    Entries += line;
    if (PaneShowsHistory) {
        InsertAtTop(HistoryPane, line);
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
