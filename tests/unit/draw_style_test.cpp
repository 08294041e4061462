// Title split, button colour rows and rounded-panel geometry of the drawing style.
#include "ui/draw_style.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(SplitTitle, SplitsAtTheFirstSpaceOnly) {
    struct Case {
        const char* title;
        const char* head;
        const char* tail; // null: no tail drawn
    };
    const Case cases[] = {
        {"ZORVAND", "ZORVAND", nullptr},
        {"ZORVAND Online", "ZORVAND", "Online"},
        {"ZORVAND Online Season 2", "ZORVAND", "Online Season 2"},
        {"A  B", "A", " B"},
        {" Online", "", "Online"},
        {"ZORVAND ", "ZORVAND", ""},
        {"", "", nullptr},
        {"Tab\tis not a space", "Tab\tis", "not a space"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        const TitleParts parts = SplitTitle(c.title);
        EXPECT_EQ(std::string(parts.Head, parts.HeadLength), c.head);
        EXPECT_EQ(parts.Head, c.title); // the head is drawn straight from the title
        if (c.tail == nullptr) {
            EXPECT_EQ(parts.Tail, nullptr);
        } else {
            ASSERT_NE(parts.Tail, nullptr);
            EXPECT_STREQ(parts.Tail, c.tail);
        }
    }
}

TEST(ButtonColours, DisabledWinsOverPressedAndPressedReversesTheGradient) {
    EXPECT_EQ(&ChooseButtonColours(false, false), &kButtonNormalColours);
    EXPECT_EQ(&ChooseButtonColours(false, true), &kButtonPressedColours);
    EXPECT_EQ(&ChooseButtonColours(true, false), &kButtonDisabledColours);
    EXPECT_EQ(&ChooseButtonColours(true, true), &kButtonDisabledColours);

    // Grey levels: normal and disabled are lighter at the top, pressed darker.
    auto grey = [](uint32_t argb) { return argb & 0xFF; };
    EXPECT_GT(grey(kButtonNormalColours.Top), grey(kButtonNormalColours.Bottom));
    EXPECT_GT(grey(kButtonDisabledColours.Top), grey(kButtonDisabledColours.Bottom));
    EXPECT_LT(grey(kButtonPressedColours.Top), grey(kButtonPressedColours.Bottom));
    for (const ButtonColours* row :
         {&kButtonNormalColours, &kButtonPressedColours, &kButtonDisabledColours}) {
        EXPECT_EQ(row->Top >> 24, 0xFFu);
        EXPECT_EQ(row->Bottom >> 24, 0xFFu);
        EXPECT_EQ(row->Border >> 24, 0xFFu);
        EXPECT_EQ(row->Caption >> 24, 0u); // a GDI text colour has no alpha
    }
}

TEST(RoundPanelOutline, ButtonPanelCornersAreQuarterCirclesHalfAPixelInside) {
    // The main window's button panel: 440 x 42 at (6, 436), radius 12.
    const PanelOutline o = RoundPanelOutline(6, 436, 446, 478, 12.0f);
    EXPECT_FLOAT_EQ(o.X, 6.5f);
    EXPECT_FLOAT_EQ(o.Y, 436.5f);
    EXPECT_FLOAT_EQ(o.Width, 439.0f);
    EXPECT_FLOAT_EQ(o.Height, 41.0f);
    EXPECT_FLOAT_EQ(o.X + o.Width, 445.5f);  // right - 0.5
    EXPECT_FLOAT_EQ(o.Y + o.Height, 477.5f); // bottom - 0.5

    struct Expected {
        float x, y, start;
    };
    const Expected corners[4] = {
        {6.5f, 436.5f, 180.0f},   // top-left
        {421.5f, 436.5f, 270.0f}, // top-right: 445.5 - 24
        {421.5f, 453.5f, 0.0f},   // bottom-right: 477.5 - 24
        {6.5f, 453.5f, 90.0f},    // bottom-left
    };
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_FLOAT_EQ(o.Arcs[i].X, corners[i].x);
        EXPECT_FLOAT_EQ(o.Arcs[i].Y, corners[i].y);
        EXPECT_FLOAT_EQ(o.Arcs[i].Size, 24.0f);
        EXPECT_FLOAT_EQ(o.Arcs[i].Start, corners[i].start);
        EXPECT_FLOAT_EQ(o.Arcs[i].Sweep, 90.0f);
    }
}

TEST(RoundPanelOutline, FractionalRadiusAndSmallButton) {
    const PanelOutline o = RoundPanelOutline(0, 0, 128, 28, 9.0f);
    EXPECT_FLOAT_EQ(o.Arcs[2].X, 0.5f + 127.0f - 18.0f);
    EXPECT_FLOAT_EQ(o.Arcs[2].Y, 0.5f + 27.0f - 18.0f);
    const PanelOutline f = RoundPanelOutline(10, 20, 30, 40, 2.5f);
    EXPECT_FLOAT_EQ(f.Arcs[1].Size, 5.0f);
    EXPECT_FLOAT_EQ(f.Arcs[1].X, 10.5f + 19.0f - 5.0f);
}

} // namespace
