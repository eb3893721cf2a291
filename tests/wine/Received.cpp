// See Received.h.
#include "tests/wine/Received.h"

namespace wine {

std::string Padded(std::string bytes)
{
    bytes.resize(BlockSize, '\0');
    return bytes;
}

bool WaitUntilReceiving(const Station &station, int timeoutMs)
{
    // The title comes before the mailslot: a write any sooner may fail.
    return station.Window() &&
           WaitUntil([&] { return station.Title() == "Zorvanta tindrel..."; }, timeoutMs);
}

std::vector<std::string> Entries(const Station &station)
{
    // Every entry ends in CR LF; the help text does not.
    const std::string text = station.HistoryText();
    std::vector<std::string> entries;
    if (!EndsWith(text, "\r\n"))
        return entries;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find("\r\n", at);
        entries.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return entries;
}

bool WaitForEntries(const Station &station, std::size_t count, int timeoutMs)
{
    return WaitUntil([&] { return Entries(station).size() >= count; }, timeoutMs, 50);
}

std::vector<std::string> Logged(const Station &station)
{
    std::vector<std::string> logged;
    const auto entries = Entries(station);
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        std::string stamp, rest;
        logged.push_back(SplitStamp(*entry, '<', stamp, rest) ? rest : *entry);
    }
    return logged;
}

std::vector<Box> PopupWatch::Now()
{
    // The exit question is a message box too; a box is built hidden and
    // shown once its caption and text are in place.
    std::vector<Box> popups;
    for (HWND window : DialogsOf(pid_)) {
        const std::string caption = TitleOf(window);
        if (!StartsWith(caption, "Message - ") || !IsWindowVisible(window))
            continue;
        auto known = texts_.find(window);
        if (known == texts_.end())
            known = texts_.emplace(window, BoxText(window)).first;
        popups.push_back({window, caption, known->second});
    }
    return popups;
}

std::vector<Box> PopupsOf(DWORD pid)
{
    return PopupWatch(pid).Now();
}

std::multiset<std::string> PopupTexts(DWORD pid)
{
    std::multiset<std::string> texts;
    for (const Box &box : PopupsOf(pid))
        texts.insert(box.Text);
    return texts;
}

bool CloseAllPopups(DWORD pid, int timeoutMs)
{
    return WaitUntil(
        [&] {
            const auto popups = PopupsOf(pid);
            for (const Box &box : popups)
                CloseBox(box.Window);
            return popups.empty();
        },
        timeoutMs, 100);
}

HWND ExitQuestion(DWORD pid, int timeoutMs)
{
    HWND found = nullptr;
    WaitUntil(
        [&] {
            for (const Box &box : BoxesOf(pid))
                if (box.Caption == "Tindrel")
                    found = box.Window;
            return found != nullptr;
        },
        timeoutMs);
    return found;
}

void SendFromWindow(const Station &station, const std::string &recipient,
                    const std::string &text)
{
    SetTextOf(station.Recipient(), recipient);
    SetTextOf(station.Message(), text);
    ClickSend(station);
}

void ClickSend(const Station &station)
{
    // Sent, not posted: the title can be read before the next poll resets it.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(station.SendButton(), BM_CLICK, 0, 0, SMTO_NORMAL, AnswerWithinMs,
                        &ignored);
}

bool WriteWhileRunning(const Station &station, const std::string &bytes)
{
    return WriteToStationWhile(bytes, [&] { return station.Running(); });
}

BackgroundWriter::BackgroundWriter(const Station &station, std::vector<std::string> datagrams)
    : thread_([this, &station, all = std::move(datagrams)] {
          for (const std::string &datagram : all) {
              if (!WriteWhileRunning(station, datagram))
                  return;
              ++written_;
          }
      })
{
}

std::size_t BackgroundWriter::Join()
{
    if (thread_.joinable())
        thread_.join();
    return written_;
}

} // namespace wine
