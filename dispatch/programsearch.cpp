// SPDX-License-Identifier: GPL-3.0-or-later
// The rules by which a probe command line becomes a program and its
// arguments: the same on every system that does not do it itself. Only
// whether a file can be run is asked of the platform.
#include "programsearch.h"

#include <string>

namespace {

constexpr std::string_view exeending = ".exe";

bool isspace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The file in one place (a directory, or "" for a path taken as it is) that
// a program word stands for, or "".
std::string findin(std::string_view dir, std::string_view word) {
    std::string full(dir);
    if (!full.empty() && full.back() != '/') {
        full += '/';
    }
    full += word;
    if (isprogramfile(full)) {
        return full;
    }
    if (word.size() > exeending.size() && word.ends_with(exeending)) {
        full.resize(full.size() - exeending.size());
        if (isprogramfile(full)) {
            return full;
        }
    }
    return {};
}

} // namespace

std::vector<std::string> splitcommandline(std::string_view commandline) {
    std::vector<std::string> words;
    std::string word;
    bool inword = false;
    bool quoted = false;
    for (const char c : commandline) {
        if (c == '"') {
            quoted = !quoted;
            inword = true;
        } else if (!quoted && isspace(c)) {
            if (inword) {
                words.push_back(std::move(word));
                word.clear();
                inword = false;
            }
        } else {
            word += c;
            inword = true;
        }
    }
    if (inword) {
        words.push_back(std::move(word));
    }
    return words;
}

std::vector<std::string> programsearchdirs(std::string_view exedir, const char* searchpath) {
    std::vector<std::string> dirs;
    if (!exedir.empty()) {
        dirs.emplace_back(exedir);
    }
    const std::string path = searchpath != nullptr ? searchpath : defaultsearchpath();
    std::string_view rest = path;
    for (;;) {
        const auto colon = rest.find(':');
        const std::string_view entry = rest.substr(0, colon);
        if (entry.starts_with('/')) {
            dirs.emplace_back(entry);
        }
        if (colon == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(colon + 1);
    }
    return dirs;
}

std::string findprogram(std::string_view word, std::span<const std::string> dirs) {
    if (word.empty()) {
        return {};
    }
    if (word.find('/') != std::string_view::npos) {
        return findin("", word);
    }
    for (const std::string& dir : dirs) {
        if (std::string found = findin(dir, word); !found.empty()) {
            return found;
        }
    }
    return {};
}
