// Registration rules, form encoding and UTF conversion.
//
// Form body (application/x-www-form-urlencoded), built field by field:
//   account=<A>&password=<P>&email=<E>
// where each value is its UTF-8 bytes with A-Z a-z 0-9 - . _ ~ kept and every other byte
// written as %XX (upper-case hex; a space is %20, never '+').
#include "register/registration_form.h"

#include "register/register_texts.h"

constexpr RegisterField kRegisterFields[kRegisterFieldCount] = {
    {u"Tài khoản", 1101, 10, 0, 32, "account"},
    {u"Mật khẩu", 1102, 10, kEditPasswordStyle, 64, "password"},
    {u"Nhập lại", 1103, 10, kEditPasswordStyle, 64, nullptr},
    {u"Email", 1104, 60, 0, 128, "email"},
};

namespace {

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

// Appends the UTF-8 form of one code point; false when it does not fit.
bool PutUtf8(uint32_t cp, char* out, size_t cap, size_t* n) {
    unsigned char bytes[4];
    size_t count;
    if (cp < 0x80) {
        bytes[0] = static_cast<unsigned char>(cp);
        count = 1;
    } else if (cp < 0x800) {
        bytes[0] = static_cast<unsigned char>(0xC0 | (cp >> 6));
        bytes[1] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        count = 2;
    } else if (cp < 0x10000) {
        bytes[0] = static_cast<unsigned char>(0xE0 | (cp >> 12));
        bytes[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        bytes[2] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        count = 3;
    } else {
        bytes[0] = static_cast<unsigned char>(0xF0 | (cp >> 18));
        bytes[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
        bytes[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
        bytes[3] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
        count = 4;
    }
    if (*n + count > cap) {
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        out[(*n)++] = static_cast<char>(bytes[i]);
    }
    return true;
}

bool PutUtf16(uint32_t cp, char16_t* out, size_t cap, size_t* n) {
    if (cp < 0x10000) {
        if (*n + 1 > cap) {
            return false;
        }
        out[(*n)++] = static_cast<char16_t>(cp);
        return true;
    }
    if (*n + 2 > cap) {
        return false;
    }
    cp -= 0x10000;
    out[(*n)++] = static_cast<char16_t>(0xD800 + (cp >> 10));
    out[(*n)++] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    return true;
}

// Length of the well-formed UTF-8 sequence at s, or of its maximal ill-formed prefix
// (at least 1) with *valid false. The terminator is never consumed as a trail byte.
size_t DecodeUtf8(const unsigned char* s, uint32_t* cp, bool* valid) {
    const unsigned char b = s[0];
    *valid = false;
    if (b < 0x80) {
        *cp = b;
        *valid = true;
        return 1;
    }
    size_t need;
    uint32_t value;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        need = 1;
        value = b & 0x1Fu;
    } else if (b >= 0xE0 && b <= 0xEF) {
        need = 2;
        value = b & 0x0Fu;
        if (b == 0xE0) {
            lo = 0xA0;
        } else if (b == 0xED) {
            hi = 0x9F; // no surrogates
        }
    } else if (b >= 0xF0 && b <= 0xF4) {
        need = 3;
        value = b & 0x07u;
        if (b == 0xF0) {
            lo = 0x90;
        } else if (b == 0xF4) {
            hi = 0x8F;
        }
    } else {
        return 1;
    }
    for (size_t i = 1; i <= need; ++i) {
        const unsigned char t = s[i];
        if (t < lo || t > hi) {
            return i;
        }
        lo = 0x80;
        hi = 0xBF;
        value = (value << 6) | (t & 0x3Fu);
    }
    *cp = value;
    *valid = true;
    return need + 1;
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
    char utf8[512];
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
    AppendFormField(body, "account", input.Account.c_str());
    AppendFormField(body, "password", input.Password.c_str());
    AppendFormField(body, "email", input.Email.c_str());
    return body;
}

bool Utf16ToUtf8(const char16_t* text, char* out, size_t cap) {
    size_t n = 0;
    for (size_t i = 0;; ++i) {
        uint32_t cp = text[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00u);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = 0xFFFD;
        }
        if (!PutUtf8(cp, out, cap, &n)) {
            return false;
        }
        if (cp == 0) {
            return true;
        }
    }
}

bool Utf8ToUtf16(const char* text, char16_t* out, size_t cap) {
    const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
    size_t n = 0;
    for (;;) {
        uint32_t cp = 0;
        bool valid = false;
        size_t used = DecodeUtf8(s, &cp, &valid);
        if (!PutUtf16(valid ? cp : 0xFFFDu, out, cap, &n)) {
            return false;
        }
        if (valid && cp == 0) {
            return true;
        }
        s += used;
    }
}
