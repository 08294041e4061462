// Registration rules and form encoding.
//
// Form body (application/x-www-form-urlencoded), built field by field:
//   account=<A>&password=<P>&email=<E>
// where each value is its UTF-8 bytes with A-Z a-z 0-9 - . _ ~ kept and every other byte
// written as %XX (upper-case hex; a space is %20, never '+').
#include "register/registration_form.h"

#include "base/utf.h"
#include "register/register_texts.h"

constexpr RegisterField kRegisterFields[kRegisterFieldCount] = {
    {u"Tài khoản", 1101, 10, 0, 32, "account"},
    {u"Mật khẩu", 1102, 10, kEditPasswordStyle, 64, "password"},
    {u"Nhập lại", 1103, 10, kEditPasswordStyle, 64, nullptr},
    {u"Email", 1104, 60, 0, 128, "email"},
};

namespace {

// A value's UTF-8 bytes: a field is read into at most kRegisterReadCapacity UTF-16 units,
// each at most 3 bytes in UTF-8 (a surrogate pair is 2 units for 4 bytes).
constexpr size_t kFormValueUtf8Capacity = 4 * kRegisterReadCapacity;

constexpr bool ReadCapacitiesFit() {
    for (const RegisterField& field : kRegisterFields) {
        if (field.ReadCapacity > kRegisterReadCapacity || field.ReadCapacity == 0) {
            return false;
        }
    }
    return true;
}
static_assert(ReadCapacitiesFit(), "every field is read into a kRegisterReadCapacity buffer");

bool IsAsciiAlnum(char16_t c) {
    return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9');
}

bool IsPasswordUnit(char16_t c) {
    return c >= 0x21 && c <= 0x7E && c != u'"' && c != u'\'' && c != u'\\';
}

bool IsUnreserved(unsigned char b) {
    return (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '-' ||
           b == '.' || b == '_' || b == '~';
}

const std::u16string& TextOfRow(const RegistrationInput& input, int row) {
    switch (row) {
    case kFieldAccount: return input.Account;
    case kFieldPassword: return input.Password;
    case kFieldRepeat: return input.Repeat;
    case kFieldEmail:
    default: return input.Email; // the table has no other rows
    }
}

} // namespace

const char16_t* CheckRegistration(const RegistrationInput& input, bool updateUrlEmpty) {
    if (updateUrlEmpty) {
        return kRegisterNoUpdateUrl;
    }
    if (input.Account.size() < 4 || input.Account.size() > 10) {
        return kRegisterBadAccount;
    }
    for (char16_t c : input.Account) {
        if (!IsAsciiAlnum(c)) {
            return kRegisterBadAccount;
        }
    }
    if (input.Password.size() < 6 || input.Password.size() > 10) {
        return kRegisterBadPassword;
    }
    for (char16_t c : input.Password) {
        if (!IsPasswordUnit(c)) {
            return kRegisterBadPassword;
        }
    }
    if (input.Password != input.Repeat) {
        return kRegisterPasswordMismatch;
    }
    if (input.Email.empty()) {
        return kRegisterNoEmail;
    }
    return nullptr;
}

void AppendFormField(std::string& body, const char* name, const char16_t* value) {
    static const char kHex[] = "0123456789ABCDEF";
    char utf8[kFormValueUtf8Capacity];
    if (!Utf16ToUtf8(value, utf8, sizeof utf8)) {
        utf8[0] = '\0'; // values are bounded by the form's read capacities, so this never cuts
    }
    if (!body.empty()) {
        body += '&';
    }
    body += name;
    body += '=';
    for (const char* p = utf8; *p; ++p) {
        const unsigned char b = static_cast<unsigned char>(*p);
        if (IsUnreserved(b)) {
            body += static_cast<char>(b);
        } else {
            body += '%';
            body += kHex[b >> 4];
            body += kHex[b & 0x0F];
        }
    }
}

std::string BuildRegistrationBody(const RegistrationInput& input) {
    std::string body;
    for (int row = 0; row < kRegisterFieldCount; ++row) {
        if (kRegisterFields[row].FormKey != nullptr) {
            AppendFormField(body, kRegisterFields[row].FormKey, TextOfRow(input, row).c_str());
        }
    }
    return body;
}
