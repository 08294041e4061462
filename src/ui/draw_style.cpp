// Colour row choice, title split and rounded-panel geometry of the drawing style.
#include "ui/draw_style.h"

#include <cstring>

const ButtonColours& ChooseButtonColours(bool disabled, bool selected) {
    if (disabled) {
        return kButtonDisabledColours;
    }
    return selected ? kButtonPressedColours : kButtonNormalColours;
}

TitleParts SplitTitle(const char* title) {
    const char* space = strchr(title, ' ');
    if (space == nullptr) {
        return TitleParts{title, strlen(title), nullptr};
    }
    return TitleParts{title, static_cast<size_t>(space - title), space + 1};
}

PanelOutline RoundPanelOutline(int left, int top, int right, int bottom, float radius) {
    PanelOutline outline = {};
    outline.X = static_cast<float>(left) + 0.5f;
    outline.Y = static_cast<float>(top) + 0.5f;
    outline.Width = static_cast<float>(right - left) - 1.0f;
    outline.Height = static_cast<float>(bottom - top) - 1.0f;
    const float d = 2.0f * radius;
    const float farX = outline.X + outline.Width - d;
    const float farY = outline.Y + outline.Height - d;
    outline.Arcs[0] = PanelArc{outline.X, outline.Y, d, 180.0f, 90.0f};
    outline.Arcs[1] = PanelArc{farX, outline.Y, d, 270.0f, 90.0f};
    outline.Arcs[2] = PanelArc{farX, farY, d, 0.0f, 90.0f};
    outline.Arcs[3] = PanelArc{outline.X, farY, d, 90.0f, 90.0f};
    return outline;
}
