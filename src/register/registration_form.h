// Registration rules and form encoding: the platform-free half of the account
// registration (the Win32 half, reading the window and posting, is registration_form_win).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// One row of the registration form: label, control id, length limit, extra edit style,
// read capacity in UTF-16 units (terminator included) and the form key (null: not sent).
// The launcher builds the form body from these keys and the server reads it by them.
struct RegisterField {
    const char16_t* Label;
    int ControlId;
    int LengthLimit;
    uint32_t ExtraStyle;
    size_t ReadCapacity;
    const char* FormKey;
};

constexpr uint32_t kEditPasswordStyle = 0x0020; // ES_PASSWORD
// The largest ReadCapacity of the table: the size of the buffer a field is read into.
constexpr size_t kRegisterReadCapacity = 128;
constexpr int kRegisterFieldCount = 4;
extern const RegisterField kRegisterFields[kRegisterFieldCount];

enum RegisterFieldIndex { kFieldAccount, kFieldPassword, kFieldRepeat, kFieldEmail };

// The four texts as read from the form.
struct RegistrationInput {
    std::u16string Account;
    std::u16string Password;
    std::u16string Repeat;
    std::u16string Email;
};

// Applies the seven rules in order; returns the message of the first that fails, or null
// when the input may be sent.
const char16_t* CheckRegistration(const RegistrationInput& input, bool updateUrlEmpty);

// Appends "name=value" (with a leading "&" unless body is empty), the value taken as UTF-8
// with every byte outside A-Z a-z 0-9 - . _ ~ written as %XX in upper-case hex.
void AppendFormField(std::string& body, const char* name, const char16_t* value);

// "account=A&password=P&email=E": every row with a form key, in table order; the repeated
// password has none and is never sent.
std::string BuildRegistrationBody(const RegistrationInput& input);
