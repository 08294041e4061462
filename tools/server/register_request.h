// The server's half of account registration: the form body a launcher posts, and the
// launcher's own rules plus the checks only a server can trust.
#pragma once

#include <string>

// The three values of "account=A&password=P&email=E", percent-decoded (still raw bytes).
// The keys are the form keys of the launcher's own field table (kRegisterFields).
struct RegisterForm {
    std::string Account;
    std::string Password;
    std::string Email;
};

// Decodes an application/x-www-form-urlencoded body. False unless it holds exactly the keys
// account, password and email, each once, with well-formed escapes.
bool ParseRegisterForm(const std::string& body, RegisterForm* form);

// Applies the checks in order: valid UTF-8 without control characters, the launcher's
// account, password and e-mail rules, then an e-mail of at most 60 characters. Empty when
// the account may be created, else the refusal for the player (UTF-8).
std::string CheckRegisterForm(const RegisterForm& form);
