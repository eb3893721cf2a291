// A History that behaves as the plain description of it reads: one string,
// newest entry first, and after every addition its whole text set into the
// pane. Linked only into tindrel_whole_text, the bench's figure of what the
// station cost before the pane took single entries.
#include "presentation/History.h"
#include "platform/Windowing.h"
#include "UTypes.h"

namespace {
std::string Text;
}

std::string HistoryText()
{
    return Text;
}

void AddHistoryEntry(const std::string &entry)
{
    Text = entry + "\r\n" + Text;
    SetText(HistoryPane, Text);
}

void ShowInHistoryPane(const std::string &text)
{
    SetText(HistoryPane, text);
}
