// Memory canvas for drawing tests.
#include "canvas.h"

#include "window_probe.h"

Canvas::Canvas(int width, int height) : width_(width), height_(height), bits_(nullptr) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    dc_ = CreateCompatibleDC(nullptr);
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bits_ = static_cast<const uint32_t*>(bits);
    kept_ = SelectObject(dc_, bitmap_);
    RECT all = {0, 0, width, height};
    FillRect(dc_, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
}

Canvas::~Canvas() {
    SelectObject(dc_, kept_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
}

uint32_t Canvas::At(int x, int y) const {
    GdiFlush();
    return bits_[static_cast<size_t>(y) * width_ + x] & 0xFFFFFF;
}

bool Canvas::HasDarkPixel(int left, int top, int right, int bottom, int threshold) const {
    RECT box;
    return DarkBounds(left, top, right, bottom, threshold, &box);
}

bool Canvas::DarkBounds(int left, int top, int right, int bottom, int threshold, RECT* box) const {
    GdiFlush();
    ProbeImage image;
    image.Width = width_;
    image.Height = height_;
    image.Pixels.assign(bits_, bits_ + static_cast<size_t>(width_) * height_);
    return InkBounds(image, RECT{left, top, right, bottom}, threshold, box);
}
