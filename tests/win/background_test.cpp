// Background picture decoding: which files give a picture, and that the bitmap holds the
// picture's stored colours, top row first, fully opaque.
#include "app/background.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "png_writer.h"
#include "stb_image_write.h"
#include "system/launcher_state.h"
#include "test_files.h"

namespace {

// A 1 x 1 GIF whose one pixel is red: a decoder that took GIFs would show red.
const char kRedGif[] = "GIF89a\x01\x00\x01\x00\x80\x00\x00\xff\x00\x00\x00\x00\x00"
                       ",\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;";

void AppendToString(void* context, void* data, int size) {
    static_cast<std::string*>(context)->append(static_cast<const char*>(data), size);
}

class BackgroundTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = MakeScratchDir("picture");
        lstrcpynA(g_Launcher.LauncherDir, dir_.c_str(), sizeof g_Launcher.LauncherDir);
        lstrcpynA(g_Launcher.Config.BackgroundImage, "launcher_bg.png",
                  sizeof g_Launcher.Config.BackgroundImage);
        g_Launcher.BackgroundWidth = -1;
        g_Launcher.BackgroundHeight = -1;
    }
    void TearDown() override {
        if (g_Launcher.BackgroundPicture != nullptr) {
            DeleteObject(g_Launcher.BackgroundPicture);
            g_Launcher.BackgroundPicture = nullptr;
        }
        RemoveTree(dir_);
    }

    void Write(const std::string& bytes, const char* name = "launcher_bg.png") {
        ASSERT_TRUE(WriteWholeFile(dir_ + "\\" + name, bytes));
    }

    void ExpectNoPicture() {
        EXPECT_EQ(g_Launcher.BackgroundPicture, nullptr);
        EXPECT_EQ(g_Launcher.BackgroundWidth, 0);
        EXPECT_EQ(g_Launcher.BackgroundHeight, 0);
    }

    // The bitmap's pixels as stored bytes B, G, R, X, after checking its format.
    std::vector<uint32_t> PictureBytes() {
        DIBSECTION section = {};
        EXPECT_EQ(GetObjectA(g_Launcher.BackgroundPicture, sizeof section, &section),
                  static_cast<int>(sizeof section));
        EXPECT_EQ(section.dsBmih.biBitCount, 32);
        EXPECT_EQ(section.dsBmih.biCompression, static_cast<DWORD>(BI_RGB));
        EXPECT_EQ(section.dsBmih.biWidth, g_Launcher.BackgroundWidth);
        EXPECT_EQ(abs(section.dsBmih.biHeight), g_Launcher.BackgroundHeight);
        const uint32_t* bits = static_cast<const uint32_t*>(section.dsBm.bmBits);
        return std::vector<uint32_t>(bits, bits + static_cast<size_t>(g_Launcher.BackgroundWidth) *
                                                      g_Launcher.BackgroundHeight);
    }

    std::string dir_;
};

TEST_F(BackgroundTest, MissingFileGivesNoPicture) {
    LoadBackgroundPicture();
    ExpectNoPicture();
}

TEST_F(BackgroundTest, OnlyPngAndJpegAreDecoded) {
    Write(std::string(kRedGif, sizeof kRedGif - 1));
    LoadBackgroundPicture();
    ExpectNoPicture();

    // A valid 1 x 1 BMP under the same name.
    std::string bmp("BM\x3a\0\0\0\0\0\0\0\x36\0\0\0\x28\0\0\0\x01\0\0\0\x01\0\0\0\x01\0\x18\0"
                    "\0\0\0\0\x04\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\xff\0",
                    58);
    Write(bmp);
    LoadBackgroundPicture();
    ExpectNoPicture();

    Write(EncodeArgbPng(2, 2, {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF}).substr(0, 60));
    LoadBackgroundPicture(); // a cut PNG
    ExpectNoPicture();
}

TEST_F(BackgroundTest, PixelsAreBgrTopDownAndOpaqueWithTransparencyDropped) {
    // Row 0: red, green, blue; row 1: fully transparent orange, half-transparent grey, white.
    Write(EncodeArgbPng(3, 2,
                        {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0x00FF8000, 0x80404040, 0xFFFFFFFF}));
    LoadBackgroundPicture();
    ASSERT_NE(g_Launcher.BackgroundPicture, nullptr);
    EXPECT_EQ(g_Launcher.BackgroundWidth, 3);
    EXPECT_EQ(g_Launcher.BackgroundHeight, 2);
    const std::vector<uint32_t> expected = {0xFFFF0000, 0xFF00FF00, 0xFF0000FF,
                                            0xFFFF8000, 0xFF404040, 0xFFFFFFFF};
    EXPECT_EQ(PictureBytes(), expected);
}

TEST_F(BackgroundTest, SixteenBitPngShowsLikeItsEightBitReduction) {
    std::vector<uint8_t> samples = {0x12, 0x34, 0xAB, 0xCD, 0xFF, 0xFF,  // one RGB pixel
                                    0x00, 0x00, 0x80, 0x7F, 0x01, 0x00}; // and another
    Write(EncodePng(2, 1, kPngRgb, 16, samples));
    LoadBackgroundPicture();
    ASSERT_NE(g_Launcher.BackgroundPicture, nullptr);
    const std::vector<uint32_t> expected = {0xFF12ABFF, 0xFF008001};
    EXPECT_EQ(PictureBytes(), expected);
}

TEST_F(BackgroundTest, GreyPicturesAreDrawnGrey) {
    Write(EncodePng(3, 1, kPngGrey, 8, {0x00, 0x7F, 0xF0}));
    LoadBackgroundPicture();
    ASSERT_NE(g_Launcher.BackgroundPicture, nullptr);
    const std::vector<uint32_t> expected = {0xFF000000, 0xFF7F7F7F, 0xFFF0F0F0};
    EXPECT_EQ(PictureBytes(), expected);
    DeleteObject(g_Launcher.BackgroundPicture);
    g_Launcher.BackgroundPicture = nullptr;

    // A grey-scale JPEG: left half dark, right half light.
    std::vector<uint8_t> grey(32 * 16);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 32; ++x) {
            grey[y * 32 + x] = x < 16 ? 0x30 : 0xC0;
        }
    }
    std::string jpeg;
    ASSERT_NE(stbi_write_jpg_to_func(AppendToString, &jpeg, 32, 16, 1, grey.data(), 95), 0);
    lstrcpynA(g_Launcher.Config.BackgroundImage, "bg.jpg",
              sizeof g_Launcher.Config.BackgroundImage);
    Write(jpeg, "bg.jpg");
    LoadBackgroundPicture();
    ASSERT_NE(g_Launcher.BackgroundPicture, nullptr);
    EXPECT_EQ(g_Launcher.BackgroundWidth, 32);
    EXPECT_EQ(g_Launcher.BackgroundHeight, 16);
    const std::vector<uint32_t> pixels = PictureBytes();
    for (uint32_t p : pixels) {
        ASSERT_EQ(p & 0xFF, (p >> 8) & 0xFF);
        ASSERT_EQ(p & 0xFF, (p >> 16) & 0xFF);
        ASSERT_EQ(p >> 24, 0xFFu);
    }
    EXPECT_NEAR(static_cast<int>(pixels[8 * 32 + 4] & 0xFF), 0x30, 6);
    EXPECT_NEAR(static_cast<int>(pixels[8 * 32 + 28] & 0xFF), 0xC0, 6);
}

TEST_F(BackgroundTest, PathLongerThanMaxPathIsRefusedNotCut) {
    // A deep launcher folder of 200 characters, and a picture exactly where the too-long
    // path would end up if it were cut to 259 characters: it must not be shown.
    std::string deep = dir_ + "\\" + std::string(100, 'd');
    ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr));
    deep += "\\" + std::string(199 - deep.size(), 'e');
    ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr));
    ASSERT_EQ(deep.size(), 200u);
    const std::string cutName = std::string(259 - 201 - 4, 'p') + ".png";
    ASSERT_TRUE(WriteWholeFile(deep + "\\" + cutName, EncodeArgbPng(1, 1, {0xFFFF0000})));
    lstrcpynA(g_Launcher.LauncherDir, deep.c_str(), sizeof g_Launcher.LauncherDir);
    lstrcpynA(g_Launcher.Config.BackgroundImage, (cutName + "xx").c_str(),
              sizeof g_Launcher.Config.BackgroundImage);
    LoadBackgroundPicture();
    ExpectNoPicture();

    // The same picture under a name that fits is shown.
    lstrcpynA(g_Launcher.Config.BackgroundImage, cutName.c_str(),
              sizeof g_Launcher.Config.BackgroundImage);
    LoadBackgroundPicture();
    EXPECT_NE(g_Launcher.BackgroundPicture, nullptr);
}

} // namespace
