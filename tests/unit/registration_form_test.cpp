// Registration rules in their order and the form encoding.
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

} // namespace
