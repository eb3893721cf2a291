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

// Starts the thread of a pop-up that has its place among the open boxes.
// The thread owns the record and frees it after its last box.
void StartPopupThread(Popup popup)
{
    auto record = std::make_unique<Popup>(std::move(popup));
    if (StartDetachedThread(PopupThread, record.get()))
        record.release();
    else
        Popups.Abandon();
}
} // namespace

void ShowIncoming(const std::string &text)
{
    ShowPopupThreaded(text, "Message - " + CaptionDateTime(ReadClock()));
}

void ShowPopupThreaded(const std::string &text, const std::string &caption)
{
    Popups.Hold(Popup{caption, text});
    for (Popup &popup : Popups.Release())
        StartPopupThread(std::move(popup));
}
