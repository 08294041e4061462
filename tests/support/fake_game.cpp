// Stand-in for the game: records "<pid>\n<command line>\n<working directory>\n" in
// "<own path>.run.txt", then runs until "<own path>.quit" appears (or a minute has passed).
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

constexpr DWORD kGiveUpMs = 60000; // never outlive a test run that forgot to stop it
constexpr DWORD kPollMs = 20;

bool WriteText(const std::string& path, const std::string& text) {
    // Written under another name and moved into place, so a reader never sees half of it.
    const std::string part = path + ".part";
    HANDLE file = CreateFileA(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const BOOL ok =
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == text.size() &&
           MoveFileExA(part.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

} // namespace

int main() {
    char self[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, self, sizeof self);
    if (n == 0 || n >= sizeof self) {
        return 2;
    }
    char cwd[MAX_PATH] = {};
    const DWORD cwdLength = GetCurrentDirectoryA(sizeof cwd, cwd);
    if (cwdLength == 0 || cwdLength >= sizeof cwd) {
        return 2;
    }
    char pid[16];
    snprintf(pid, sizeof pid, "%lu", GetCurrentProcessId());
    const std::string record = std::string(pid) + "\n" + GetCommandLineA() + "\n" + cwd + "\n";
    if (!WriteText(std::string(self) + ".run.txt", record)) {
        return 3;
    }
    const std::string quit = std::string(self) + ".quit";
    for (DWORD waited = 0; waited < kGiveUpMs; waited += kPollMs) {
        if (GetFileAttributesA(quit.c_str()) != INVALID_FILE_ATTRIBUTES) {
            return 0;
        }
        Sleep(kPollMs);
    }
    return 1;
}
