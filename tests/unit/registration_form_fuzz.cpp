// libFuzzer entry for the registration form encoding and the UTF conversions. The input is
// read as UTF-16 units, split at NUL into account, password and e-mail, each cut to what
// the window reads. Properties: the
// body holds only unreserved bytes, "%XX", "&" and "="; a standard form decoder gives back
// each value's UTF-8 exactly; UTF-8 back to UTF-16 returns the value, with each lone
// surrogate as U+FFFD; and arbitrary bytes decode to well-formed UTF-16.
#include "base/hex_digit.h"
#include "base/utf.h"
#include "register/registration_form.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace {

void Require(bool condition) {
    if (!condition) {
        abort();
    }
}

// application/x-www-form-urlencoded parsing as browsers and servers do it: "&"-separated
// pairs, the first "=" splits name and value, "+" is a space, "%XX" is a byte.
std::string FormDecode(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
                   HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::vector<std::pair<std::string, std::string>> ParseForm(const std::string& body) {
    std::vector<std::pair<std::string, std::string>> pairs;
    size_t start = 0;
    while (start <= body.size()) {
        size_t end = body.find('&', start);
        if (end == std::string::npos) {
            end = body.size();
        }
        const std::string pair = body.substr(start, end - start);
        const size_t eq = pair.find('=');
        if (eq == std::string::npos) {
            pairs.emplace_back(FormDecode(pair), "");
        } else {
            pairs.emplace_back(FormDecode(pair.substr(0, eq)), FormDecode(pair.substr(eq + 1)));
        }
        start = end + 1;
    }
    return pairs;
}

bool IsHigh(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLow(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// The value with every lone surrogate replaced by U+FFFD.
std::u16string Repaired(const std::u16string& value) {
    std::u16string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (IsHigh(value[i]) && i + 1 < value.size() && IsLow(value[i + 1])) {
            out += value[i];
            out += value[++i];
        } else if (IsHigh(value[i]) || IsLow(value[i])) {
            out += u'\xFFFD';
        } else {
            out += value[i];
        }
    }
    return out;
}

bool WellFormed(const char16_t* text) {
    for (const char16_t* p = text; *p; ++p) {
        if (IsHigh(*p)) {
            if (!IsLow(p[1])) {
                return false;
            }
            ++p;
        } else if (IsLow(*p)) {
            return false;
        }
    }
    return true;
}

std::string Utf8Of(const std::u16string& value) {
    std::vector<char> out(value.size() * 3 + 1);
    Require(Utf16ToUtf8(value.c_str(), out.data(), out.size()));
    return std::string(out.data());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::u16string fields[3];
    int field = 0;
    for (size_t i = 0; i + 1 < size && field < 3; i += 2) {
        const char16_t unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
        if (unit == 0) {
            ++field;
        } else {
            fields[field] += unit;
        }
    }
    // As read from the window: at most the read capacity less the terminator.
    const RegisterField* rows[3] = {&kRegisterFields[kFieldAccount],
                                    &kRegisterFields[kFieldPassword],
                                    &kRegisterFields[kFieldEmail]};
    for (int i = 0; i < 3; ++i) {
        if (fields[i].size() >= rows[i]->ReadCapacity) {
            fields[i].resize(rows[i]->ReadCapacity - 1);
        }
    }
    RegistrationInput input;
    input.Account = fields[0];
    input.Password = fields[1];
    input.Repeat = fields[1];
    input.Email = fields[2];

    const std::string body = BuildRegistrationBody(input);
    for (size_t i = 0; i < body.size(); ++i) {
        const char c = body[i];
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') || strchr("-._~&=", c) != nullptr;
        Require(plain || (c == '%' && i + 2 < body.size() && HexValue(body[i + 1]) >= 0 &&
                          HexValue(body[i + 2]) >= 0));
    }
    const auto pairs = ParseForm(body);
    Require(pairs.size() == 3);
    const char* names[3] = {"account", "password", "email"};
    for (int i = 0; i < 3; ++i) {
        Require(pairs[static_cast<size_t>(i)].first == names[i]);
        const std::string utf8 = Utf8Of(fields[i]);
        Require(pairs[static_cast<size_t>(i)].second == utf8);
        std::vector<char16_t> back(utf8.size() + 1);
        Require(Utf8ToUtf16(utf8.c_str(), back.data(), back.size()));
        Require(std::u16string(back.data()) == Repaired(fields[i]));
    }

    // Arbitrary bytes: the decoder never reads past the terminator and yields well-formed
    // UTF-16, which survives a round trip unchanged.
    std::string raw(reinterpret_cast<const char*>(data), size);
    std::vector<char16_t> decoded(raw.size() + 1);
    Require(Utf8ToUtf16(raw.c_str(), decoded.data(), decoded.size()));
    Require(WellFormed(decoded.data()));
    const std::u16string once(decoded.data());
    const std::string again = Utf8Of(once);
    std::vector<char16_t> twice(again.size() + 1);
    Require(Utf8ToUtf16(again.c_str(), twice.data(), twice.size()));
    Require(std::u16string(twice.data()) == once);
    return 0;
}
