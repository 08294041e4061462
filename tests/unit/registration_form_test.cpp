// Registration rules in their order, the form encoding and the UTF conversions.
#include "register/registration_form.h"

#include <gtest/gtest.h>

#include <string>

#include "register/register_texts.h"

namespace {

RegistrationInput Valid() {
    return RegistrationInput{u"player1", u"secret99", u"secret99", u"p@example.com"};
}

const char16_t* Check(const RegistrationInput& input) {
    return CheckRegistration(input, false);
}

TEST(RegistrationRules, ValidInputPasses) {
    EXPECT_EQ(Check(Valid()), nullptr);
}

TEST(RegistrationRules, MissingUpdateUrlComesFirst) {
    EXPECT_EQ(CheckRegistration(RegistrationInput{}, true), kRegisterNoUpdateUrl);
    EXPECT_EQ(CheckRegistration(Valid(), true), kRegisterNoUpdateUrl);
}

TEST(RegistrationRules, AccountLengthAndLetters) {
    for (const char16_t* account :
         {u"abc", u"abcdefghijk", u"", u"ab_cd", u"ab cd", u"ab-cd", u"tuấn123", u"abcd\u00E9"}) {
        RegistrationInput input = Valid();
        input.Account = account;
        EXPECT_EQ(Check(input), kRegisterBadAccount);
    }
    for (const char16_t* account : {u"abcd", u"ABCDEFGHIJ", u"0123456789", u"Zz09"}) {
        RegistrationInput input = Valid();
        input.Account = account;
        EXPECT_EQ(Check(input), nullptr);
    }
}

TEST(RegistrationRules, PasswordLengthAndCharacters) {
    RegistrationInput shortOne = Valid();
    shortOne.Password = u"abcde";
    shortOne.Repeat = u"different"; // the earlier rule wins
    EXPECT_EQ(Check(shortOne), kRegisterBadPassword);
    for (const char16_t* password : {u"abc def", u"abc\"def", u"abc'def", u"abc\\def", u"mậtkhẩu1",
                                     u"abcdefghijk", u"abc\tdef"}) {
        RegistrationInput input = Valid();
        input.Password = input.Repeat = password;
        EXPECT_EQ(Check(input), kRegisterBadPassword);
    }
    for (const char16_t* password : {u"a&b=c%d", u"+#!~{}|", u"123456", u"abcdefghij"}) {
        RegistrationInput input = Valid();
        input.Password = input.Repeat = password;
        EXPECT_EQ(Check(input), nullptr);
    }
}

TEST(RegistrationRules, RepeatMustMatchExactly) {
    RegistrationInput input = Valid();
    input.Repeat = u"SECRET99";
    EXPECT_EQ(Check(input), kRegisterPasswordMismatch);
}

TEST(RegistrationRules, EmailOnlyNeedsText) {
    RegistrationInput input = Valid();
    input.Email = u"";
    EXPECT_EQ(Check(input), kRegisterNoEmail);
    input.Email = u" ";
    EXPECT_EQ(Check(input), nullptr);
}

struct EncodeCase {
    const char16_t* value;
    const char* encoded;
};

TEST(AppendFormField, EscapesEverythingButUnreserved) {
    const EncodeCase cases[] = {
        {u"abcXYZ019-._~", "abcXYZ019-._~"},
        {u"&=%+#", "%26%3D%25%2B%23"},
        {u" ", "%20"},
        {u"a@b.c", "a%40b.c"},
        {u"ậ", "%E1%BA%AD"},
        {u"\u00E9", "%C3%A9"},
        {u"", ""},
        {u"/?", "%2F%3F"},
    };
    for (const auto& c : cases) {
        std::string body;
        AppendFormField(body, "k", c.value);
        EXPECT_EQ(body, std::string("k=") + c.encoded);
    }
}

TEST(AppendFormField, JoinsWithAmpersand) {
    std::string body;
    AppendFormField(body, "a", u"1");
    AppendFormField(body, "b", u"");
    AppendFormField(body, "c", u"3");
    EXPECT_EQ(body, "a=1&b=&c=3");
}

TEST(BuildRegistrationBody, ThreeFieldsRepeatNeverSent) {
    RegistrationInput input{u"tuan99", u"p&ss=1%", u"p&ss=1%", u"tuấn@mail.vn"};
    EXPECT_EQ(BuildRegistrationBody(input),
              "account=tuan99&password=p%26ss%3D1%25&email=tu%E1%BA%A5n%40mail.vn");
    RegistrationInput spaced{u"abcd", u"123456", u"123456", u" "};
    EXPECT_EQ(BuildRegistrationBody(spaced), "account=abcd&password=123456&email=%20");
}

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
