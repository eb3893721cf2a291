// See Layout.h.
#include "shell/Layout.h"

ControlPlacements PlaceControls(int outerWidth, int outerHeight)
{
    const int w = outerWidth, h = outerHeight;
    const int half = h / 2; // truncates toward zero, also for a negative height
    ControlPlacements p;
    p.Message = {4, 36, w - 16, half - 25};
    p.Recipient = {4, 6, w - 150, 21};
    p.Send = {w - 143, 6, 69, 21};
    p.Hide = {w - 57, 6, 44, 21};
    p.History = {4, half + 16, w - 16, h - half - 48};
    return p;
}
