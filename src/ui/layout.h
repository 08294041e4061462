// A rectangle of a layout table, in client pixels (right and bottom exclusive).
// Platform-free, so tests can refer to the same numbers as the windows.
#pragma once

struct LayoutRect {
    int Left;
    int Top;
    int Right;
    int Bottom;
};

// The title band across the top of both windows, which DrawTitleBand paints.
constexpr LayoutRect kTitleBandRect = {0, 0, 452, 30};

// The same rectangle dy pixels lower: the rows of a table of equal rows.
constexpr LayoutRect ShiftedDown(const LayoutRect& r, int dy) {
    return LayoutRect{r.Left, r.Top + dy, r.Right, r.Bottom + dy};
}
