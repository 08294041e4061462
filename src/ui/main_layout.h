// Geometry, control ids and button captions of the main window, in client pixels
// (right and bottom exclusive). Platform-free so tests can refer to the same numbers.
#pragma once

#include "ui/layout.h"

constexpr int kMainClientWidth = 452;
constexpr int kMainClientHeight = 486;

constexpr LayoutRect kPictureFrameRect = {6, 34, 446, 388};
constexpr LayoutRect kPictureAreaRect = {8, 36, 444, 386}; // inside the 2-pixel sunken edge
constexpr LayoutRect kStatusLineRect = {12, 396, 440, 414};
constexpr LayoutRect kProgressBarRect = {12, 418, 440, 434};
constexpr LayoutRect kButtonPanelRect = {6, 436, 446, 478};
constexpr LayoutRect kConnectRect = {18, 443, 146, 471};
constexpr LayoutRect kRegisterRect = {162, 443, 290, 471};
constexpr LayoutRect kCloseRect = {306, 443, 434, 471};

constexpr int kConnectId = 1001;
constexpr int kStatusLineId = 1002;
constexpr int kProgressBarId = 1003;
constexpr int kCloseId = 1004;
constexpr int kRegisterId = 1005;

constexpr char kConnectCaption[] = "Connect";
constexpr char kRegisterCaption[] = "Register";
constexpr char kCloseCaption[] = "Close";
