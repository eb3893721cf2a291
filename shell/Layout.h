// Where the five controls go for a given outer size of the main window.
// Pure arithmetic, no clamping: a minimised window's odd rectangle gives
// whatever follows from it. Used by shell/MainWindow's LayoutControls.
#pragma once

struct Placement {
    int X = 0, Y = 0, Width = 0, Height = 0;
    bool operator==(const Placement &o) const
    {
        return X == o.X && Y == o.Y && Width == o.Width && Height == o.Height;
    }
};

// In the order the controls are moved.
struct ControlPlacements {
    Placement Message, Recipient, Send, Hide, History;
};

// outerWidth and outerHeight: the window's rectangle, frame and title bar included.
ControlPlacements PlaceControls(int outerWidth, int outerHeight);
