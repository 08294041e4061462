// Memory canvas for drawing tests.
#include "canvas.h"

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
    bool found = false;
    *box = RECT{right, bottom, left, top};
    for (int y = top; y < bottom; ++y) {
        for (int x = left; x < right; ++x) {
            const uint32_t p = At(x, y);
            const int r = (p >> 16) & 0xFF;
            const int g = (p >> 8) & 0xFF;
            const int b = p & 0xFF;
            if (r < threshold && g < threshold && b < threshold) {
                found = true;
                box->left = x < box->left ? x : box->left;
                box->top = y < box->top ? y : box->top;
                box->right = x + 1 > box->right ? x + 1 : box->right;
                box->bottom = y + 1 > box->bottom ? y + 1 : box->bottom;
            }
        }
    }
    return found;
}
