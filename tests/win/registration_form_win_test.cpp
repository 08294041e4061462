// Registration submissions from a real registration window in this process against the
// loopback test server: what the server receives, and what the window shows afterwards.
#include "register/registration_form_win.h"

#include <windows.h>
#include <gdiplus.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "app/startup.h"
#include "register/register_status.h"
#include "register/register_texts.h"
#include "register/register_window.h"
#include "system/launcher_state.h"
#include "test_server.h"
#include "ui/register_layout.h"
#include "window_environment.h"

namespace {

constexpr char kRegisterPath[] = "/launcher/register";
constexpr int kAccountId = 1101;
constexpr int kPasswordId = 1102;
constexpr int kRepeatId = 1103;
constexpr int kEmailId = 1104;
constexpr int kFieldIds[] = {kAccountId, kPasswordId, kRepeatId, kEmailId};

std::wstring Wide(const char16_t* text) {
    return reinterpret_cast<const wchar_t*>(text);
}

// Pixels of the window's message line as they are on screen.
bool MessageLineHasColour(HWND window, COLORREF colour) {
    const RECT& line = RegisterStatusRect;
    const int width = line.right - line.left;
    const int height = line.bottom - line.top;
    HDC dc = GetDC(window);
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, width, height);
    HGDIOBJ kept = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, dc, line.left, line.top, SRCCOPY);
    bool found = false;
    for (int y = 0; y < height && !found; ++y) {
        for (int x = 0; x < width && !found; ++x) {
            const COLORREF p = GetPixel(memory, x, y);
            found = abs(GetRValue(p) - GetRValue(colour)) < 40 &&
                    abs(GetGValue(p) - GetGValue(colour)) < 40 &&
                    abs(GetBValue(p) - GetBValue(colour)) < 40;
        }
    }
    SelectObject(memory, kept);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, dc);
    return found;
}

constexpr COLORREF kRed = RGB(0xB2, 0x22, 0x22);
constexpr COLORREF kGreen = RGB(0x18, 0x7A, 0x34);

class SubmitRegistrationTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { PrepareWindowEnvironment(); }

    void SetUp() override {
        ASSERT_TRUE(server_.Start());
        snprintf(g_Launcher.Config.UpdateUrl, sizeof g_Launcher.Config.UpdateUrl, "%s",
                 server_.BaseUrl().c_str());
        RegisterStatusText[0] = L'\0';
        RegisterStatusIsError = false;
        window_ = CreateWindowExW(0, kRegisterWindowClass, L"", WS_POPUP, 60, 60,
                                  kRegisterClientWidth, kRegisterClientHeight, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(window_, nullptr);
        ShowWindow(window_, SW_SHOW);
        UpdateWindow(window_);
    }
    void TearDown() override {
        if (IsWindow(window_)) {
            DestroyWindow(window_);
        }
        server_.Stop();
    }

    void Fill(const wchar_t* account, const wchar_t* password, const wchar_t* repeat,
              const wchar_t* email) {
        SetDlgItemTextW(window_, kAccountId, account);
        SetDlgItemTextW(window_, kPasswordId, password);
        SetDlgItemTextW(window_, kRepeatId, repeat);
        SetDlgItemTextW(window_, kEmailId, email);
    }
    void FillValid() { Fill(L"player7", L"p&ss=1%+", L"p&ss=1%+", L"người@mail.vn"); }
    static constexpr char kValidBody[] =
        "account=player7&password=p%26ss%3D1%25%2B&email=ng%C6%B0%E1%BB%9Di%40mail.vn";

    // What the "Đăng ký" button does.
    void Submit() { SendMessageW(window_, WM_COMMAND, MAKEWPARAM(1, BN_CLICKED), 0); }

    std::wstring Field(int id) const {
        wchar_t text[128] = {};
        GetDlgItemTextW(window_, id, text, 128);
        return text;
    }
    bool FieldsEmpty() const {
        for (int id : kFieldIds) {
            if (!Field(id).empty()) {
                return false;
            }
        }
        return true;
    }
    void Answer(int status, const std::string& body) {
        ScriptedResponse response;
        response.Status = status;
        response.Body = body;
        response.ContentType = "text/plain; charset=utf-8";
        server_.SetResponse(kRegisterPath, response);
    }

    TestServer server_;
    HWND window_ = nullptr;
};

struct SendingWatch {
    TestServer* server;
    HWND window;
    bool greenWhileWaiting;
};

// Waits until the request has reached the server, then looks at the message line.
DWORD WINAPI WatchWhileSending(void* parameter) {
    SendingWatch* watch = static_cast<SendingWatch*>(parameter);
    for (int i = 0; i < 300 && watch->server->Requests().empty(); ++i) {
        Sleep(10);
    }
    watch->greenWhileWaiting =
        !watch->server->Requests().empty() && MessageLineHasColour(watch->window, kGreen);
    return 0;
}

TEST_F(SubmitRegistrationTest, PostsTheFormAndShowsTheAcceptanceGreenWithFieldsEmptied) {
    Answer(200, "\xC4\x90\xC4\x83ng k\xC3\xBD th\xC3\xA0nh c\xC3\xB4ng!"); // "Đăng ký thành công!"
    FillValid();
    SetFocus(GetDlgItem(window_, kEmailId));
    Submit();

    const auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Method, "POST");
    EXPECT_EQ(requests[0].Path, kRegisterPath);
    EXPECT_EQ(requests[0].Header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(requests[0].Body, kValidBody);

    EXPECT_EQ(std::wstring(RegisterStatusText), L"Đăng ký thành công!");
    EXPECT_FALSE(RegisterStatusIsError);
    EXPECT_TRUE(FieldsEmpty());
    EXPECT_EQ(GetFocus(), GetDlgItem(window_, kAccountId));
    EXPECT_TRUE(MessageLineHasColour(window_, kGreen));
}

TEST_F(SubmitRegistrationTest, EmptyAcceptanceEmptiesFieldsAndShowsNoMessage) {
    Answer(200, "");
    FillValid();
    SetFocus(GetDlgItem(window_, kRepeatId));
    Submit();
    ASSERT_EQ(server_.Requests().size(), 1u);
    EXPECT_EQ(std::wstring(RegisterStatusText), L"");
    EXPECT_TRUE(FieldsEmpty());
    EXPECT_EQ(GetFocus(), GetDlgItem(window_, kAccountId));
    EXPECT_FALSE(MessageLineHasColour(window_, kGreen)); // the sending message is gone too
}

TEST_F(SubmitRegistrationTest, RefusalShowsTheServersTextRedAndKeepsTheFields) {
    // "Tài khoản đã tồn tại" followed by a stray byte, which becomes U+FFFD.
    Answer(400, "T\xC3\xA0i kho\xE1\xBA\xA3n \xC4\x91\xC3\xA3 t\xE1\xBB\x93n t\xE1\xBA\xA1i\xFF");
    FillValid();
    SetFocus(GetDlgItem(window_, kEmailId));
    Submit();
    ASSERT_EQ(server_.Requests().size(), 1u);
    EXPECT_EQ(std::wstring(RegisterStatusText), L"Tài khoản đã tồn tại\uFFFD");
    EXPECT_TRUE(RegisterStatusIsError);
    EXPECT_EQ(Field(kAccountId), L"player7");
    EXPECT_EQ(Field(kPasswordId), L"p&ss=1%+");
    EXPECT_EQ(Field(kRepeatId), L"p&ss=1%+");
    EXPECT_EQ(Field(kEmailId), L"người@mail.vn");
    EXPECT_EQ(GetFocus(), GetDlgItem(window_, kEmailId));
    EXPECT_TRUE(MessageLineHasColour(window_, kRed));
}

TEST_F(SubmitRegistrationTest, OnlyExactly200CountsAsAcceptance) {
    for (int status : {201, 403, 500, 503}) {
        SCOPED_TRACE(status);
        Answer(status, "try later");
        FillValid();
        Submit();
        EXPECT_EQ(std::wstring(RegisterStatusText), L"try later");
        EXPECT_TRUE(RegisterStatusIsError);
        EXPECT_EQ(Field(kAccountId), L"player7");
    }
}

TEST_F(SubmitRegistrationTest, AnswerIsShownUpToItsFirstNulByte) {
    Answer(409, std::string("Tr\xC3\xB9ng t\xC3\xAAn") + '\0' + "hidden part");
    FillValid();
    Submit();
    EXPECT_EQ(std::wstring(RegisterStatusText), L"Trùng tên");
    EXPECT_TRUE(RegisterStatusIsError);
}

TEST_F(SubmitRegistrationTest, AnswerOf511UnitsIsShownAnd512IsInvalidColouredByStatus) {
    // 255 two-unit characters and one more unit make 511 units; one unit more does not fit.
    std::string fits;
    for (int i = 0; i < 255; ++i) {
        fits += "\xF0\x9F\x98\x80"; // U+1F600, a surrogate pair
    }
    fits += "x";
    Answer(400, fits);
    FillValid();
    Submit();
    EXPECT_EQ(lstrlenW(RegisterStatusText), 511);
    EXPECT_EQ(RegisterStatusText[510], L'x');

    Answer(400, fits + "y");
    Submit();
    EXPECT_EQ(std::wstring(RegisterStatusText), Wide(kRegisterBadAnswer));
    EXPECT_TRUE(RegisterStatusIsError);
    EXPECT_EQ(Field(kAccountId), L"player7");

    Answer(200, std::string(5000, 'a'));
    Submit();
    EXPECT_EQ(std::wstring(RegisterStatusText), Wide(kRegisterBadAnswer));
    EXPECT_FALSE(RegisterStatusIsError); // still an acceptance
    EXPECT_TRUE(FieldsEmpty());
}

TEST_F(SubmitRegistrationTest, UnreachableServerShowsTheConnectionMessageRed) {
    server_.Stop(); // nothing listens on the port any more
    FillValid();
    Submit();
    EXPECT_EQ(std::wstring(RegisterStatusText), Wide(kRegisterNoConnection));
    EXPECT_TRUE(RegisterStatusIsError);
    EXPECT_EQ(Field(kAccountId), L"player7");
    EXPECT_TRUE(MessageLineHasColour(window_, kRed));
}

TEST_F(SubmitRegistrationTest, SendingMessageIsOnScreenWhileTheServerThinks) {
    ScriptedResponse slow;
    slow.DelayMs = 1500;
    server_.SetResponse(kRegisterPath, slow);
    FillValid();
    SendingWatch watch = {&server_, window_, false};
    // This thread is blocked in the request, so another one looks at the screen.
    HANDLE watcher = CreateThread(nullptr, 0, WatchWhileSending, &watch, 0, nullptr);
    ASSERT_NE(watcher, nullptr);
    Submit();
    WaitForSingleObject(watcher, 10000);
    CloseHandle(watcher);
    EXPECT_TRUE(watch.greenWhileWaiting);
}

TEST_F(SubmitRegistrationTest, MissingUpdateUrlIsReportedFirstAndNothingIsSent) {
    g_Launcher.Config.UpdateUrl[0] = '\0';
    Submit(); // every field empty as well
    EXPECT_EQ(std::wstring(RegisterStatusText), Wide(kRegisterNoUpdateUrl));
    EXPECT_TRUE(RegisterStatusIsError);
    FillValid();
    Submit();
    EXPECT_EQ(std::wstring(RegisterStatusText), Wide(kRegisterNoUpdateUrl));
    EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(SubmitRegistrationTest, RulesRefuseBeforeAnythingIsSentAndKeepTheFocus) {
    struct Case {
        const wchar_t* account;
        const wchar_t* password;
        const wchar_t* repeat;
        const wchar_t* email;
        const char16_t* message;
    };
    const Case cases[] = {
        {L"abc", L"secret1", L"secret1", L"a@b", kRegisterBadAccount},
        {L"tuấn99", L"secret1", L"secret1", L"a@b", kRegisterBadAccount},
        {L"player7", L"12345", L"other", L"a@b", kRegisterBadPassword},
        {L"player7", L"mật khẩu", L"mật khẩu", L"a@b", kRegisterBadPassword},
        {L"player7", L"Secret1", L"secret1", L"a@b", kRegisterPasswordMismatch},
        {L"player7", L"secret1", L"secret1", L"", kRegisterNoEmail},
    };
    SetFocus(GetDlgItem(window_, kPasswordId));
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.account)));
        Fill(c.account, c.password, c.repeat, c.email);
        Submit();
        EXPECT_EQ(std::wstring(RegisterStatusText), Wide(c.message));
        EXPECT_TRUE(RegisterStatusIsError);
        EXPECT_EQ(Field(kAccountId), c.account);
        EXPECT_EQ(GetFocus(), GetDlgItem(window_, kPasswordId));
    }
    EXPECT_TRUE(server_.Requests().empty());

    Answer(200, "ok");
    Fill(L"abcd", L"123456", L"123456", L" "); // the shortest input that passes
    Submit();
    ASSERT_EQ(server_.Requests().size(), 1u);
    EXPECT_EQ(server_.Requests()[0].Body, "account=abcd&password=123456&email=%20");
}

} // namespace
