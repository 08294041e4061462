// Window probe: finding, reading, pressing, typing into and capturing the launcher's windows.
#include "window_probe.h"

#include <commctrl.h>

#include <cstdio>
#include <cstring>

#include "png_writer.h"
#include "test_files.h"

namespace {

constexpr int kStatusLineId = 1002;
constexpr int kProgressBarId = 1003;
constexpr int kConnectId = 1001;
constexpr int kRegisterId = 1005;
constexpr int kCloseId = 1004;

struct FindData {
    DWORD pid;
    const char* className;
    HWND found;
};

BOOL CALLBACK FindProc(HWND window, LPARAM param) {
    FindData* data = reinterpret_cast<FindData*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    if ((data->pid == 0 || pid == data->pid) && strcmp(name, data->className) == 0) {
        data->found = window;
        return FALSE;
    }
    return TRUE;
}

bool ChildEnabled(HWND window, int id) {
    HWND child = GetDlgItem(window, id);
    return child != nullptr && IsWindowEnabled(child);
}

// Texts of the launcher are in the system code page; JSON wants UTF-8.
std::string JsonString(const std::string& ansi) {
    std::string out = "\"";
    wchar_t wide[1024] = {};
    int n = MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), static_cast<int>(ansi.size()), wide, 1023);
    char utf8[4096] = {};
    int m = WideCharToMultiByte(CP_UTF8, 0, wide, n, utf8, sizeof utf8 - 1, nullptr, nullptr);
    for (int i = 0; i < m; ++i) {
        const unsigned char c = static_cast<unsigned char>(utf8[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

bool CopyFromDc(HDC source, int x, int y, int width, int height, ProbeImage* image) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (bitmap == nullptr) {
        return false;
    }
    HDC memory = CreateCompatibleDC(source);
    HGDIOBJ kept = SelectObject(memory, bitmap);
    const bool ok = BitBlt(memory, 0, 0, width, height, source, x, y, SRCCOPY) != FALSE;
    GdiFlush();
    if (ok) {
        image->Width = width;
        image->Height = height;
        image->Pixels.assign(static_cast<const uint32_t*>(bits),
                             static_cast<const uint32_t*>(bits) +
                                 static_cast<size_t>(width) * height);
        for (uint32_t& pixel : image->Pixels) {
            pixel &= 0xFFFFFF;
        }
    }
    SelectObject(memory, kept);
    DeleteDC(memory);
    DeleteObject(bitmap);
    return ok;
}

std::string EncodeBmp(const ProbeImage& image) {
    const int rowBytes = (image.Width * 3 + 3) & ~3;
    const uint32_t dataSize = static_cast<uint32_t>(rowBytes) * image.Height;
    BITMAPFILEHEADER file = {};
    BITMAPINFOHEADER header = {};
    file.bfType = 0x4D42; // "BM"
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + dataSize;
    header.biSize = sizeof header;
    header.biWidth = image.Width;
    header.biHeight = image.Height; // bottom-up
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    std::string out(reinterpret_cast<const char*>(&file), sizeof file);
    out.append(reinterpret_cast<const char*>(&header), sizeof header);
    for (int y = image.Height - 1; y >= 0; --y) {
        std::string row(static_cast<size_t>(rowBytes), '\0');
        for (int x = 0; x < image.Width; ++x) {
            const uint32_t pixel = image.At(x, y);
            row[3 * x + 0] = static_cast<char>(BlueOf(pixel));
            row[3 * x + 1] = static_cast<char>(GreenOf(pixel));
            row[3 * x + 2] = static_cast<char>(RedOf(pixel));
        }
        out += row;
    }
    return out;
}

} // namespace

HWND FindProcessWindow(DWORD pid, const char* className) {
    FindData data = {pid, className, nullptr};
    EnumWindows(FindProc, reinterpret_cast<LPARAM>(&data));
    return data.found;
}

HWND WaitForProcessWindow(DWORD pid, const char* className, DWORD timeoutMs) {
    for (DWORD waited = 0;; waited += 50) {
        HWND window = FindProcessWindow(pid, className);
        if (window != nullptr && IsWindowVisible(window)) {
            return window;
        }
        if (waited >= timeoutMs) {
            return nullptr;
        }
        Sleep(50);
    }
}

HWND WaitForLauncherWindow(DWORD pid, DWORD timeoutMs) {
    return WaitForProcessWindow(pid, "QeltLauncher", timeoutMs);
}

HWND FocusedWindowOf(HWND window) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    const DWORD thread = GetWindowThreadProcessId(window, nullptr);
    return thread != 0 && GetGUIThreadInfo(thread, &info) ? info.hwndFocus : nullptr;
}

void TypeText(HWND control, const wchar_t* text) {
    for (const wchar_t* p = text; *p; ++p) {
        DWORD_PTR ignored = 0;
        SendMessageTimeoutW(control, WM_CHAR, static_cast<WPARAM>(*p), 1, SMTO_ABORTIFHUNG, 5000,
                            &ignored);
    }
}

bool PostKey(HWND control, UINT virtualKey) {
    const UINT scan = MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC);
    const LPARAM down = 1 | static_cast<LPARAM>(scan) << 16;
    const LPARAM up = down | static_cast<LPARAM>(0xC0000000u);
    return PostMessageW(control, WM_KEYDOWN, virtualKey, down) &&
           PostMessageW(control, WM_KEYUP, virtualKey, up);
}

bool PostClick(HWND window, int x, int y) {
    const LPARAM point = MAKELPARAM(x, y);
    return PostMessageW(window, WM_LBUTTONDOWN, MK_LBUTTON, point) &&
           PostMessageW(window, WM_LBUTTONUP, 0, point);
}

std::wstring WindowTextW(HWND window) {
    // Sent rather than read from the caption: an edit control keeps its text to itself.
    wchar_t text[1024] = {};
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                        5000, &ignored);
    return text;
}

namespace {

BOOL CALLBACK FindBoxText(HWND child, LPARAM param) {
    char name[32] = {};
    GetClassNameA(child, name, sizeof name);
    char text[1024] = {};
    GetWindowTextA(child, text, sizeof text);
    if (_stricmp(name, "Static") == 0 && text[0] != '\0') {
        *reinterpret_cast<std::string*>(param) = text;
        return FALSE;
    }
    return TRUE;
}

} // namespace

bool ReadMessageBox(HWND box, MessageBoxContent* content) {
    char name[32] = {};
    GetClassNameA(box, name, sizeof name);
    if (strcmp(name, "#32770") != 0) {
        return false;
    }
    char caption[256] = {};
    GetWindowTextA(box, caption, sizeof caption);
    content->Caption = caption;
    content->Text.clear();
    EnumChildWindows(box, FindBoxText, reinterpret_cast<LPARAM>(&content->Text));
    return true;
}

bool ReadWindowState(HWND window, WindowState* state) {
    if (!IsWindow(window)) {
        return false;
    }
    char text[512] = {};
    GetWindowTextA(window, text, sizeof text);
    state->Caption = text;
    RECT client = {};
    GetClientRect(window, &client);
    state->ClientWidth = client.right - client.left;
    state->ClientHeight = client.bottom - client.top;
    text[0] = '\0';
    GetDlgItemTextA(window, kStatusLineId, text, sizeof text);
    state->Status = text;
    DWORD_PTR position = 0;
    HWND bar = GetDlgItem(window, kProgressBarId);
    state->Progress = bar != nullptr && SendMessageTimeoutA(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG,
                                                            5000, &position)
                          ? static_cast<int>(position)
                          : -1;
    state->ConnectEnabled = ChildEnabled(window, kConnectId);
    state->RegisterEnabled = ChildEnabled(window, kRegisterId);
    state->CloseEnabled = ChildEnabled(window, kCloseId);
    return true;
}

std::string WindowStateJson(const WindowState& state) {
    char numbers[160];
    snprintf(numbers, sizeof numbers, "\"clientWidth\":%d,\"clientHeight\":%d,", state.ClientWidth,
             state.ClientHeight);
    char progress[32];
    snprintf(progress, sizeof progress, "\"progress\":%d,", state.Progress);
    auto flag = [](bool value) { return value ? "true" : "false"; };
    return std::string("{\"found\":true,\"caption\":") + JsonString(state.Caption) + "," + numbers +
           "\"status\":" + JsonString(state.Status) + "," + progress +
           "\"connectEnabled\":" + flag(state.ConnectEnabled) +
           ",\"registerEnabled\":" + flag(state.RegisterEnabled) +
           ",\"closeEnabled\":" + flag(state.CloseEnabled) + "}";
}

bool PressButton(HWND window, int id) {
    HWND button = GetDlgItem(window, id);
    if (button == nullptr || !IsWindowVisible(button) || !IsWindowEnabled(button) ||
        !IsWindowEnabled(window)) {
        return false;
    }
    // Posted, not sent: a button may open a modal window and not return for a long time.
    return PostMessageA(button, BM_CLICK, 0, 0) != FALSE;
}

bool CaptureClient(HWND window, ProbeImage* image) {
    RECT client = {};
    if (!GetClientRect(window, &client) || client.right <= 0 || client.bottom <= 0) {
        return false;
    }
    HDC dc = GetDC(window);
    if (dc == nullptr) {
        return false;
    }
    const bool ok = CopyFromDc(dc, 0, 0, client.right, client.bottom, image);
    ReleaseDC(window, dc);
    return ok;
}

bool CaptureSettledClient(HWND window, ProbeImage* image, DWORD timeoutMs) {
    // Let pending messages, painting included, be handled first.
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
    ProbeImage previous;
    bool havePrevious = false;
    for (DWORD waited = 0;; waited += 150) {
        if (!CaptureClient(window, image)) {
            return false;
        }
        if (havePrevious && previous.Width == image->Width && previous.Pixels == image->Pixels) {
            return true;
        }
        if (waited >= timeoutMs) {
            return true;
        }
        previous = *image;
        havePrevious = true;
        Sleep(150);
    }
}

bool SaveImage(const ProbeImage& image, const std::string& path) {
    const bool png = path.size() > 4 && _stricmp(path.c_str() + path.size() - 4, ".png") == 0;
    if (!png) {
        return WriteWholeFile(path, EncodeBmp(image));
    }
    std::vector<uint8_t> samples;
    samples.reserve(image.Pixels.size() * 3);
    for (uint32_t pixel : image.Pixels) {
        samples.push_back(static_cast<uint8_t>(RedOf(pixel)));
        samples.push_back(static_cast<uint8_t>(GreenOf(pixel)));
        samples.push_back(static_cast<uint8_t>(BlueOf(pixel)));
    }
    return WriteWholeFile(path, EncodePng(image.Width, image.Height, kPngRgb, 8, samples));
}

bool ColourNear(uint32_t a, uint32_t b, int tolerance) {
    return abs(RedOf(a) - RedOf(b)) <= tolerance && abs(GreenOf(a) - GreenOf(b)) <= tolerance &&
           abs(BlueOf(a) - BlueOf(b)) <= tolerance;
}

bool InkBounds(const ProbeImage& image, const RECT& area, int threshold, RECT* box) {
    bool found = false;
    *box = RECT{area.right, area.bottom, area.left, area.top};
    for (int y = area.top; y < area.bottom && y < image.Height; ++y) {
        for (int x = area.left; x < area.right && x < image.Width; ++x) {
            const uint32_t p = image.At(x, y);
            if (RedOf(p) < threshold && GreenOf(p) < threshold && BlueOf(p) < threshold) {
                found = true;
                box->left = x < box->left ? x : box->left;
                box->top = y < box->top ? y : box->top;
                box->right = x + 1 > box->right ? x + 1 : box->right;
                box->bottom = y + 1 > box->bottom ? y + 1 : box->bottom;
            }
        }
    }
    return found;
}

WindowState WaitForStatus(HWND window, const std::string& text, DWORD timeoutMs) {
    WindowState state;
    for (DWORD waited = 0; waited < timeoutMs; waited += 50) {
        if (ReadWindowState(window, &state) && state.Status == text) {
            break;
        }
        Sleep(50);
    }
    return state;
}

bool SaveScreenshot(HWND window, const std::string& dir, const std::string& name) {
    ProbeImage image;
    if (!CaptureSettledClient(window, &image)) {
        return false;
    }
    CreateDirectoryA(dir.c_str(), nullptr);
    return SaveImage(image, dir + "/" + name + ".png");
}
