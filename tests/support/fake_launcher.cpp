// Stand-in for a restarted launcher: records its command line and working directory in
// "<own path>.restarted.txt" and exits.
#include <windows.h>

#include <string>

int main() {
    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
    if (n == 0 || n >= sizeof self) {
        return 2;
    }
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(sizeof cwd, cwd);
    std::string text = std::string(GetCommandLineA()) + "\n" + cwd + "\n";
    std::string path = std::string(self) + ".restarted.txt";
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 3;
    }
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return 0;
}
