// The drawing primitives on a memory canvas: panel outline and gradient, button colour
// rows and caption placement, title band layout; and that each leaves the context as it
// found it.
#include "ui/draw_win.h"

#include <windows.h>
#include <gdiplus.h>

#include <gtest/gtest.h>

#include <string>

#include "app/startup.h"
#include "canvas.h"
#include "system/launcher_state.h"
#include "ui/draw_style.h"
#include "window_environment.h"

namespace {

int Grey(uint32_t rgb) {
    return static_cast<int>(rgb & 0xFF);
}

bool IsGrey(uint32_t rgb) {
    return ((rgb >> 16) & 0xFF) == ((rgb >> 8) & 0xFF) && ((rgb >> 8) & 0xFF) == (rgb & 0xFF);
}

class DrawTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { PrepareWindowEnvironment(); }

    void SetUp() override {
        button_ = CreateWindowExW(0, L"BUTTON", L"Register", WS_POPUP | BS_OWNERDRAW, 0, 0, 128, 28,
                                  nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(button_, nullptr);
    }
    void TearDown() override { DestroyWindow(button_); }

    // Draws the test button in the given state onto a fresh 128 x 28 canvas.
    void DrawButton(Canvas* canvas, UINT state, const wchar_t* caption = L"Register") {
        SetWindowTextW(button_, caption);
        DRAWITEMSTRUCT item = {};
        item.CtlType = ODT_BUTTON;
        item.itemAction = ODA_DRAWENTIRE;
        item.itemState = state;
        item.hwndItem = button_;
        item.hDC = canvas->Dc();
        item.rcItem = RECT{0, 0, canvas->Width(), canvas->Height()};
        DrawOwnerButton(&item);
    }

    void DrawTitle(Canvas* canvas, const char* title) {
        lstrcpynA(g_Launcher.Config.Title, title, sizeof g_Launcher.Config.Title);
        DrawTitleBand(canvas->Dc());
    }

    // Width of text in a font, measured as the title band measures its head.
    static int TextWidth(HFONT font, const char* text) {
        Canvas scratch(4, 4);
        HGDIOBJ kept = SelectObject(scratch.Dc(), font);
        SIZE size = {};
        GetTextExtentPoint32A(scratch.Dc(), text, lstrlenA(text), &size);
        SelectObject(scratch.Dc(), kept);
        return size.cx;
    }

    HWND button_ = nullptr;
};

TEST_F(DrawTest, RoundPanelHasRoundCornersBorderAndVerticalGradient) {
    Canvas canvas(460, 62);
    const PanelStyle& s = kLargePanelStyle;
    DrawRoundPanel(canvas.Dc(), RECT{10, 10, 450, 52}, s.Radius, s.Top, s.Bottom, s.Border);

    // Outside the rectangle and in the cut-off corners nothing is drawn.
    EXPECT_EQ(canvas.At(230, 9), 0xFFFFFFu);
    EXPECT_EQ(canvas.At(230, 52), 0xFFFFFFu);
    EXPECT_EQ(canvas.At(9, 31), 0xFFFFFFu);
    EXPECT_EQ(canvas.At(450, 31), 0xFFFFFFu);
    EXPECT_EQ(canvas.At(10, 10), 0xFFFFFFu);
    EXPECT_EQ(canvas.At(449, 51), 0xFFFFFFu);
    EXPECT_EQ(canvas.At(11, 11), 0xFFFFFFu);

    // The one-pixel border lies on the outermost rows and columns of the straight sides.
    for (uint32_t edge :
         {canvas.At(230, 10), canvas.At(230, 51), canvas.At(10, 31), canvas.At(449, 31)}) {
        EXPECT_NEAR(Grey(edge), 0xC6, 12) << std::hex << edge;
    }
    // Inside: top colour near the top, bottom colour near the bottom, never lighter lower.
    EXPECT_NEAR(Grey(canvas.At(230, 11)), 0xF7, 3);
    EXPECT_NEAR(Grey(canvas.At(230, 50)), 0xE7, 3);
    for (int y = 12; y < 50; ++y) {
        EXPECT_TRUE(IsGrey(canvas.At(230, y)));
        EXPECT_LE(Grey(canvas.At(230, y + 1)), Grey(canvas.At(230, y))) << "row " << y;
    }
    // The gradient runs over the height only: one row has one colour across.
    EXPECT_EQ(canvas.At(40, 30), canvas.At(420, 30));
}

TEST_F(DrawTest, ButtonColourRowsByState) {
    struct Case {
        UINT state;
        const ButtonColours& row;
    };
    const Case cases[] = {
        {0, kButtonNormalColours},
        {ODS_FOCUS, kButtonNormalColours},
        {ODS_SELECTED, kButtonPressedColours},
        {ODS_DISABLED, kButtonDisabledColours},
        {ODS_DISABLED | ODS_SELECTED, kButtonDisabledColours},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.state);
        Canvas canvas(128, 28);
        DrawButton(&canvas, c.state);
        EXPECT_NEAR(Grey(canvas.At(12, 1)), Grey(c.row.Top), 4);
        EXPECT_NEAR(Grey(canvas.At(12, 26)), Grey(c.row.Bottom), 4);
        EXPECT_NEAR(Grey(canvas.At(64, 0)), Grey(c.row.Border), 12);
        EXPECT_EQ(canvas.At(0, 0), 0xFFFFFFu); // rounded corner
        // The caption is drawn in the row's colour: its darkest pixel is close to it.
        int darkest = 255;
        for (int y = 4; y < 24; ++y) {
            for (int x = 20; x < 108; ++x) {
                const uint32_t p = canvas.At(x, y);
                const int level = (((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF)) / 3;
                darkest = level < darkest ? level : darkest;
            }
        }
        EXPECT_NEAR(darkest, Grey(c.row.Caption), 40);
    }
}

TEST_F(DrawTest, CaptionIsCentredAndMovesOnePixelWhenPressed) {
    Canvas normal(128, 28);
    Canvas pressed(128, 28);
    Canvas disabledPressed(128, 28);
    DrawButton(&normal, 0);
    DrawButton(&pressed, ODS_SELECTED);
    DrawButton(&disabledPressed, ODS_DISABLED | ODS_SELECTED);

    RECT a;
    RECT b;
    RECT c;
    // Inside the border; the disabled caption (#969696) is lighter than the others.
    ASSERT_TRUE(normal.DarkBounds(6, 3, 122, 25, 100, &a));
    ASSERT_TRUE(pressed.DarkBounds(6, 3, 122, 25, 100, &b));
    ASSERT_TRUE(disabledPressed.DarkBounds(6, 3, 122, 25, 180, &c));
    EXPECT_NEAR((a.left + a.right) / 2.0, 64.0, 2.0);
    EXPECT_NEAR((a.top + a.bottom) / 2.0, 14.0, 3.0);
    EXPECT_EQ(b.left, a.left + 1);
    EXPECT_EQ(b.top, a.top + 1);
    EXPECT_EQ(c.left, a.left + 1);
    EXPECT_EQ(c.top, a.top + 1);
}

TEST_F(DrawTest, CaptionIsCutAt63Units) {
    const std::wstring sixtyThree(63, L'i');
    Canvas exact(700, 28);
    Canvas longer(700, 28);
    Canvas shorter(700, 28);
    DrawButton(&exact, 0, sixtyThree.c_str());
    DrawButton(&longer, 0, (sixtyThree + L"WWWW").c_str());
    DrawButton(&shorter, 0, sixtyThree.substr(1).c_str());
    RECT e;
    RECT l;
    RECT s;
    ASSERT_TRUE(exact.DarkBounds(0, 0, 700, 28, 100, &e));
    ASSERT_TRUE(longer.DarkBounds(0, 0, 700, 28, 100, &l));
    ASSERT_TRUE(shorter.DarkBounds(0, 0, 700, 28, 100, &s));
    EXPECT_EQ(l.left, e.left);
    EXPECT_EQ(l.right, e.right);
    EXPECT_NE(s.right - s.left, e.right - e.left); // the measure does see one unit
}

TEST_F(DrawTest, ButtonLeavesTheContextsFontSelected) {
    Canvas canvas(128, 28);
    HGDIOBJ before = GetCurrentObject(canvas.Dc(), OBJ_FONT);
    DrawButton(&canvas, ODS_SELECTED);
    EXPECT_EQ(GetCurrentObject(canvas.Dc(), OBJ_FONT), before);
}

TEST_F(DrawTest, EmptyTitleLeavesWhiteBandWithEtchedBottomLine) {
    Canvas canvas(452, 34);
    RECT all = {0, 0, 452, 34};
    FillRect(canvas.Dc(), &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    DrawTitle(&canvas, "");
    for (int y = 0; y < 28; ++y) {
        for (int x = 0; x < 452; ++x) {
            ASSERT_EQ(canvas.At(x, y), 0xFFFFFFu) << x << "," << y;
        }
    }
    const uint32_t shadow = canvas.At(200, 28);
    EXPECT_NE(shadow, 0xFFFFFFu); // the etched line: a shadow row over a light row
    EXPECT_NE(shadow, 0u);
    EXPECT_EQ(canvas.At(451, 28), shadow);
    EXPECT_EQ(canvas.At(200, 30), 0u); // the band ends at y 30
}

TEST_F(DrawTest, TitleWithoutSpaceIsDrawnWholeInTheLargeFont) {
    Canvas canvas(452, 30);
    DrawTitle(&canvas, "ZORVAND");
    const int headWidth = TextWidth(g_Launcher.TitleFont, "ZORVAND");
    RECT ink;
    ASSERT_TRUE(canvas.DarkBounds(0, 0, 452, 27, 128, &ink));
    EXPECT_NEAR(ink.left, 10, 3);
    EXPECT_LE(ink.right, 10 + headWidth + 1);
    EXPECT_GE(ink.bottom - ink.top, 16); // capitals of a 26-pixel font
    EXPECT_LT(ink.top, 11);              // the tail would start at y 11
}

TEST_F(DrawTest, TailStartsAfterHeadWidthPlus17AndIsLetterSpaced) {
    Canvas canvas(452, 30);
    DrawTitle(&canvas, "ZORVAND Online Season 2");
    const int headWidth = TextWidth(g_Launcher.TitleFont, "ZORVAND");
    RECT head;
    RECT tail;
    ASSERT_TRUE(canvas.DarkBounds(0, 0, headWidth + 14, 27, 128, &head));
    ASSERT_TRUE(canvas.DarkBounds(headWidth + 14, 0, 452, 27, 128, &tail));
    EXPECT_GE(tail.left, headWidth + 17);
    EXPECT_LE(tail.left, headWidth + 20);
    EXPECT_GE(tail.top, 11);
    // Four extra pixels after each of the 15 characters (the last one's is blank space).
    const int plain = TextWidth(g_Launcher.TitleSubFont, "Online Season 2");
    EXPECT_GE(tail.right - tail.left, plain + 14 * 4 - 4);
    EXPECT_LE(tail.right - tail.left, plain + 15 * 4);
}

TEST_F(DrawTest, TitleStartingWithSpaceHasEmptyHeadAndTailAt17) {
    Canvas canvas(452, 30);
    DrawTitle(&canvas, " Online");
    RECT ink;
    ASSERT_TRUE(canvas.DarkBounds(0, 0, 452, 27, 128, &ink));
    EXPECT_GE(ink.left, 17);
    EXPECT_LE(ink.left, 20);
    EXPECT_GE(ink.top, 11);
}

TEST_F(DrawTest, TitleBandRestoresFontAndSpacing) {
    Canvas canvas(452, 30);
    HGDIOBJ before = GetCurrentObject(canvas.Dc(), OBJ_FONT);
    DrawTitle(&canvas, "ZORVAND Online");
    EXPECT_EQ(GetCurrentObject(canvas.Dc(), OBJ_FONT), before);
    EXPECT_EQ(GetTextCharacterExtra(canvas.Dc()), 0);
}

} // namespace
