// Bounded text: formatting refuses instead of cutting; copies cut only where asked to.
#include "base/text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(FormatText, RefusesToCut) {
    char out[8];
    EXPECT_TRUE(FormatText(out, sizeof out, "%s (%d/%d)", "a", 1, 2));
    EXPECT_STREQ(out, "a (1/2)");
    EXPECT_FALSE(FormatText(out, sizeof out, "%s (%d/%d)", "ab", 1, 2));
    EXPECT_STREQ(out, "");
}

TEST(ConcatBounded, AppendsOrRefuses) {
    char out[10];
    EXPECT_TRUE(ConcatBounded(out, sizeof out, "abcd", ".part"));
    EXPECT_STREQ(out, "abcd.part");
    EXPECT_FALSE(ConcatBounded(out, sizeof out, "abcde", ".part"));
    EXPECT_STREQ(out, "");
}

TEST(CopyBounded, CutsToCapacityMinusOne) {
    char out[32];
    std::string forty(40, 'N');
    CopyBounded(out, sizeof out, forty.c_str());
    EXPECT_EQ(std::string(out), std::string(31, 'N'));
}

TEST(ParseWholeNumber, TakesDigitsThatFitInSixtyFourBitsOnly) {
    uint64_t value = 7;
    EXPECT_TRUE(ParseWholeNumber("0", &value));
    EXPECT_EQ(value, 0u);
    EXPECT_TRUE(ParseWholeNumber("18446744073709551615", &value));
    EXPECT_EQ(value, UINT64_MAX);
    for (const char* refused : {"", "18446744073709551616", "99999999999999999999", "-1", "+1",
                                " 1", "1 ", "1e3", "0x10"}) {
        value = 7;
        EXPECT_FALSE(ParseWholeNumber(refused, &value)) << refused;
        EXPECT_EQ(value, 7u) << refused;
    }
}

} // namespace
