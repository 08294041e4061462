// Table-driven CRC-32 (reflected polynomial 0xEDB88320), one byte per step, and the choice
// of the fastest equivalent path for this CPU.
#include "crc32/crc32.h"

#include "crc32/crc32_fold.h"
#include "crc32/crc32_paths.h"

#if QELT_CRC32_X86
#include <cpuid.h>
#endif

uint32_t Crc32Table[256];

namespace {

using UpdateFunction = uint32_t (*)(uint32_t, const void*, size_t);

// Written at start-up (and by tests) before other threads exist; only read afterwards.
UpdateFunction g_update = Crc32UpdateByte;
Crc32Path g_selected = Crc32Path::ByteTable;

struct CpuFeatures {
    bool pclmul;
    bool vpclmul;
};

#if QELT_CRC32_X86
CpuFeatures DetectCpuFeatures() {
    CpuFeatures features = {false, false};
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d)) {
        return features;
    }
    features.pclmul = (c & bit_PCLMUL) && (c & bit_SSE4_1);
    const bool osSavesVectorState = (c & bit_OSXSAVE) != 0;
    if (!features.pclmul || !osSavesVectorState || __get_cpuid_max(0, nullptr) < 7) {
        return features;
    }
    __cpuid_count(7, 0, a, b, c, d);
    if (!(b & bit_AVX512F) || !(c & bit_VPCLMULQDQ)) {
        return features;
    }
    // The system must save the SSE, AVX and all three AVX-512 parts of the state (XCR0
    // bits 1, 2, 5, 6, 7), or 512-bit registers would be lost at a thread switch.
    unsigned xcr0Low = 0, xcr0High = 0;
    __asm__ volatile("xgetbv" : "=a"(xcr0Low), "=d"(xcr0High) : "c"(0));
    (void)xcr0High;
    features.vpclmul = (xcr0Low & 0xE6u) == 0xE6u;
    return features;
}
#else
CpuFeatures DetectCpuFeatures() {
    return CpuFeatures{false, false};
}
#endif

const CpuFeatures& Cpu() {
    static const CpuFeatures features = DetectCpuFeatures();
    return features;
}

UpdateFunction FunctionOf(Crc32Path path) {
    switch (path) {
    case Crc32Path::ByteTable: return Crc32UpdateByte;
    case Crc32Path::Slice16: return Crc32UpdateSlice16;
#if QELT_CRC32_X86
    case Crc32Path::Pclmul: return Crc32UpdatePclmul;
    case Crc32Path::Vpclmul: return Crc32UpdateVpclmul;
#else
    case Crc32Path::Pclmul: break;
    case Crc32Path::Vpclmul: break;
#endif
    }
    return Crc32UpdateByte;
}

} // namespace

void BuildCrc32Table() {
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int round = 0; round < 8; ++round) {
            c = (c & 1u) ? (c >> 1) ^ crc32fold::kReflectedPolynomial : c >> 1;
        }
        Crc32Table[i] = c;
    }
    BuildCrc32SliceTables();
    SelectCrc32Path(FastestCrc32Path());
}

uint32_t Crc32UpdateByte(uint32_t crc, const void* data, size_t length) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < length; ++i) {
        crc = Crc32Table[(crc ^ p[i]) & 0xFFu] ^ (crc >> 8);
    }
    return crc;
}

uint32_t Crc32Update(uint32_t crc, const void* data, size_t length) {
    return g_update(crc, data, length);
}

uint32_t BufferChecksum(const void* data, size_t length) {
    return Crc32Update(0xFFFFFFFFu, data, length) ^ 0xFFFFFFFFu;
}

const char* Crc32PathName(Crc32Path path) {
    switch (path) {
    case Crc32Path::ByteTable: return "byte";
    case Crc32Path::Slice16: return "slice16";
    case Crc32Path::Pclmul: return "pclmul";
    case Crc32Path::Vpclmul: return "vpclmul";
    }
    return "?";
}

bool Crc32PathSupported(Crc32Path path) {
    switch (path) {
    case Crc32Path::ByteTable: return true;
    case Crc32Path::Slice16: return true;
    case Crc32Path::Pclmul: return Cpu().pclmul;
    case Crc32Path::Vpclmul: return Cpu().vpclmul;
    }
    return false;
}

Crc32Path FastestCrc32Path() {
    if (Crc32PathSupported(Crc32Path::Vpclmul)) {
        return Crc32Path::Vpclmul;
    }
    if (Crc32PathSupported(Crc32Path::Pclmul)) {
        return Crc32Path::Pclmul;
    }
    return Crc32Path::Slice16;
}

Crc32Path SelectedCrc32Path() {
    return g_selected;
}

bool SelectCrc32Path(Crc32Path path) {
    if (!Crc32PathSupported(path)) {
        return false;
    }
    g_selected = path;
    g_update = FunctionOf(path);
    return true;
}

uint32_t Crc32UpdateWith(Crc32Path path, uint32_t crc, const void* data, size_t length) {
    if (!Crc32PathSupported(path)) {
        return Crc32UpdateByte(crc, data, length);
    }
    return FunctionOf(path)(crc, data, length);
}
