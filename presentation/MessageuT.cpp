// See MessageuT.h.
//
// A pop-up thread shows its box; when the box closes it shows the next
// waiting pop-up, if any, before it ends, so waiting pop-ups need no thread
// of their own and appear in the order their messages were handled. Each
// box waits for its turn to open (see PopupQueue.h), on its own thread, so
// the window's thread is never held up by it.
#include "presentation/MessageuT.h"
#include "platform/Locale.h"
#include "platform/Process.h"
#include "platform/Windowing.h"
#include "presentation/PopupQueue.h"
#include "presentation/Stamps.h"

#include <memory>

namespace {
// 100 boxes in two seconds: about as fast as a burst of messages arrives.
constexpr std::uint64_t OpeningIntervalMs = 20;
PopupQueue Popups(MaxOpenPopups, OpeningIntervalMs);

void PopupThread(void *parameter)
{
    std::unique_ptr<Popup> popup(static_cast<Popup *>(parameter));
    for (;;) {
        PauseThread(static_cast<unsigned>(Popups.OpeningDelay(MillisecondsSinceBoot())));
        // No owner: the box stands on its own whatever state the main window is in.
        ShowBox(nullptr, popup->Text, popup->Caption, BoxSystemModalWarning);
        auto next = Popups.Next();
        if (!next)
            return;
        *popup = std::move(*next);
    }
}
} // namespace

void ShowIncoming(const std::string &text)
{
    ShowPopupThreaded(text, "Message - " + CaptionDateTime(ReadClock()));
}

void ShowPopupThreaded(const std::string &text, const std::string &caption)
{
    auto admitted = Popups.Admit(Popup{caption, text});
    if (!admitted)
        return; // shown when a box closes
    auto record = std::make_unique<Popup>(std::move(*admitted));
    if (StartDetachedThread(PopupThread, record.get()))
        record.release(); // the thread frees it after its box closes
    else
        Popups.Abandon();
}
