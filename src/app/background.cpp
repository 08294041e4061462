// Background picture loader: the configured PNG or JPEG becomes a 32-bit top-down DIB
// section once at start-up; painting only scales it.
#include "app/background.h"

#include <windows.h>

#include <cstddef>

#include "base/paths.h"
#include "stb_image.h"
#include "system/launcher_state.h"

namespace {

// The bitmap section for a decoded picture, with its pixels converted from RGBA to BGRX.
// The picture's alpha is dropped: transparent parts show their stored colour.
HBITMAP MakePictureBitmap(const unsigned char* rgba, int width, int height) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height; // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr || bits == nullptr) {
        if (bitmap != nullptr) {
            DeleteObject(bitmap);
        }
        return nullptr;
    }
    unsigned char* out = static_cast<unsigned char*>(bits);
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    for (size_t i = 0; i < pixels; ++i) {
        out[4 * i + 0] = rgba[4 * i + 2];
        out[4 * i + 1] = rgba[4 * i + 1];
        out[4 * i + 2] = rgba[4 * i + 0];
        out[4 * i + 3] = 255;
    }
    return bitmap;
}

} // namespace

void LoadBackgroundPicture() {
    g_Launcher.BackgroundPicture = nullptr;
    g_Launcher.BackgroundWidth = 0;
    g_Launcher.BackgroundHeight = 0;

    // A path that does not fit would name a different file once cut: no picture then.
    char path[kPathCapacity];
    if (!JoinPath(path, sizeof path, g_Launcher.LauncherDir, g_Launcher.Config.BackgroundImage)) {
        return;
    }
    int width = 0;
    int height = 0;
    int channelsInFile = 0;
    unsigned char* rgba = stbi_load(path, &width, &height, &channelsInFile, 4);
    if (rgba == nullptr) {
        return;
    }
    HBITMAP bitmap = MakePictureBitmap(rgba, width, height);
    stbi_image_free(rgba);
    if (bitmap == nullptr) {
        return;
    }
    g_Launcher.BackgroundPicture = bitmap;
    g_Launcher.BackgroundWidth = width;
    g_Launcher.BackgroundHeight = height;
}
