// A small PNG encoder for tests: pictures with known pixels, and screenshots. Uses only
// zlib "stored" blocks, so files are large but exact.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum PngColourType : uint8_t {
    kPngGrey = 0,
    kPngRgb = 2,
    kPngGreyAlpha = 4,
    kPngRgba = 6,
};

// samples: rows top to bottom, channels in PNG order, 16-bit samples big-endian.
std::string EncodePng(int width, int height, PngColourType colourType, int bitDepth,
                      const std::vector<uint8_t>& samples);

// 8-bit RGBA from pixels given as 0xAARRGGBB, top row first.
std::string EncodeArgbPng(int width, int height, const std::vector<uint32_t>& argb);
