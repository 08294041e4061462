// PNG encoding with filter type 0 and uncompressed deflate blocks.
#include "png_writer.h"

#include <cstddef>

namespace {

uint32_t Crc32(const std::string& bytes, size_t from) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = from; i < bytes.size(); ++i) {
        crc ^= static_cast<uint8_t>(bytes[i]);
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

void PutBigEndian32(std::string* out, uint32_t value) {
    out->push_back(static_cast<char>(value >> 24));
    out->push_back(static_cast<char>(value >> 16));
    out->push_back(static_cast<char>(value >> 8));
    out->push_back(static_cast<char>(value));
}

void PutChunk(std::string* out, const char* type, const std::string& data) {
    PutBigEndian32(out, static_cast<uint32_t>(data.size()));
    const size_t typeAt = out->size();
    out->append(type, 4);
    out->append(data);
    PutBigEndian32(out, Crc32(*out, typeAt));
}

// A zlib stream of stored deflate blocks (at most 65535 bytes each) and its Adler-32.
std::string StoredZlib(const std::string& raw) {
    std::string z = "\x78\x01";
    size_t at = 0;
    do {
        const size_t n = raw.size() - at < 65535 ? raw.size() - at : 65535;
        const bool last = at + n == raw.size();
        z.push_back(last ? 1 : 0);
        z.push_back(static_cast<char>(n & 0xFF));
        z.push_back(static_cast<char>(n >> 8));
        z.push_back(static_cast<char>(~n & 0xFF));
        z.push_back(static_cast<char>((~n >> 8) & 0xFF));
        z.append(raw, at, n);
        at += n;
    } while (at < raw.size());
    uint32_t a = 1;
    uint32_t b = 0;
    for (char c : raw) {
        a = (a + static_cast<uint8_t>(c)) % 65521;
        b = (b + a) % 65521;
    }
    PutBigEndian32(&z, (b << 16) | a);
    return z;
}

int ChannelCount(PngColourType colourType) {
    switch (colourType) {
    case kPngGrey: return 1;
    case kPngGreyAlpha: return 2;
    case kPngRgb: return 3;
    case kPngRgba: return 4;
    }
    return 0;
}

} // namespace

std::string EncodePng(int width, int height, PngColourType colourType, int bitDepth,
                      const std::vector<uint8_t>& samples) {
    const size_t rowBytes =
        static_cast<size_t>(width) * ChannelCount(colourType) * static_cast<size_t>(bitDepth / 8);
    std::string raw;
    raw.reserve((rowBytes + 1) * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
        raw.push_back('\0'); // filter: none
        raw.append(reinterpret_cast<const char*>(samples.data()) + rowBytes * y, rowBytes);
    }

    std::string header;
    PutBigEndian32(&header, static_cast<uint32_t>(width));
    PutBigEndian32(&header, static_cast<uint32_t>(height));
    header.push_back(static_cast<char>(bitDepth));
    header.push_back(static_cast<char>(colourType));
    header.append(3, '\0'); // deflate, adaptive filtering, no interlace

    std::string png("\x89PNG\r\n\x1a\n", 8);
    PutChunk(&png, "IHDR", header);
    PutChunk(&png, "IDAT", StoredZlib(raw));
    PutChunk(&png, "IEND", std::string());
    return png;
}

std::string EncodeArgbPng(int width, int height, const std::vector<uint32_t>& argb) {
    std::vector<uint8_t> samples;
    samples.reserve(argb.size() * 4);
    for (uint32_t pixel : argb) {
        samples.push_back(static_cast<uint8_t>(pixel >> 16));
        samples.push_back(static_cast<uint8_t>(pixel >> 8));
        samples.push_back(static_cast<uint8_t>(pixel));
        samples.push_back(static_cast<uint8_t>(pixel >> 24));
    }
    return EncodePng(width, height, kPngRgba, 8, samples);
}
