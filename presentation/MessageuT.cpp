// See MessageuT.h.
//
// A pop-up thread shows its box; when the box closes it shows the next
// waiting pop-up, if any, before it ends, so waiting pop-ups need no thread
// of their own and appear in the order their messages were handled.
#include "presentation/MessageuT.h"
#include "platform/Locale.h"
#include "platform/Process.h"
#include "presentation/PopupQueue.h"
#include "presentation/Stamps.h"

#include <memory>

namespace {
PopupQueue Popups(MaxOpenPopups);

void PopupThread(void *parameter)
{
    std::unique_ptr<Popup> popup(static_cast<Popup *>(parameter));
    for (;;) {
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
void ShowPopupThreaded(Popup popup)
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
    Popups.Hold(Popup{"Message - " + CaptionDateTime(ReadClock()), text});
}

void ShowWaitingPopups()
{
    for (Popup &popup : Popups.Release())
        ShowPopupThreaded(std::move(popup));
}
