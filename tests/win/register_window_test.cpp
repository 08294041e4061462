// The registration window in this process: its class, and its controls in tab order with
// their styles, places, fonts and limits.
#include "register/register_window.h"

#include <windows.h>
#include <gdiplus.h>

#include <gtest/gtest.h>

#include <string>

#include "app/startup.h"
#include "system/launcher_state.h"
#include "ui/register_layout.h"
#include "window_environment.h"

namespace {

class RegisterWindowTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { PrepareWindowEnvironment(); }

    void SetUp() override {
        window_ = CreateWindowExW(0, kRegisterWindowClass, L"", WS_POPUP, 40, 40,
                                  kRegisterClientWidth, kRegisterClientHeight, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(window_, nullptr);
    }
    void TearDown() override {
        if (IsWindow(window_)) {
            DestroyWindow(window_);
        }
    }

    HWND window_ = nullptr;
};

TEST_F(RegisterWindowTest, ClassIsAWideDropShadowWindowWithArrowAndButtonFace) {
    WNDCLASSW info = {};
    ASSERT_TRUE(GetClassInfoW(GetModuleHandleW(nullptr), kRegisterWindowClass, &info));
    EXPECT_EQ(info.style, static_cast<UINT>(CS_DROPSHADOW));
    EXPECT_EQ(info.hCursor, LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW)));
    EXPECT_EQ(info.hbrBackground, GetSysColorBrush(COLOR_BTNFACE));
    EXPECT_EQ(info.hIcon, nullptr);
    EXPECT_TRUE(IsWindowUnicode(window_));
    RECT client;
    GetClientRect(window_, &client);
    EXPECT_EQ(client.right, 452);
    EXPECT_EQ(client.bottom, 346);
}

TEST_F(RegisterWindowTest, ControlsInTabOrderWithTheirStylesPlacesFontsAndLimits) {
    struct Control {
        int id;
        const wchar_t* className;
        const wchar_t* text;
        LONG style;
        RECT rect;
        HFONT font;
        int limit; // edits only
    };
    const LONG edit = WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_AUTOHSCROLL;
    const LONG button = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_OWNERDRAW;
    const Control controls[] = {
        {1101, L"Edit", L"", edit, {135, 105, 421, 123}, g_Launcher.EditFont, 10},
        {1102, L"Edit", L"", edit | ES_PASSWORD, {135, 145, 421, 163}, g_Launcher.EditFont, 10},
        {1103, L"Edit", L"", edit | ES_PASSWORD, {135, 185, 421, 203}, g_Launcher.EditFont, 10},
        {1104, L"Edit", L"", edit, {135, 225, 421, 243}, g_Launcher.EditFont, 60},
        {1, L"Button", L"Đăng ký", button, {18, 301, 218, 329}, g_Launcher.ButtonFont, 0},
        {2, L"Button", L"Hủy", button, {234, 301, 434, 329}, g_Launcher.ButtonFont, 0},
    };
    // Creation order is the order of the child list and so the tab order.
    HWND child = GetWindow(window_, GW_CHILD);
    for (const Control& c : controls) {
        SCOPED_TRACE(c.id);
        ASSERT_NE(child, nullptr);
        EXPECT_EQ(GetDlgCtrlID(child), c.id);
        wchar_t name[32] = {};
        GetClassNameW(child, name, 32);
        EXPECT_EQ(lstrcmpiW(name, c.className), 0);
        wchar_t text[32] = {};
        GetWindowTextW(child, text, 32);
        EXPECT_EQ(std::wstring(text), c.text);
        EXPECT_EQ(GetWindowLongW(child, GWL_STYLE), c.style);
        EXPECT_EQ(GetWindowLongW(child, GWL_EXSTYLE) & ~WS_EX_NOPARENTNOTIFY, 0);
        RECT r;
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, window_, reinterpret_cast<POINT*>(&r), 2);
        EXPECT_TRUE(EqualRect(&r, &c.rect))
            << r.left << "," << r.top << "," << r.right << "," << r.bottom;
        EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0)), c.font);
        if (c.limit != 0) {
            EXPECT_EQ(SendMessageW(child, EM_GETLIMITTEXT, 0, 0), c.limit);
        }
        child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(child, nullptr);
}

} // namespace
