// UTF conversions: surrogates, ill-formed sequences, the terminator and the capacity.
#include "base/utf.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Utf16ToUtf8, PairsAndLoneSurrogates) {
    char out[32];
    ASSERT_TRUE(Utf16ToUtf8(u"A\u00E9\u20AC\U0001F600", out, sizeof out));
    EXPECT_EQ(std::string(out), "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    const char16_t lone[] = {u'x', 0xD800, u'y', 0xDC00, 0};
    ASSERT_TRUE(Utf16ToUtf8(lone, out, sizeof out));
    EXPECT_EQ(std::string(out), "x\xEF\xBF\xBDy\xEF\xBF\xBD");
    EXPECT_FALSE(Utf16ToUtf8(u"\u20AC", out, 3)); // 3 bytes + terminator do not fit
    EXPECT_TRUE(Utf16ToUtf8(u"\u20AC", out, 4));
}

TEST(Utf8ToUtf16, MaximalSubpartsBecomeReplacementCharacters) {
    char16_t out[64];
    ASSERT_TRUE(Utf8ToUtf16("Xin ch\xC3\xA0o", out, 64));
    EXPECT_EQ(std::u16string(out), u"Xin chào");
    // Truncated three-byte sequence, stray continuation, overlong, surrogate, >U+10FFFF.
    ASSERT_TRUE(Utf8ToUtf16("\xE2\x82"
                            "A\x80"
                            "B\xC0\xAF"
                            "C\xED\xA0\x80"
                            "D\xF4\x90\x80\x80",
                            out, 64));
    EXPECT_EQ(std::u16string(out), u"\uFFFD"
                                   u"A\uFFFD"
                                   u"B\uFFFD\uFFFD"
                                   u"C\uFFFD\uFFFD\uFFFD"
                                   u"D\uFFFD\uFFFD\uFFFD\uFFFD");
    ASSERT_TRUE(Utf8ToUtf16("\xF0\x9F\x98\x80", out, 64));
    EXPECT_EQ(std::u16string(out), u"\U0001F600");
}

TEST(Utf8ToUtf16, StopsAtNulAndRefusesWhatDoesNotFit) {
    char16_t out[512];
    EXPECT_TRUE(Utf8ToUtf16("ok\0hidden", out, 512));
    EXPECT_EQ(std::u16string(out), u"ok");
    std::string fits(511, 'a');
    std::string tooLong(512, 'a');
    EXPECT_TRUE(Utf8ToUtf16(fits.c_str(), out, 512));
    EXPECT_FALSE(Utf8ToUtf16(tooLong.c_str(), out, 512));
}

} // namespace
