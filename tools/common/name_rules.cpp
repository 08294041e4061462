// The name rules of a client file, without the platform and without a Unicode library.
#include "name_rules.h"

#include <algorithm>
#include <cstddef>
#include <map>
#include <set>

namespace {

constexpr size_t kPathMax = 200; // the launcher's longest manifest path

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsUtf8(const std::string& text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* end = p + text.size();
    while (p < end) {
        const unsigned char c = *p++;
        size_t more = 0;
        unsigned long code = 0;
        unsigned long least = 0;
        if (c < 0x80) {
            continue;
        } else if (c >= 0xC2 && c <= 0xDF) {
            more = 1, code = c & 0x1Fu, least = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            more = 2, code = c & 0x0Fu, least = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            more = 3, code = c & 0x07u, least = 0x10000;
        } else {
            return false;
        }
        if (static_cast<size_t>(end - p) < more) {
            return false;
        }
        for (size_t i = 0; i < more; ++i, ++p) {
            if ((*p & 0xC0u) != 0x80u) {
                return false;
            }
            code = (code << 6) | (*p & 0x3Fu);
        }
        if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
            return false;
        }
    }
    return true;
}

// Windows reads the part before the first dot, trailing spaces dropped, as a device name
// in every folder: CON, PRN, AUX, NUL, CONIN$, CONOUT$, CLOCK$, and COM or LPT followed by
// 1-9 or a superscript 1, 2 or 3.
bool IsDeviceName(const std::string& component) {
    std::string base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ') {
        base.pop_back();
    }
    std::transform(base.begin(), base.end(), base.begin(), LowerAscii);
    for (const char* device : {"con", "prn", "aux", "nul", "conin$", "conout$", "clock$"}) {
        if (base == device) {
            return true;
        }
    }
    if (base.compare(0, 3, "com") != 0 && base.compare(0, 3, "lpt") != 0) {
        return false;
    }
    const std::string digit = base.substr(3);
    return (digit.size() == 1 && digit[0] >= '1' && digit[0] <= '9') || digit == "\xC2\xB9" ||
           digit == "\xC2\xB2" || digit == "\xC2\xB3";
}

std::string ComponentProblem(const std::string& component) {
    if (component.empty()) {
        return "has an empty folder name";
    }
    if (component.back() == ' ' || component.back() == '.') {
        return "has a name ending in a space or a dot, which Windows drops";
    }
    if (IsDeviceName(component)) {
        return "has a Windows device name (" + component + ")";
    }
    return "";
}

} // namespace

std::string NameProblem(const std::string& path) {
    if (path.size() > kPathMax) {
        return "is longer than 200 bytes";
    }
    for (unsigned char c : path) {
        if (c == '\t' || c == '\r' || c == '\n') {
            return "holds a TAB or a line break, which end a manifest line";
        }
        if (c < 0x20 || c == 0x7F) {
            return "holds a control character";
        }
        if (c == ':') {
            return "holds ':'";
        }
        if (c == '\\' || c == '%' || c == '#' || c == '?') {
            return std::string("holds '") + static_cast<char>(c) +
                   "', which the launcher puts into the URL unescaped";
        }
        if (c == '<' || c == '>' || c == '"' || c == '|' || c == '*') {
            return std::string("holds '") + static_cast<char>(c) +
                   "', which Windows refuses in names";
        }
    }
    if (!IsUtf8(path)) {
        return "is not valid UTF-8";
    }
    if (path.find("..") != std::string::npos) {
        return "holds '..'";
    }
    size_t start = 0;
    for (;;) {
        const size_t slash = path.find('/', start);
        const std::string problem = ComponentProblem(path.substr(start, slash - start));
        if (!problem.empty() || slash == std::string::npos) {
            return problem;
        }
        start = slash + 1;
    }
}

std::vector<std::pair<std::string, std::string>>
CaseCollisions(const std::vector<std::string>& paths, CaseKeyFunction key) {
    struct Seen {
        std::string Path; // the whole path that brought the name in
        bool IsFile;
    };
    std::map<std::string, Seen> seen;
    std::set<std::pair<std::string, std::string>> pairs;
    auto note = [&](const std::string& name, const std::string& path, bool isFile) {
        const auto inserted = seen.emplace(key(name), Seen{path, isFile});
        const Seen& other = inserted.first->second;
        if (!inserted.second && (other.IsFile || isFile)) {
            pairs.emplace(std::min(other.Path, path), std::max(other.Path, path));
        }
    };
    for (const std::string& path : paths) {
        for (size_t slash = path.find('/'); slash != std::string::npos;
             slash = path.find('/', slash + 1)) {
            note(path.substr(0, slash), path, false);
        }
        note(path, path, true);
    }
    return std::vector<std::pair<std::string, std::string>>(pairs.begin(), pairs.end());
}
