// The registration window of the real Launcher.exe, driven from outside as a player would:
// opening, focus, typing limits, Enter and Escape through the launcher's dialog loop, the
// close glyph, a submission reaching the server, and the game ending meanwhile.
#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "launcher_process.h"
#include "test_files.h"
#include "test_server.h"
#include "window_probe.h"

#ifndef QELT_SCREENSHOT_DIR
#error "QELT_SCREENSHOT_DIR must name the folder for screenshots"
#endif

namespace {

constexpr char kOnlineText[] = "Server dang online - san sang vao game";
constexpr char kRegisterPath[] = "/launcher/register";
constexpr int kConnectId = 1001;
constexpr int kRegisterId = 1005;
constexpr int kFieldIds[] = {1101, 1102, 1103, 1104};
constexpr int kCancelId = 2;
constexpr RECT kMessageLine = {16, 264, 436, 286};
constexpr uint32_t kRed = 0xB22222;
constexpr uint32_t kGreen = 0x187A34;
constexpr uint32_t kFrame = 0x969696;
constexpr char kValidBody[] = "account=player7&password=p%26ss%3D1%25&email=p%40mail.vn";

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs = 10000) {
    for (DWORD waited = 0;; waited += 50) {
        if (condition()) {
            return true;
        }
        if (waited >= timeoutMs) {
            return false;
        }
        Sleep(50);
    }
}

// True when some pixel of the message line is near colour: the text shows in it.
bool MessageLineShows(const ProbeImage& image, uint32_t colour) {
    for (int y = kMessageLine.top; y < kMessageLine.bottom; ++y) {
        for (int x = kMessageLine.left; x < kMessageLine.right; ++x) {
            if (ColourNear(image.At(x, y), colour, 40)) {
                return true;
            }
        }
    }
    return false;
}

class RegisterWindowE2E : public ::testing::Test {
  protected:
    // A launcher whose server is online, with the stand-in game installed.
    void SetUp() override {
        ASSERT_TRUE(server_.Start());
        server_.SetBody("/launcher/manifest.txt", "");
        server_.SetBody("/launcher/status", "online");
        dir_ = MakeClientDir("register",
                             "[Launcher]\r\nUpdateUrl=" + server_.BaseUrl() +
                                 "\r\nGameExecutable=game.exe\r\nTitle=ZORVAND Online\r\n");
        ASSERT_FALSE(dir_.empty());
        gamePath_ = dir_ + "\\game.exe";
        ASSERT_TRUE(InstallFakeGame(gamePath_));
        ASSERT_TRUE(StartLauncher(dir_, "", &launcher_));
        WindowState state;
        ASSERT_TRUE(WaitFor([&] {
            // The text comes first, then the buttons are enabled.
            return ReadWindowState(launcher_.Window, &state) && state.Status == kOnlineText &&
                   state.ConnectEnabled && state.RegisterEnabled;
        }));
    }
    void TearDown() override {
        StopLauncher(&launcher_);
        EndFakeGame(gamePath_);
        server_.Stop();
        Sleep(100); // let a stand-in game notice its quit file before the folder goes
        RemoveTree(dir_);
    }

    HWND Open() {
        if (!PressButton(launcher_.Window, kRegisterId)) {
            return nullptr;
        }
        return WaitForProcessWindow(launcher_.Info.dwProcessId, "QeltRegister", 10000);
    }
    void TypeValidForm(HWND dialog) {
        TypeText(GetDlgItem(dialog, 1101), L"player7");
        TypeText(GetDlgItem(dialog, 1102), L"p&ss=1%");
        TypeText(GetDlgItem(dialog, 1103), L"p&ss=1%");
        TypeText(GetDlgItem(dialog, 1104), L"p@mail.vn");
    }
    void Answer(int status, const std::string& body) {
        ScriptedResponse response;
        response.Status = status;
        response.Body = body;
        server_.SetResponse(kRegisterPath, response);
    }
    bool WaitForRequests(size_t count) {
        return WaitFor([&] { return server_.Requests().size() >= count; });
    }
    // Captures the window once its message line shows colour, and saves it.
    ProbeImage WaitForMessage(HWND dialog, uint32_t colour, const char* name) {
        ProbeImage image;
        WaitFor([&] { return CaptureClient(dialog, &image) && MessageLineShows(image, colour); });
        CaptureSettledClient(dialog, &image);
        CreateDirectoryA(QELT_SCREENSHOT_DIR, nullptr);
        SaveImage(image, std::string(QELT_SCREENSHOT_DIR) + "/" + name + ".png");
        return image;
    }

    TestServer server_;
    LauncherProcess launcher_ = {};
    std::string dir_;
    std::string gamePath_;
};

TEST_F(RegisterWindowE2E, OpensCentredWithTheFocusInTheAccountFieldAndLimitsTyping) {
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    RECT mainRect;
    RECT rect;
    GetWindowRect(launcher_.Window, &mainRect);
    GetWindowRect(dialog, &rect);
    EXPECT_EQ(rect.right - rect.left, 452);
    EXPECT_EQ(rect.bottom - rect.top, 346);
    EXPECT_EQ(rect.left, mainRect.left + ((mainRect.right - mainRect.left) - 452) / 2);
    EXPECT_EQ(rect.top, mainRect.top + ((mainRect.bottom - mainRect.top) - 346) / 2);
    EXPECT_FALSE(IsWindowEnabled(launcher_.Window));
    EXPECT_EQ(FocusedWindowOf(dialog), GetDlgItem(dialog, 1101));

    // The look, in a few pixels: grey one-pixel frame, white title band, the close glyph,
    // the caption, and no message yet.
    ProbeImage image;
    ASSERT_TRUE(CaptureSettledClient(dialog, &image));
    SaveImage(image, std::string(QELT_SCREENSHOT_DIR) + "/register-open.png");
    EXPECT_EQ(image.At(0, 200), kFrame);
    EXPECT_EQ(image.At(451, 200), kFrame);
    EXPECT_EQ(image.At(200, 345), kFrame);
    EXPECT_EQ(image.At(200, 4), 0xFFFFFFu);
    RECT ink;
    EXPECT_TRUE(InkBounds(image, RECT{416, 3, 446, 27}, 160, &ink));
    EXPECT_TRUE(InkBounds(image, RECT{16, 36, 436, 62}, 100, &ink));
    EXPECT_FALSE(MessageLineShows(image, kRed) || MessageLineShows(image, kGreen));

    const std::wstring longText(70, L'x');
    const size_t limits[] = {10, 10, 10, 60};
    for (int i = 0; i < 4; ++i) {
        SCOPED_TRACE(kFieldIds[i]);
        HWND edit = GetDlgItem(dialog, kFieldIds[i]);
        TypeText(edit, longText.c_str());
        EXPECT_EQ(WindowTextW(edit), std::wstring(limits[i], L'x'));
        const bool masked = (GetWindowLongW(edit, GWL_STYLE) & ES_PASSWORD) != 0;
        EXPECT_EQ(masked, i == 1 || i == 2);
    }

    // A click below the title band, away from the controls, does nothing.
    ASSERT_TRUE(PostClick(dialog, 300, 275));
    Sleep(300);
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_FALSE(IsWindowEnabled(launcher_.Window));
}

TEST_F(RegisterWindowE2E, EscapeEnterOnCancelAndTheCloseGlyphCloseTheWindow) {
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(PostKey(GetDlgItem(dialog, 1103), VK_ESCAPE));
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(dialog); }));
    EXPECT_TRUE(WaitFor([&] { return IsWindowEnabled(launcher_.Window) != FALSE; }));

    // A player who fills the form, tabs to "Hủy" and presses Enter cancels: nothing is sent.
    dialog = Open();
    ASSERT_NE(dialog, nullptr);
    TypeValidForm(dialog);
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(PostKey(FocusedWindowOf(dialog), VK_TAB));
        Sleep(100);
    }
    HWND cancel = GetDlgItem(dialog, kCancelId);
    ASSERT_TRUE(WaitFor([&] { return FocusedWindowOf(dialog) == cancel; }));
    ASSERT_TRUE(PostKey(cancel, VK_RETURN));
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(dialog); }));
    EXPECT_TRUE(WaitFor([&] { return IsWindowEnabled(launcher_.Window) != FALSE; }));

    dialog = Open();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(WindowTextW(GetDlgItem(dialog, 1101)), L""); // a new window each time
    ASSERT_TRUE(PostClick(dialog, 430, 15));
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(dialog); }));
    EXPECT_TRUE(WaitFor([&] { return IsWindowEnabled(launcher_.Window) != FALSE; }));
    for (const std::string& path : server_.RequestedPaths()) {
        EXPECT_NE(path, kRegisterPath); // closing sends nothing
    }
}

TEST_F(RegisterWindowE2E, EnterAnywhereSubmitsAndTheAnswerShowsRedOrGreen) {
    Answer(400, "T\xC3\xA0i kho\xE1\xBA\xA3n \xC4\x91\xC3\xA3 t\xE1\xBB\x93n t\xE1\xBA\xA1i.");
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    TypeValidForm(dialog);
    server_.ClearRequests();

    // Enter in each field asks for the default button: "Đăng ký".
    const int targets[] = {1101, 1102, 1103, 1104};
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(targets[i]);
        ASSERT_TRUE(PostKey(GetDlgItem(dialog, targets[i]), VK_RETURN));
        ASSERT_TRUE(WaitForRequests(i + 1));
        const RecordedRequest request = server_.Requests()[i];
        EXPECT_EQ(request.Method, "POST");
        EXPECT_EQ(request.Path, kRegisterPath);
        EXPECT_EQ(request.Header("Content-Type"), "application/x-www-form-urlencoded");
        EXPECT_EQ(request.Body, kValidBody);
    }
    WaitForMessage(dialog, kRed, "register-refusal");
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_EQ(WindowTextW(GetDlgItem(dialog, 1101)), L"player7");
    EXPECT_EQ(WindowTextW(GetDlgItem(dialog, 1104)), L"p@mail.vn");

    // "Đăng ký thành công! Chào mừng đến với ZORVAND."
    Answer(200,
           "\xC4\x90\xC4\x83ng k\xC3\xBD th\xC3\xA0nh c\xC3\xB4ng! Ch\xC3\xA0o m\xE1\xBB\xABng "
           "\xC4\x91\xE1\xBA\xBFn v\xE1\xBB\x9Bi ZORVAND.");
    PostKey(GetDlgItem(dialog, 1103), VK_RETURN);
    ASSERT_TRUE(WaitForRequests(5));
    EXPECT_TRUE(WaitFor([&] {
        for (int id : kFieldIds) {
            if (!WindowTextW(GetDlgItem(dialog, id)).empty()) {
                return false;
            }
        }
        return true;
    }));
    const ProbeImage image = WaitForMessage(dialog, kGreen, "register-success");
    EXPECT_FALSE(MessageLineShows(image, kRed));
    EXPECT_EQ(FocusedWindowOf(dialog), GetDlgItem(dialog, 1101));
    EXPECT_FALSE(IsWindowEnabled(launcher_.Window));
}

TEST_F(RegisterWindowE2E, GameEndingWhileRegisteringClosesBothWindowsWithExitCodeZero) {
    ASSERT_TRUE(PressButton(launcher_.Window, kConnectId));
    GameRun run;
    ASSERT_TRUE(WaitForGameRun(gamePath_, &run, 15000));
    HWND dialog = Open();
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(EndFakeGame(gamePath_));
    EXPECT_EQ(WaitForLauncherExit(&launcher_, 10000), 0u);
    EXPECT_FALSE(IsWindow(dialog));
}

} // namespace
