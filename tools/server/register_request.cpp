// Registration form decoding and checks. The account, password and e-mail rules are the
// launcher's own (CheckRegistration), so both sides always agree on what a valid account is.
#include "register_request.h"

#include <cstring>
#include <memory>

#include "base/utf.h"
#include "register/registration_form.h"
#include "base/hex_digit.h"
#include "server_texts.h"

namespace {

constexpr size_t kMaxEmailUnits = 60;

bool DecodeFormValue(const char* begin, const char* end, std::string* out) {
    out->clear();
    for (const char* p = begin; p < end; ++p) {
        if (*p == '+') {
            out->push_back(' ');
        } else if (*p == '%') {
            if (end - p < 3 || HexValue(p[1]) < 0 || HexValue(p[2]) < 0) {
                return false;
            }
            out->push_back(static_cast<char>(HexValue(p[1]) * 16 + HexValue(p[2])));
            p += 2;
        } else {
            out->push_back(*p);
        }
    }
    return true;
}

// Decodes value into UTF-16 when it is well-formed UTF-8 without NUL bytes: the launcher's
// converter replaces what is ill-formed, so a text that does not come back byte for byte
// was not valid.
bool ToUtf16(const std::string& value, std::u16string* out) {
    const size_t units = value.size() + 1;
    std::unique_ptr<char16_t[]> wide(new char16_t[units]);
    if (!Utf8ToUtf16(value.c_str(), wide.get(), units)) {
        return false;
    }
    const size_t back = 3 * units + 1;
    std::unique_ptr<char[]> narrow(new char[back]);
    if (!Utf16ToUtf8(wide.get(), narrow.get(), back)) {
        return false;
    }
    if (strlen(narrow.get()) != value.size() ||
        memcmp(narrow.get(), value.data(), value.size()) != 0) {
        return false;
    }
    out->assign(wide.get());
    return true;
}

// C0 controls, DEL and the C1 controls (escape sequences start with 0x1B or U+009B).
bool HasControl(const std::u16string& text) {
    for (char16_t c : text) {
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
            return true;
        }
    }
    return false;
}

std::string ToUtf8(const char16_t* text) {
    char buffer[1024];
    return Utf16ToUtf8(text, buffer, sizeof buffer) ? std::string(buffer)
                                                    : std::string(kAnswerBadForm);
}

// Where the value of row of kRegisterFields goes; null for a row the launcher never sends.
std::string* SlotOfRow(RegisterForm* form, int row) {
    switch (row) {
    case kFieldAccount: return &form->Account;
    case kFieldPassword: return &form->Password;
    case kFieldEmail: return &form->Email;
    default: return nullptr;
    }
}

// The row of kRegisterFields whose form key is key, or -1.
int RowOfKey(const std::string& key) {
    for (int row = 0; row < kRegisterFieldCount; ++row) {
        const char* formKey = kRegisterFields[row].FormKey;
        if (formKey != nullptr && key == formKey) {
            return row;
        }
    }
    return -1;
}

} // namespace

bool ParseRegisterForm(const std::string& body, RegisterForm* form) {
    bool seen[kRegisterFieldCount] = {};
    const char* p = body.data();
    const char* const end = p + body.size();
    while (p <= end) {
        const char* pairEnd =
            static_cast<const char*>(memchr(p, '&', static_cast<size_t>(end - p)));
        if (pairEnd == nullptr) {
            pairEnd = end;
        }
        const char* eq = static_cast<const char*>(memchr(p, '=', static_cast<size_t>(pairEnd - p)));
        if (eq == nullptr) {
            return false;
        }
        std::string key;
        if (!DecodeFormValue(p, eq, &key)) {
            return false;
        }
        const int row = RowOfKey(key);
        std::string* slot = row < 0 ? nullptr : SlotOfRow(form, row);
        if (slot == nullptr || seen[row] || !DecodeFormValue(eq + 1, pairEnd, slot)) {
            return false;
        }
        seen[row] = true;
        p = pairEnd + 1;
    }
    for (int row = 0; row < kRegisterFieldCount; ++row) {
        if (kRegisterFields[row].FormKey != nullptr && !seen[row]) {
            return false;
        }
    }
    return true;
}

std::string CheckRegisterForm(const RegisterForm& form) {
    RegistrationInput input;
    if (!ToUtf16(form.Account, &input.Account) || !ToUtf16(form.Password, &input.Password) ||
        !ToUtf16(form.Email, &input.Email) || HasControl(input.Account) ||
        HasControl(input.Password) || HasControl(input.Email)) {
        return kAnswerBadText;
    }
    input.Repeat = input.Password;
    if (const char16_t* refusal = CheckRegistration(input, false)) {
        return ToUtf8(refusal);
    }
    if (input.Email.size() > kMaxEmailUnits) {
        return kAnswerLongEmail;
    }
    return std::string();
}
