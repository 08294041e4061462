// The launcher's drawing style without the platform, and no drawing: colour tables, the
// title split and the outline geometry of a rounded panel, which the drawing code in
// draw_win.cpp follows and its tests check against.
#pragma once

#include <cstddef>
#include <cstdint>

// Colours of GDI+ fills and pens are 0xAARRGGBB; GDI text colours are 0xRRGGBB.
struct ButtonColours {
    uint32_t Top;
    uint32_t Bottom;
    uint32_t Border;
    uint32_t Caption;
};

inline constexpr ButtonColours kButtonDisabledColours = {0xFFF0F0F0, 0xFFE4E4E4, 0xFFBEBEBE,
                                                         0x969696};
// Pressed reverses the gradient: darker at the top.
inline constexpr ButtonColours kButtonPressedColours = {0xFFD0D0D0, 0xFFECECEC, 0xFF7A7A7A,
                                                        0x141414};
inline constexpr ButtonColours kButtonNormalColours = {0xFFFDFDFD, 0xFFDBDBDB, 0xFF8C8C8C,
                                                       0x181818};
constexpr float kButtonRadius = 9.0f;

struct PanelStyle {
    float Radius;
    uint32_t Top;
    uint32_t Bottom;
    uint32_t Border;
};

// The main window's button panel and the registration window's two large panels.
inline constexpr PanelStyle kLargePanelStyle = {12.0f, 0xFFF7F7F7, 0xFFE7E7E7, 0xFFC6C6C6};
// The registration window's field boxes.
inline constexpr PanelStyle kFieldBoxStyle = {7.0f, 0xFFFFFFFF, 0xFFFCFCFC, 0xFFB0B0B0};

constexpr uint32_t kTitleTextColour = 0x1E1E1E;
constexpr int kTitleHeadX = 10;
constexpr int kTitleHeadY = 2;
constexpr int kTitleTailGap = 17; // from the end of the head to the tail
constexpr int kTitleTailY = 11;
constexpr int kTitleTailSpacing = 4;

// Disabled wins over pressed; neither is the normal look. Focus has no look of its own.
const ButtonColours& ChooseButtonColours(bool disabled, bool selected);

// The title split at its first space: the head is drawn large, the tail (everything after
// that space, further spaces included) small and letter-spaced.
struct TitleParts {
    const char* Head;
    size_t HeadLength;
    const char* Tail; // null when the title has no space
};

TitleParts SplitTitle(const char* title);

// One corner of a rounded panel: a 90-degree arc inscribed in a Size x Size square,
// angles in degrees clockwise from the positive x axis.
struct PanelArc {
    float X;
    float Y;
    float Size;
    float Start;
    float Sweep;
};

// The outline runs through the centres of the outermost pixel rows and columns, so a
// one-pixel pen stays inside the rectangle. Arcs are in path order: top-left, top-right,
// bottom-right, bottom-left.
struct PanelOutline {
    float X;
    float Y;
    float Width;
    float Height;
    PanelArc Arcs[4];
};

PanelOutline RoundPanelOutline(int left, int top, int right, int bottom, float radius);
