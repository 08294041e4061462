// The real Launcher.exe's main window as a person sees it: initial state, caption, the
// picture frame with and without a picture, the title band, the button panel, and the
// ways the window closes. Every scenario saves a screenshot for people to look at.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "launcher_process.h"
#include "png_writer.h"
#include "test_files.h"
#include "ui/main_layout.h"
#include "window_probe.h"

#ifndef QELT_SCREENSHOT_DIR
#error "QELT_SCREENSHOT_DIR must name the folder for screenshots"
#endif

namespace {

constexpr uint32_t kBlack = 0x000000;
constexpr int kFrameLeft = kPictureAreaRect.Left;                            // 8
constexpr int kFrameTop = kPictureAreaRect.Top;                              // 36
constexpr int kFrameWidth = kPictureAreaRect.Right - kPictureAreaRect.Left;  // 436
constexpr int kFrameHeight = kPictureAreaRect.Bottom - kPictureAreaRect.Top; // 350

// A 1 x 1 GIF whose one pixel is red.
const char kRedGif[] = "GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\x00\x00\x00\x00\x00"
                       ",\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;";

// Opaque pixels of a width x height picture from a colour function (0xRRGGBB).
std::string MakePicture(int width, int height, const std::function<uint32_t(int, int)>& colour,
                        uint32_t alpha = 0xFF000000) {
    std::vector<uint32_t> argb(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            argb[static_cast<size_t>(y) * width + x] = alpha | colour(x, y);
        }
    }
    return EncodeArgbPng(width, height, argb);
}

// Four quadrants: red, green / blue, yellow.
uint32_t Quadrants(int x, int y, int width, int height) {
    const bool right = x >= width / 2;
    const bool bottom = y >= height / 2;
    return bottom ? (right ? 0xFFFF00 : 0x0000FF) : (right ? 0x00FF00 : 0xFF0000);
}

// A dusk landscape of exactly the frame's size, for the one-to-one scenario and the
// README screenshot.
uint32_t Landscape(int x, int y) {
    auto mix = [](int a, int b, double t) { return static_cast<int>(a + (b - a) * t + 0.5); };
    auto rgb = [](int r, int g, int b) { return static_cast<uint32_t>((r << 16) | (g << 8) | b); };
    const double ridge = 215 + 30 * std::sin(x / 41.0) + 16 * std::sin(x / 13.0 + 1.3);
    const double shore = 275 + 14 * std::sin(x / 29.0 + 2.0) + 6 * std::sin(x / 7.0);
    if (y >= shore) {
        const double t = (y - shore) / (350 - shore + 1);
        return rgb(mix(26, 12, t), mix(34, 16, t), mix(40, 20, t));
    }
    if (y >= ridge) {
        const double t = (y - ridge) / (shore - ridge + 1);
        return rgb(mix(70, 44, t), mix(62, 48, t), mix(96, 70, t));
    }
    const double dx = x - 300.0;
    const double dy = y - 170.0;
    const double d = std::sqrt(dx * dx + dy * dy);
    const double t = y / 260.0;
    if (d < 34) {
        return rgb(255, 226, 150);
    }
    const double glow = d < 90 ? (90 - d) / 90 * 0.5 : 0.0;
    return rgb(mix(mix(38, 246, t), 255, glow), mix(mix(62, 150, t), 214, glow),
               mix(mix(122, 96, t), 150, glow));
}

class MainWindowE2E : public ::testing::Test {
  protected:
    void TearDown() override {
        StopLauncher(&launcher_);
        if (oldBuildHolder_ != INVALID_HANDLE_VALUE) {
            CloseHandle(oldBuildHolder_);
        }
        if (!dir_.empty()) {
            RemoveTree(dir_);
        }
    }

    // Makes a client folder with Launcher.ini and any picture files, then starts the
    // launcher there.
    void Start(const char* tag, const std::string& ini,
               const std::vector<std::pair<std::string, std::string>>& files = {}) {
        dir_ = MakeClientDir(tag, "[Launcher]\r\n" + ini);
        ASSERT_FALSE(dir_.empty());
        for (const auto& file : files) {
            ASSERT_TRUE(WriteWholeFile(dir_ + "\\" + file.first, file.second));
        }
        // A previous build's file that cannot be deleted yet keeps the update worker in its
        // first step (ten tries 300 ms apart), so these tests see the window as it is
        // before the update run shows anything.
        const std::string oldBuild = dir_ + "\\Launcher.exe.old";
        ASSERT_TRUE(WriteWholeFile(oldBuild, "previous build"));
        oldBuildHolder_ = CreateFileA(oldBuild.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(oldBuildHolder_, INVALID_HANDLE_VALUE);
        ASSERT_TRUE(StartLauncher(dir_, "", &launcher_));
    }

    // Captures the client area once painting has settled and saves it as
    // screenshots/<name>.png.
    ProbeImage Screenshot(const char* name) {
        ProbeImage image;
        EXPECT_TRUE(CaptureSettledClient(launcher_.Window, &image));
        CreateDirectoryA(QELT_SCREENSHOT_DIR, nullptr);
        EXPECT_TRUE(SaveImage(image, std::string(QELT_SCREENSHOT_DIR) + "/" + name + ".png"));
        return image;
    }

    void ExpectFrameInsideBlack(const ProbeImage& image) {
        for (int y = kFrameTop; y < kFrameTop + kFrameHeight; y += 349 / 7) {
            for (int x = kFrameLeft; x < kFrameLeft + kFrameWidth; x += 435 / 5) {
                EXPECT_EQ(image.At(x, y), kBlack) << "at " << x << "," << y;
            }
        }
        EXPECT_EQ(image.At(kFrameLeft + kFrameWidth - 1, kFrameTop + kFrameHeight - 1), kBlack);
    }

    // Samples a picture of quadrants at the centre of each quadrant and on both sides
    // of where its middle lines must land.
    void ExpectQuadrantsFillTheFrame(const ProbeImage& image) {
        const int midX = kFrameLeft + kFrameWidth / 2; // 226
        const int midY = kFrameTop + kFrameHeight / 2; // 211
        struct Sample {
            int x, y;
            uint32_t colour;
        };
        const Sample samples[] = {
            {kFrameLeft + 100, kFrameTop + 80, 0xFF0000},
            {midX + 100, kFrameTop + 80, 0x00FF00},
            {kFrameLeft + 100, midY + 80, 0x0000FF},
            {midX + 100, midY + 80, 0xFFFF00},
            {midX - 4, midY - 4, 0xFF0000},
            {midX + 3, midY - 4, 0x00FF00},
            {midX - 4, midY + 3, 0x0000FF},
            {midX + 3, midY + 3, 0xFFFF00},
            // The picture reaches every edge of the frame: nothing is kept black.
            {kFrameLeft, kFrameTop, 0xFF0000},
            {kFrameLeft + kFrameWidth - 1, kFrameTop, 0x00FF00},
            {kFrameLeft, kFrameTop + kFrameHeight - 1, 0x0000FF},
            {kFrameLeft + kFrameWidth - 1, kFrameTop + kFrameHeight - 1, 0xFFFF00},
        };
        for (const Sample& s : samples) {
            EXPECT_TRUE(ColourNear(image.At(s.x, s.y), s.colour, 24))
                << "at " << s.x << "," << s.y << ": " << std::hex << image.At(s.x, s.y);
        }
    }

    std::string dir_;
    LauncherProcess launcher_ = {};
    HANDLE oldBuildHolder_ = INVALID_HANDLE_VALUE;
};

TEST_F(MainWindowE2E, RightAfterStart) {
    Start("initial", "LauncherName=Main Window Test\r\n");
    WindowState state;
    ASSERT_TRUE(ReadWindowState(launcher_.Window, &state));
    EXPECT_EQ(state.Caption, "Main Window Test");
    EXPECT_EQ(state.ClientWidth, 452);
    EXPECT_EQ(state.ClientHeight, 486);
    EXPECT_EQ(state.Status, "");
    EXPECT_EQ(state.Progress, 0);
    EXPECT_FALSE(state.ConnectEnabled);
    EXPECT_TRUE(state.RegisterEnabled);
    EXPECT_TRUE(state.CloseEnabled);
    EXPECT_EQ(WindowStateJson(state),
              "{\"found\":true,\"caption\":\"Main Window Test\",\"clientWidth\":452,"
              "\"clientHeight\":486,\"status\":\"\",\"progress\":0,\"connectEnabled\":false,"
              "\"registerEnabled\":true,\"closeEnabled\":true}");
    Screenshot("initial-state");
}

TEST_F(MainWindowE2E, FortyCharacterLauncherNameIsCutTo31) {
    const std::string name = "Qelt Launcher for the Zorvand Realm 2026"; // 40 characters
    ASSERT_EQ(name.size(), 40u);
    Start("longname", "LauncherName=" + name + "\r\n");
    WindowState state;
    ASSERT_TRUE(ReadWindowState(launcher_.Window, &state));
    EXPECT_EQ(state.Caption, name.substr(0, 31));
    Screenshot("long-launcher-name");
}

TEST_F(MainWindowE2E, NoPictureLeavesTheFrameBlackInsideItsSunkenEdge) {
    Start("nopicture", "BackgroundImage=missing.png\r\n");
    const ProbeImage image = Screenshot("no-picture");
    ExpectFrameInsideBlack(image);
    // The 2-pixel sunken edge around it: shadow over dark shadow at the top and left,
    // highlight over light at the bottom and right.
    EXPECT_EQ(image.At(6, 200), GetSysColor(COLOR_BTNSHADOW) & 0xFFFFFF);
    EXPECT_EQ(image.At(200, 34), GetSysColor(COLOR_BTNSHADOW) & 0xFFFFFF);
    EXPECT_EQ(image.At(7, 200), GetSysColor(COLOR_3DDKSHADOW) & 0xFFFFFF);
    EXPECT_EQ(image.At(445, 200), GetSysColor(COLOR_BTNHIGHLIGHT) & 0xFFFFFF);
    EXPECT_EQ(image.At(200, 387), GetSysColor(COLOR_BTNHIGHLIGHT) & 0xFFFFFF);
    EXPECT_EQ(image.At(444, 200), GetSysColor(COLOR_3DLIGHT) & 0xFFFFFF);
    EXPECT_EQ(image.At(3, 200), GetSysColor(COLOR_BTNFACE) & 0xFFFFFF); // class background
}

TEST_F(MainWindowE2E, GifUnderTheConfiguredNameIsNotShown) {
    Start("gif", "BackgroundImage=picture.gif\r\n",
          {{"picture.gif", std::string(kRedGif, sizeof kRedGif - 1)}});
    ExpectFrameInsideBlack(Screenshot("gif-picture"));
}

TEST_F(MainWindowE2E, PictureOf872x700IsShownAtHalfSize) {
    // Quadrants, and a magenta block at (40, 40)-(140, 140) that must land at
    // (28, 56)-(78, 106) in the window.
    auto colour = [](int x, int y) -> uint32_t {
        if (x >= 40 && x < 140 && y >= 40 && y < 140) {
            return 0xFF00FF;
        }
        return Quadrants(x, y, 872, 700);
    };
    Start("halfsize", "", {{"launcher_bg.png", MakePicture(872, 700, colour)}});
    const ProbeImage image = Screenshot("picture-872x700");
    ExpectQuadrantsFillTheFrame(image);
    EXPECT_TRUE(ColourNear(image.At(53, 81), 0xFF00FF, 24));
    EXPECT_TRUE(ColourNear(image.At(30, 58), 0xFF00FF, 24));
    EXPECT_TRUE(ColourNear(image.At(76, 104), 0xFF00FF, 24));
    EXPECT_TRUE(ColourNear(image.At(25, 81), 0xFF0000, 24));
    EXPECT_TRUE(ColourNear(image.At(81, 81), 0xFF0000, 24));
    EXPECT_TRUE(ColourNear(image.At(53, 53), 0xFF0000, 24));
    EXPECT_TRUE(ColourNear(image.At(53, 109), 0xFF0000, 24));
}

TEST_F(MainWindowE2E, PictureOf100x100IsStretchedToFill436x350) {
    Start("stretch", "", {{"launcher_bg.png", MakePicture(100, 100, [](int x, int y) {
                               return Quadrants(x, y, 100, 100);
                           })}});
    ExpectQuadrantsFillTheFrame(Screenshot("picture-100x100"));
}

TEST_F(MainWindowE2E, TransparentPixelsShowTheirStoredColour) {
    // Fully transparent orange with an opaque teal band in the middle.
    std::vector<uint32_t> argb(200 * 100);
    for (int y = 0; y < 100; ++y) {
        for (int x = 0; x < 200; ++x) {
            argb[y * 200 + x] = (y >= 40 && y < 60) ? 0xFF008080 : 0x00FF8000;
        }
    }
    Start("transparent", "", {{"launcher_bg.png", EncodeArgbPng(200, 100, argb)}});
    const ProbeImage image = Screenshot("transparent-picture");
    EXPECT_TRUE(ColourNear(image.At(50, 60), 0xFF8000, 8));
    EXPECT_TRUE(ColourNear(image.At(400, 360), 0xFF8000, 8));
    EXPECT_TRUE(ColourNear(image.At(226, 211), 0x008080, 8));
}

TEST_F(MainWindowE2E, PictureOfTheFramesSizeIsDrawnOneToOne) {
    Start("landscape", "LauncherName=Zorvand Launcher\r\nTitle=ZORVAND Online\r\n",
          {{"launcher_bg.png", MakePicture(436, 350, Landscape)}});
    const ProbeImage image = Screenshot("main-window");
    int differing = 0;
    for (int y = 0; y < kFrameHeight; ++y) {
        for (int x = 0; x < kFrameWidth; ++x) {
            if (!ColourNear(image.At(kFrameLeft + x, kFrameTop + y), Landscape(x, y), 2)) {
                ++differing;
            }
        }
    }
    EXPECT_EQ(differing, 0);
}

TEST_F(MainWindowE2E, TitleBandShowsTheGameTitleOnWhite) {
    Start("title", "Title=ZORVAND Online\r\n");
    const ProbeImage image = Screenshot("title-band");
    EXPECT_EQ(image.At(2, 2), 0xFFFFFFu);
    EXPECT_EQ(image.At(445, 5), 0xFFFFFFu);
    EXPECT_EQ(image.At(226, 27), 0xFFFFFFu);
    RECT head;
    RECT all;
    ASSERT_TRUE(InkBounds(image, RECT{0, 0, 452, 28}, 100, &all));
    ASSERT_TRUE(InkBounds(image, RECT{0, 0, 452, 11}, 100, &head)); // only the head rises so high
    EXPECT_GE(head.left, 10);
    EXPECT_LE(head.left, 13);
    EXPECT_GE(all.bottom - all.top, 16);
    EXPECT_LT(all.right, 300); // a short title leaves the right of the band white
    // The tail is to the right of the head, lower, and smaller.
    RECT tail;
    ASSERT_TRUE(InkBounds(image, RECT{head.right + 10, 0, 452, 28}, 140, &tail));
    EXPECT_GE(tail.top, 11);
    EXPECT_GT(tail.right - tail.left, 40); // "Online" with 4 pixels after each letter
}

TEST_F(MainWindowE2E, ButtonPanelAndButtonsAreDrawnWithTheirGradients) {
    Start("buttons", "");
    const ProbeImage image = Screenshot("buttons");
    auto grey = [&](int x, int y) {
        const uint32_t p = image.At(x, y);
        EXPECT_EQ(RedOf(p), BlueOf(p)) << "at " << x << "," << y;
        return GreenOf(p);
    };
    // Button panel: #F7F7F7 at the top to #E7E7E7 at the bottom, border #C6C6C6.
    // Sampled between Connect and Register, away from the rounded corners.
    EXPECT_NEAR(grey(154, 437), 0xF7, 3);
    EXPECT_NEAR(grey(154, 476), 0xE7, 3);
    EXPECT_GT(grey(154, 445), grey(154, 470));
    EXPECT_NEAR(grey(226, 436), 0xC6, 6);
    EXPECT_NEAR(grey(226, 477), 0xC6, 6);
    EXPECT_NEAR(grey(6, 457), 0xC6, 6);
    EXPECT_NEAR(grey(445, 457), 0xC6, 6);

    struct Button {
        LayoutRect rect;
        int top, bottom, border, ink; // grey levels; ink is the caption's threshold
    };
    const Button buttons[] = {
        {kConnectRect, 0xF0, 0xE4, 0xBE, 180}, // disabled
        {kRegisterRect, 0xFD, 0xDB, 0x8C, 100},
        {kCloseRect, 0xFD, 0xDB, 0x8C, 100},
    };
    for (const Button& b : buttons) {
        SCOPED_TRACE(b.rect.Left);
        const int midX = (b.rect.Left + b.rect.Right) / 2;
        EXPECT_NEAR(grey(b.rect.Left + 12, b.rect.Top + 1), b.top, 4);
        EXPECT_NEAR(grey(b.rect.Left + 12, b.rect.Bottom - 2), b.bottom, 4);
        EXPECT_NEAR(grey(midX, b.rect.Top), b.border, 8);
        EXPECT_NEAR(grey(midX, b.rect.Bottom - 1), b.border, 8);
        EXPECT_NEAR(grey(b.rect.Right - 1, (b.rect.Top + b.rect.Bottom) / 2), b.border, 8);
        RECT ink;
        ASSERT_TRUE(InkBounds(
            image, RECT{b.rect.Left + 6, b.rect.Top + 3, b.rect.Right - 6, b.rect.Bottom - 3},
            b.ink, &ink));
        EXPECT_NEAR((ink.left + ink.right) / 2.0, midX, 3.0);
        EXPECT_NEAR((ink.top + ink.bottom) / 2.0, (b.rect.Top + b.rect.Bottom) / 2.0, 3.0);
    }
}

TEST_F(MainWindowE2E, LongStatusEndsInAnEllipsisAndTheBarFills) {
    Start("status", "");
    HWND status = GetDlgItem(launcher_.Window, kStatusLineId);
    HWND bar = GetDlgItem(launcher_.Window, kProgressBarId);
    ASSERT_NE(status, nullptr);
    ASSERT_NE(bar, nullptr);
    // What SetStatus and SetProgress do, sent from outside.
    const std::string text(120, 'H');
    SendMessageA(status, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    SendMessageA(bar, PBM_SETPOS, 100, 0);
    WindowState state;
    ASSERT_TRUE(ReadWindowState(launcher_.Window, &state));
    EXPECT_EQ(state.Status, text);
    EXPECT_EQ(state.Progress, 100);
    const ProbeImage image = Screenshot("long-status-full-bar");

    // The bar is filled to its right end.
    const uint32_t fill = image.At(20, 426);
    EXPECT_NE(fill, image.At(20, 410));
    EXPECT_EQ(image.At(kProgressBarRect.Right - 5, 426), fill);
    // The text ends in dots: shore its right end, ink only in the lower rows of the line.
    RECT line;
    ASSERT_TRUE(InkBounds(image, RECT{12, 396, 440, 414}, 128, &line));
    EXPECT_GE(line.bottom - line.top, 8);
    RECT end;
    ASSERT_TRUE(InkBounds(image, RECT{line.right - 8, 396, line.right, 414}, 128, &end));
    EXPECT_GE(end.top, line.bottom - 3);
}

TEST_F(MainWindowE2E, CloseButtonEndsTheProcessWithExitCodeZero) {
    Start("close", "");
    ASSERT_TRUE(PressButton(launcher_.Window, kCloseId));
    EXPECT_EQ(WaitForLauncherExit(&launcher_, 10000), 0u);
}

// Waits for the registration window of the launcher, up to a bound.
HWND WaitForRegisterWindow(DWORD pid) {
    for (int i = 0; i < 100; ++i) {
        HWND window = FindProcessWindow(pid, "QeltRegister");
        if (window != nullptr && IsWindowVisible(window)) {
            return window;
        }
        Sleep(50);
    }
    return nullptr;
}

bool WaitUntilEnabled(HWND window) {
    for (int i = 0; i < 100; ++i) {
        if (IsWindowEnabled(window)) {
            return true;
        }
        Sleep(50);
    }
    return false;
}

TEST_F(MainWindowE2E, RegisterDisablesTheMainWindowUntilItsWindowCloses) {
    Start("register", "");
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(PressButton(launcher_.Window, kRegisterId));
        HWND registration = WaitForRegisterWindow(launcher_.Info.dwProcessId);
        ASSERT_NE(registration, nullptr);
        EXPECT_EQ(GetWindow(registration, GW_OWNER), launcher_.Window);
        EXPECT_FALSE(IsWindowEnabled(launcher_.Window));
        EXPECT_FALSE(PressButton(launcher_.Window, kCloseId)); // a click would not get there
        PostMessageA(registration, WM_CLOSE, 0, 0);
        EXPECT_TRUE(WaitUntilEnabled(launcher_.Window));
        EXPECT_FALSE(IsWindow(registration));
    }
    // The buttons kept their own states.
    WindowState state;
    ASSERT_TRUE(ReadWindowState(launcher_.Window, &state));
    EXPECT_FALSE(state.ConnectEnabled);
    EXPECT_TRUE(state.RegisterEnabled);
    EXPECT_TRUE(state.CloseEnabled);
    ASSERT_TRUE(PressButton(launcher_.Window, kCloseId));
    EXPECT_EQ(WaitForLauncherExit(&launcher_, 10000), 0u);
}

TEST_F(MainWindowE2E, CloseRequestWhileRegisteringClosesBothWithExitCodeZero) {
    Start("registerclose", "");
    ASSERT_TRUE(PressButton(launcher_.Window, kRegisterId));
    HWND registration = WaitForRegisterWindow(launcher_.Info.dwProcessId);
    ASSERT_NE(registration, nullptr);
    PostMessageA(launcher_.Window, WM_CLOSE, 0, 0); // what the self-update's request does
    EXPECT_EQ(WaitForLauncherExit(&launcher_, 10000), 0u);
}

} // namespace
