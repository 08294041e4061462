// Resume records read back exactly or not at all; the headers a continued download trusts;
// the rate limit's arithmetic.
#include "net/resume_record.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "net/rate_limit.h"

namespace {

ResumeRecord Record(bool hasCrc, uint32_t crc, uint64_t size, const char* validator) {
    ResumeRecord record = {};
    record.HasCrc = hasCrc;
    record.Crc = crc;
    record.Size = size;
    strcpy(record.Validator, validator);
    return record;
}

TEST(ResumeRecord, ReadsBackWhatWasWrittenAndNothingCutOrAltered) {
    char text[kResumeRecordCapacity];
    ResumeRecord written = Record(true, 0x0a1b2c3du, 5ull << 30, "\"5f3a-19\"");
    written.HasDigest = true;
    for (size_t i = 0; i < kSha256DigestSize; ++i) {
        written.Sha256[i] = static_cast<unsigned char>(i * 9);
    }
    ASSERT_TRUE(FormatResumeRecord(written, text, sizeof text));
    EXPECT_STREQ(text, "qelt-resume 2\ncrc 0a1b2c3d\nsha256 "
                       "0009121b242d363f48515a636c757e879099a2abb4bdc6cfd8e1eaf3fc050e17\n"
                       "size 5368709120\nvalidator \"5f3a-19\"\nend\n");
    ResumeRecord read = {};
    ASSERT_TRUE(ParseResumeRecord(text, strlen(text), &read));
    EXPECT_TRUE(read.HasCrc);
    EXPECT_EQ(read.Crc, 0x0a1b2c3du);
    EXPECT_TRUE(read.HasDigest);
    EXPECT_EQ(memcmp(read.Sha256, written.Sha256, kSha256DigestSize), 0);
    EXPECT_EQ(read.Size, 5ull << 30);
    EXPECT_STREQ(read.Validator, "\"5f3a-19\"");
    // A crash while the record was written leaves a prefix of it: none of them reads.
    for (size_t length = 0; length < strlen(text); ++length) {
        EXPECT_FALSE(ParseResumeRecord(text, length, &read)) << length;
    }
    // The longest record fits.
    written.Size = UINT64_MAX;
    memset(written.Validator, 'v', kValidatorCapacity - 1);
    written.Validator[kValidatorCapacity - 1] = '\0';
    EXPECT_TRUE(FormatResumeRecord(written, text, sizeof text));
    EXPECT_TRUE(ParseResumeRecord(text, strlen(text), &read));

    ASSERT_TRUE(FormatResumeRecord(Record(false, 0, 1, "Wed, 21 Oct 2015 07:28:00 GMT"), text,
                                   sizeof text));
    ASSERT_TRUE(ParseResumeRecord(text, strlen(text), &read));
    EXPECT_FALSE(read.HasCrc);
    EXPECT_FALSE(read.HasDigest);
    EXPECT_STREQ(read.Validator, "Wed, 21 Oct 2015 07:28:00 GMT");

    EXPECT_FALSE(FormatResumeRecord(Record(true, 1, 1, ""), text, sizeof text));
    const std::string digest(64, 'a');
    const std::string bad[] = {
        "qelt-resume 1\ncrc 0a1b2c3d\nsize 9\nvalidator \"v\"\nend\n", // before digests
        "qelt-resume 2\ncrc 0A1B2C3D\nsha256 -\nsize 9\nvalidator \"v\"\nend\n",
        "qelt-resume 2\ncrc 0a1b2c3\nsha256 -\nsize 9\nvalidator \"v\"\nend\n",
        "qelt-resume 2\ncrc -\nsha256 " + digest.substr(1) + "\nsize 9\nvalidator \"v\"\nend\n",
        "qelt-resume 2\ncrc -\nsha256 g" + digest.substr(1) + "\nsize 9\nvalidator \"v\"\nend\n",
        "qelt-resume 2\ncrc -\nsha256 -\nsize 0\nvalidator \"v\"\nend\n",
        "qelt-resume 2\ncrc -\nsha256 -\nsize 9\nvalidator \nend\n",
        "qelt-resume 2\ncrc -\nsha256 -\nsize 9\nvalidator \"v\x01\"\nend\n",
        "qelt-resume 2\ncrc -\nsha256 -\nsize 9\nvalidator \"v\"\nend\nmore\n",
        "qelt-resume 2\ncrc -\nsize 9\nsha256 -\nvalidator \"v\"\nend\n",
    };
    for (const std::string& text2 : bad) {
        EXPECT_FALSE(ParseResumeRecord(text2.data(), text2.size(), &read)) << text2;
    }
    const std::string good =
        "qelt-resume 2\ncrc -\nsha256 " + digest + "\nsize 9\nvalidator \"v\"\nend\n";
    EXPECT_TRUE(ParseResumeRecord(good.data(), good.size(), &read));
}

TEST(ResumeRecord, ValidatorIsAStrongETagElseTheDate) {
    char out[kValidatorCapacity];
    EXPECT_TRUE(ChooseValidator("\"abc\"", "Wed, 21 Oct 2015 07:28:00 GMT", out, sizeof out));
    EXPECT_STREQ(out, "\"abc\"");
    EXPECT_TRUE(ChooseValidator("W/\"abc\"", "Wed, 21 Oct 2015 07:28:00 GMT", out, sizeof out));
    EXPECT_STREQ(out, "Wed, 21 Oct 2015 07:28:00 GMT");
    EXPECT_FALSE(ChooseValidator("W/\"abc\"", "", out, sizeof out));
    EXPECT_STREQ(out, "");
    EXPECT_FALSE(ChooseValidator("", "", out, sizeof out));
    const std::string huge = "\"" + std::string(kValidatorCapacity, 'e') + "\"";
    EXPECT_FALSE(ChooseValidator(huge.c_str(), "", out, sizeof out));
}

TEST(ResumeRecord, ContentRangeOfOneWholeSpan) {
    uint64_t first = 0, last = 0, complete = 0;
    ASSERT_TRUE(ParseContentRange("bytes 629145-1048575/1048576", &first, &last, &complete));
    EXPECT_EQ(first, 629145u);
    EXPECT_EQ(last, 1048575u);
    EXPECT_EQ(complete, 1048576u);
    for (const char* refused : {"bytes */1048576", "bytes 5-4/9", "bytes 0-9/9", "bytes 1-2/*",
                                "items 0-1/2", "bytes 0-1/2x", "bytes -1-2/3"}) {
        EXPECT_FALSE(ParseContentRange(refused, &first, &last, &complete)) << refused;
    }
}

TEST(RateLimit, WaitsUntilTheBytesTookTheirTime) {
    EXPECT_EQ(RateLimitWaitMs(1u << 20, 0, 0), 0u); // no limit
    EXPECT_EQ(RateLimitWaitMs(2048u * 1024u, 0, 2048), 1000u);
    EXPECT_EQ(RateLimitWaitMs(2048u * 1024u, 400, 2048), 600u);
    EXPECT_EQ(RateLimitWaitMs(2048u * 1024u, 1500, 2048), 0u);
    EXPECT_EQ(RateLimitWaitMs(1, 0, 1), 1u); // rounded up, never early
    EXPECT_EQ(RateLimitWaitMs(12ull << 20, 0, 2048), 6000u);
    EXPECT_EQ(RateLimitWaitMs(UINT64_MAX, 0, UINT32_MAX), 4194304001u); // no overflow
    EXPECT_EQ(RateLimitPieceSize(0, 32768), 32768u);
    EXPECT_EQ(RateLimitPieceSize(64, 32768), 16384u);
    EXPECT_EQ(RateLimitPieceSize(1, 32768), 1024u);
    EXPECT_EQ(RateLimitPieceSize(1u << 20, 32768), 32768u);
    EXPECT_EQ(ParseDownloadLimit("2048"), 2048u);
    EXPECT_EQ(ParseDownloadLimit("4294967296"), 0u);
}

} // namespace
