// Geometry of the registration window, in client pixels (right and bottom exclusive):
// a borderless pop-up, so its client area is the whole window.
#pragma once

#include "ui/layout.h"

constexpr int kRegisterClientWidth = 452;
constexpr int kRegisterClientHeight = 346;

constexpr LayoutRect kRegisterOuterFrameRect = {0, 0, kRegisterClientWidth, kRegisterClientHeight};
constexpr LayoutRect kRegisterCloseGlyphRect = {416, 3, 446, 27}; // also where a click closes
constexpr LayoutRect kRegisterCaptionRect = {16, 36, 436, 62};
constexpr LayoutRect kRegisterHintRect = {16, 62, 436, 80};
constexpr LayoutRect kRegisterFieldPanelRect = {6, 84, 446, 258};
constexpr LayoutRect kRegisterStatusRect = {16, 264, 436, 286};
constexpr LayoutRect kRegisterButtonPanelRect = {6, 294, 446, 336};
constexpr LayoutRect kRegisterSubmitRect = {18, 301, 218, 329};
constexpr LayoutRect kRegisterCancelRect = {234, 301, 434, 329};

// The four field rows; row i lies kRegisterFieldPitch * i below row 0.
constexpr int kRegisterFieldPitch = 40;
constexpr LayoutRect kRegisterFieldLabelRect = {22, 100, 120, 128}; // row 0
constexpr LayoutRect kRegisterFieldBoxRect = {126, 100, 430, 128};  // row 0
constexpr LayoutRect kRegisterFieldEditRect = {135, 105, 421, 123}; // row 0, inside the box

constexpr LayoutRect RegisterFieldRow(const LayoutRect& rowZero, int index) {
    return ShiftedDown(rowZero, kRegisterFieldPitch * index);
}
