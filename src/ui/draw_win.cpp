// GDI+ and GDI drawing of the panels, buttons and title band.
#include "ui/draw_win.h"

#include <gdiplus.h>

#include "system/launcher_state.h"
#include "ui/draw_style.h"
#include "ui/layout_win.h"

namespace {

COLORREF ToColorRef(uint32_t rgb) {
    return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

// Without GDI+ the panel is still drawn, flat and with GDI's rounding.
void DrawPlainPanel(HDC dc, const RECT& rect, float radius, uint32_t fill, uint32_t border) {
    HBRUSH brush = CreateSolidBrush(ToColorRef(fill));
    HPEN pen = CreatePen(PS_SOLID, 1, ToColorRef(border));
    HGDIOBJ keptBrush = SelectObject(dc, brush);
    HGDIOBJ keptPen = SelectObject(dc, pen);
    const int corner = static_cast<int>(radius * 2.0f);
    RoundRect(dc, rect.left, rect.top, rect.right, rect.bottom, corner, corner);
    SelectObject(dc, keptPen);
    SelectObject(dc, keptBrush);
    DeleteObject(pen);
    DeleteObject(brush);
}

} // namespace

void DrawRoundPanel(HDC dc, const RECT& rect, float radius, uint32_t top, uint32_t bottom,
                    uint32_t border) {
    using namespace Gdiplus;
    using namespace Gdiplus::DllExports;

    const PanelOutline outline =
        RoundPanelOutline(rect.left, rect.top, rect.right, rect.bottom, radius);
    GpGraphics* graphics = nullptr;
    if (GdipCreateFromHDC(dc, &graphics) != Ok) {
        DrawPlainPanel(dc, rect, radius, bottom, border); // GDI+ did not start
        return;
    }
    GdipSetSmoothingMode(graphics, SmoothingModeAntiAlias);
    // Pixel centres at half coordinates, so that the outline at left + 0.5 .. right - 0.5
    // lies on the outermost pixels. GDI+ puts pixel centres on whole coordinates, where
    // the right and bottom sides would fall half outside the rectangle (and be clipped
    // away in a button). The shift is what PixelOffsetModeHalf does, done through the
    // world transform because not every GDI+ applies that mode to pens.
    GdipTranslateWorldTransform(graphics, -0.5f, -0.5f, MatrixOrderPrepend);

    GpPath* path = nullptr;
    if (GdipCreatePath(FillModeAlternate, &path) == Ok) {
        for (const PanelArc& arc : outline.Arcs) {
            GdipAddPathArc(path, arc.X, arc.Y, arc.Size, arc.Size, arc.Start, arc.Sweep);
        }
        GdipClosePathFigure(path);

        const GpPointF from(outline.X, outline.Y);
        const GpPointF to(outline.X, outline.Y + outline.Height);
        GpLineGradient* brush = nullptr;
        if (GdipCreateLineBrush(&from, &to, top, bottom, WrapModeTile, &brush) == Ok) {
            GdipFillPath(graphics, brush, path);
            GdipDeleteBrush(brush);
        }
        GpPen* pen = nullptr;
        if (GdipCreatePen1(border, 1.0f, UnitWorld, &pen) == Ok) {
            GdipDrawPath(graphics, pen, path);
            GdipDeletePen(pen);
        }
        GdipDeletePath(path);
    }
    GdipDeleteGraphics(graphics);
}

void DrawOwnerButton(const DRAWITEMSTRUCT* item) {
    const bool disabled = (item->itemState & ODS_DISABLED) != 0;
    const bool selected = (item->itemState & ODS_SELECTED) != 0;
    const ButtonColours& colours = ChooseButtonColours(disabled, selected);
    HDC dc = item->hDC;

    DrawRoundPanel(dc, item->rcItem, kButtonRadius, colours.Top, colours.Bottom, colours.Border);

    RECT textRect = item->rcItem;
    if (selected) {
        OffsetRect(&textRect, 1, 1);
    }
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, ToColorRef(colours.Caption));
    HGDIOBJ keptFont = SelectObject(dc, g_Launcher.ButtonFont);

    wchar_t caption[64] = {};
    GetWindowTextW(item->hwndItem, caption, 64);
    DrawTextW(dc, caption, -1, &textRect, DT_CENTER | DT_VCENTER | DT_SINGLELINE);

    SelectObject(dc, keptFont);
}

void DrawTitleBand(HDC dc) {
    RECT band = ToRect(kTitleBandRect);
    FillRect(dc, &band, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    DrawEdge(dc, &band, EDGE_ETCHED, BF_BOTTOM);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, ToColorRef(kTitleTextColour));

    const TitleParts parts = SplitTitle(g_Launcher.Config.Title);
    const int headLength = static_cast<int>(parts.HeadLength);
    HGDIOBJ keptFont = SelectObject(dc, g_Launcher.TitleFont);
    TextOutA(dc, kTitleHeadX, kTitleHeadY, parts.Head, headLength);
    SIZE headSize = {};
    GetTextExtentPoint32A(dc, parts.Head, headLength, &headSize);

    if (parts.Tail != nullptr) {
        SelectObject(dc, g_Launcher.TitleSubFont);
        SetTextCharacterExtra(dc, kTitleTailSpacing);
        TextOutA(dc, headSize.cx + kTitleTailGap, kTitleTailY, parts.Tail, lstrlenA(parts.Tail));
        SetTextCharacterExtra(dc, 0);
    }
    SelectObject(dc, keptFont);
}
