// The platform-free UTF conversions give what the platform's own conversions give.
#include "base/utf.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::u16string PlatformUtf8ToUtf16(const std::string& bytes) {
    wchar_t out[512];
    int n = MultiByteToWideChar(CP_UTF8, 0, bytes.c_str(), -1, out, 512);
    return n > 0 ? std::u16string(reinterpret_cast<const char16_t*>(out)) : u"<failed>";
}

std::string PlatformUtf16ToUtf8(const std::u16string& text) {
    char out[512];
    int n = WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<const wchar_t*>(text.c_str()), -1, out,
                                sizeof out, nullptr, nullptr);
    return n > 0 ? std::string(out) : "<failed>";
}

TEST(UtfConversions, Utf8DecodingMatchesThePlatform) {
    const std::vector<std::string> inputs = {
        "plain ascii",
        "Ti\xE1\xBA\xBFng Vi\xE1\xBB\x87t",
        "\xF0\x9F\x98\x80 emoji",
        "\xE2\x82"
        "A", // truncated sequence
        "\x80\x80"
        "B", // stray continuation bytes
        "\xC0\xAF"
        "C", // overlong
        "\xFF\xFE"
        "F", // bytes never used in UTF-8
        "\xF0\x9F\x98"
        "G", // truncated four-byte sequence
    };
    for (const std::string& input : inputs) {
        char16_t ours[512];
        ASSERT_TRUE(Utf8ToUtf16(input.c_str(), ours, 512));
        EXPECT_EQ(std::u16string(ours), PlatformUtf8ToUtf16(input)) << input;
    }
}

// Wine counts the replacement characters of an encoded surrogate and of a sequence beyond
// U+10FFFF differently from the Unicode practice of one per maximal ill-formed subpart,
// which the launcher follows; both keep the text around them and show nothing else.
TEST(UtfConversions, EncodedSurrogatesAndOutOfRangeBecomeOnlyReplacements) {
    for (const std::string& input : {std::string("\xED\xA0\x80"
                                                 "D"),
                                     std::string("\xF4\x90\x80\x80"
                                                 "E")}) {
        char16_t ours[512];
        ASSERT_TRUE(Utf8ToUtf16(input.c_str(), ours, 512));
        for (const std::u16string& decoded : {std::u16string(ours), PlatformUtf8ToUtf16(input)}) {
            ASSERT_GE(decoded.size(), 2u);
            EXPECT_EQ(decoded.back(), input.back());
            EXPECT_EQ(decoded.find_first_not_of(u'\uFFFD'), decoded.size() - 1);
        }
    }
}

TEST(UtfConversions, Utf16EncodingMatchesThePlatform) {
    const std::u16string lone1 = {u'a', char16_t(0xD800), u'b'};
    const std::u16string lone2 = {char16_t(0xDC00), u'c'};
    const std::u16string reversed = {char16_t(0xDC00), char16_t(0xD800)};
    const std::vector<std::u16string> inputs = {u"abc", u"Tiếng Việt", u"\U0001F600",
                                                lone1,  lone2,         reversed};
    for (const std::u16string& input : inputs) {
        char ours[512];
        ASSERT_TRUE(Utf16ToUtf8(input.c_str(), ours, sizeof ours));
        EXPECT_EQ(std::string(ours), PlatformUtf16ToUtf8(input));
    }
}

} // namespace
