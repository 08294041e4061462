// The shared table of name cases (name_rules.txt beside this file), read by the tests of
// the publisher's rules and of the publisher itself.
#pragma once

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#ifndef QELT_NAME_RULES
#error "QELT_NAME_RULES must name name_rules.txt"
#endif

struct NameCase {
    std::string Kind;                // refused, accepted, collide or apart
    std::vector<std::string> Fields; // names (bytes), then the word of a refusal
};

inline std::string DecodeEscapes(const std::string& text) {
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text.compare(i, 2, "\\x") == 0 && i + 3 < text.size()) {
            bytes.push_back(static_cast<char>(strtol(text.substr(i + 2, 2).c_str(), nullptr, 16)));
            i += 3;
        } else {
            bytes.push_back(text[i]);
        }
    }
    return bytes;
}

inline std::vector<NameCase> NameCases() {
    std::vector<NameCase> cases;
    std::ifstream in(QELT_NAME_RULES);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        NameCase entry;
        size_t start = 0;
        for (size_t tab = line.find('\t');; tab = line.find('\t', start)) {
            const std::string field = line.substr(start, tab - start);
            if (entry.Kind.empty()) {
                entry.Kind = field;
            } else {
                entry.Fields.push_back(DecodeEscapes(field));
            }
            if (tab == std::string::npos) {
                break;
            }
            start = tab + 1;
        }
        cases.push_back(entry);
    }
    return cases;
}
