// Drawing primitives shared by both windows: rounded gradient panels (GDI+), owner-drawn
// buttons and the title band. Each draws into the caller's device context and leaves
// nothing of its own selected there.
#pragma once

#include <windows.h>

#include <cstdint>

// A rounded rectangle over rect, filled with a vertical gradient from top to bottom and
// outlined one pixel wide; colours are 0xAARRGGBB. Without GDI+ (not started, or not
// available) it is drawn flat in the bottom colour with GDI's rounding instead.
void DrawRoundPanel(HDC dc, const RECT& rect, float radius, uint32_t top, uint32_t bottom,
                    uint32_t border);

// One owner-drawn push button from the item description of WM_DRAWITEM.
void DrawOwnerButton(const DRAWITEMSTRUCT* item);

// The white title band across the top (0, 0, 452, 30) with the configured Title.
void DrawTitleBand(HDC dc);
