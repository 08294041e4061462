// Registration submission: rules first, then one form POST; the server words the result.
#include "register/submit_registration.h"

#include <cstdio>

#include "app/launcher_state.h"
#include "net/http_request.h"
#include "register/register_status.h"
#include "register/register_texts.h"
#include "register/registration_form.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 texts are shared with the platform");

namespace {

const wchar_t* Wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}

std::u16string ReadField(HWND window, const RegisterField& field) {
    wchar_t buffer[kRegisterReadCapacity];
    GetDlgItemTextW(window, field.ControlId, buffer, static_cast<int>(field.ReadCapacity));
    return std::u16string(reinterpret_cast<const char16_t*>(buffer));
}

} // namespace

void SubmitRegistration(HWND registerWindow) {
    RegistrationInput input;
    input.Account = ReadField(registerWindow, kRegisterFields[kFieldAccount]);
    input.Password = ReadField(registerWindow, kRegisterFields[kFieldPassword]);
    input.Repeat = ReadField(registerWindow, kRegisterFields[kFieldRepeat]);
    input.Email = ReadField(registerWindow, kRegisterFields[kFieldEmail]);

    const char16_t* refusal = CheckRegistration(input, g_Launcher.Config.UpdateUrl[0] == '\0');
    if (refusal != nullptr) {
        ShowRegisterStatus(registerWindow, Wide(refusal), true);
        return;
    }
    ShowRegisterStatus(registerWindow, Wide(kRegisterSending), false);

    const std::string body = BuildRegistrationBody(input);
    char url[512];
    snprintf(url, sizeof url, kRegisterUrlFormat, g_Launcher.Config.UpdateUrl);
    ByteBuffer answer;
    const int status = HttpRequest(url, answer, nullptr, body.c_str());
    if (status == 0) {
        ShowRegisterStatus(registerWindow, Wide(kRegisterNoConnection), true);
        return;
    }
    char16_t text[512];
    const unsigned char nul = 0;
    if (!AppendBytes(answer, &nul, 1) ||
        !Utf8ToUtf16(reinterpret_cast<const char*>(answer.data()), text, 512)) {
        ShowRegisterStatus(registerWindow, Wide(kRegisterBadAnswer), status != 200);
    } else {
        ShowRegisterStatus(registerWindow, Wide(text), status != 200);
    }
    if (status == 200) {
        for (const RegisterField& field : kRegisterFields) {
            SetDlgItemTextW(registerWindow, field.ControlId, L"");
        }
        SetFocus(GetDlgItem(registerWindow, kRegisterFields[kFieldAccount].ControlId));
    }
}
