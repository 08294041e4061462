// A white 32-bit bitmap selected into a memory device context, for drawing tests that
// read back exact pixels.
#pragma once

#include <windows.h>

#include <cstdint>

class Canvas {
  public:
    Canvas(int width, int height);
    ~Canvas();
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC Dc() const { return dc_; }
    int Width() const { return width_; }
    int Height() const { return height_; }

    // 0xRRGGBB of one pixel, after flushing pending GDI drawing.
    uint32_t At(int x, int y) const;

    // True when some pixel of the rectangle (right and bottom exclusive) has every
    // channel below threshold.
    bool HasDarkPixel(int left, int top, int right, int bottom, int threshold = 128) const;

    // Bounding box of the pixels darker than threshold inside the rectangle; false when
    // there are none.
    bool DarkBounds(int left, int top, int right, int bottom, int threshold, RECT* box) const;

  private:
    int width_;
    int height_;
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ kept_;
    const uint32_t* bits_;
};
