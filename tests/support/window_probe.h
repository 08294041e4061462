// Looks at and drives the launcher's windows from another process, as a person would:
// reads the caption, client size, status line, progress bar and buttons by control id,
// presses buttons, types, clicks, reads message boxes, and captures a client area.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

// What a person sees of the main window.
struct WindowState {
    std::string Caption;
    int ClientWidth = 0;
    int ClientHeight = 0;
    std::string Status; // control 1002
    int Progress = -1;  // control 1003 (PBM_GETPOS); -1 when it did not answer
    bool ConnectEnabled = false;
    bool RegisterEnabled = false;
    bool CloseEnabled = false;
};

// Pixels as 0xRRGGBB, rows top to bottom.
struct ProbeImage {
    int Width = 0;
    int Height = 0;
    std::vector<uint32_t> Pixels;

    uint32_t At(int x, int y) const { return Pixels[static_cast<size_t>(y) * Width + x]; }
};

// The first top-level window of class className owned by process pid (any process when
// pid is 0), or null.
HWND FindProcessWindow(DWORD pid, const char* className);

// Waits up to timeoutMs for a visible top-level window of class className of process pid
// (0: any), or returns null.
HWND WaitForProcessWindow(DWORD pid, const char* className, DWORD timeoutMs);

// Waits up to timeoutMs for a visible "QeltLauncher" window of process pid (0: any).
HWND WaitForLauncherWindow(DWORD pid, DWORD timeoutMs);

// The window with the keyboard focus in the thread that owns window, or null.
HWND FocusedWindowOf(HWND window);

// Types text into a control, one WM_CHAR per UTF-16 unit, as the keyboard would after
// translation. Sent, so every character has been handled when this returns.
void TypeText(HWND control, const wchar_t* text);

// A key press (WM_KEYDOWN, WM_KEYUP) posted to control: it goes through the owner's message
// loop, dialog keyboard handling included, like a real key. Does not wait.
bool PostKey(HWND control, UINT virtualKey);

// A left click at a client point of window, posted. Does not wait.
bool PostClick(HWND window, int x, int y);

// Text of a window or control (WM_GETTEXT) as UTF-16.
std::wstring WindowTextW(HWND window);

// Caption and message text of a message box (a "#32770" window).
struct MessageBoxContent {
    std::string Caption;
    std::string Text;
};
bool ReadMessageBox(HWND box, MessageBoxContent* content);

bool ReadWindowState(HWND window, WindowState* state);

// One line of JSON with every field of the state.
std::string WindowStateJson(const WindowState& state);

// Clicks the button with control id, as the mouse would: refused (false) when the button
// or the window is disabled or hidden, since a click would do nothing then. Does not wait
// for the command to be carried out.
bool PressButton(HWND window, int id);

// Copies the client area as it is on screen.
bool CaptureClient(HWND window, ProbeImage* image);

// Captures until two captures 150 ms apart agree (painting has finished), or until
// timeoutMs; false when no capture was possible.
bool CaptureSettledClient(HWND window, ProbeImage* image, DWORD timeoutMs = 5000);

// Reads the window until its status line shows text, or until timeoutMs; returns the
// last state read.
WindowState WaitForStatus(HWND window, const std::string& text, DWORD timeoutMs = 20000);

// Saves the settled client area as <dir>/<name>.png for people to look at.
bool SaveScreenshot(HWND window, const std::string& dir, const std::string& name);

// Saves as a 24-bit BMP, or as PNG when the path ends in ".png".
bool SaveImage(const ProbeImage& image, const std::string& path);

// Colour channels of 0xRRGGBB.
inline int RedOf(uint32_t rgb) {
    return static_cast<int>((rgb >> 16) & 0xFF);
}
inline int GreenOf(uint32_t rgb) {
    return static_cast<int>((rgb >> 8) & 0xFF);
}
inline int BlueOf(uint32_t rgb) {
    return static_cast<int>(rgb & 0xFF);
}

// True when every channel of a and b differs by at most tolerance.
bool ColourNear(uint32_t a, uint32_t b, int tolerance);

// Bounding box of the pixels of area whose channels are all below threshold ("ink");
// false when there are none.
bool InkBounds(const ProbeImage& image, const RECT& area, int threshold, RECT* box);
