// Layout table rectangles as the platform's RECT.
#pragma once

#include <windows.h>

#include "ui/layout.h"

constexpr RECT ToRect(const LayoutRect& r) {
    return RECT{r.Left, r.Top, r.Right, r.Bottom};
}
