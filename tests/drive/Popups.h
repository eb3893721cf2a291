// The message boxes of a station process (dialog class #32770): the
// pop-ups that announce messages and the exit question, listed, read and
// closed from outside as a user at the screen would.
#pragma once

#include "UTypes.h"

#include <string>
#include <vector>

namespace drive {

struct Box {
    WindowHandle Window;
    std::string Caption;
    std::string Text;
};

// Every dialog window of the process, shown or not, found without asking
// any of them.
std::vector<WindowHandle> DialogsOf(unsigned long pid);
// The text a box shows (its static control), asked of the box's thread.
std::string BoxText(WindowHandle box);
// Every box the process shows; one still being built is left out until it
// is shown, that is, once its text and buttons are in place.
std::vector<Box> BoxesOf(unsigned long pid);
// Presses OK, as queued input would.
void CloseBox(WindowHandle box);

} // namespace drive
