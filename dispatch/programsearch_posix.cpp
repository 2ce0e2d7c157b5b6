#include "programsearch.h"

#include <climits>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::string_view exeending = ".exe";

bool isspace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool isprogramfile(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           access(path.c_str(), X_OK) == 0;
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

std::string exedirectory() {
    char path[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) {
        return {};
    }
    const std::string_view exe(path, static_cast<std::size_t>(n));
    const auto slash = exe.rfind('/');
    return slash == std::string_view::npos ? std::string() : std::string(exe.substr(0, slash + 1));
}

std::string currentdirectory() {
    char path[PATH_MAX];
    return getcwd(path, sizeof path) != nullptr ? std::string(path) : std::string();
}

std::string defaultsearchpath() {
    const std::size_t n = confstr(_CS_PATH, nullptr, 0);
    std::string path(n, '\0');
    if (n == 0 || confstr(_CS_PATH, path.data(), n) == 0) {
        return "/bin:/usr/bin";
    }
    path.resize(n - 1);
    return path;
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

std::vector<std::string> programsearchdirs(std::string_view exedir, std::string_view cwd,
                                           const char* searchpath) {
    std::vector<std::string> dirs;
    if (!exedir.empty()) {
        dirs.emplace_back(exedir);
    }
    if (!cwd.empty()) {
        dirs.emplace_back(cwd);
    }
    const std::string path = searchpath != nullptr ? searchpath : defaultsearchpath();
    std::string_view rest = path;
    for (;;) {
        const auto colon = rest.find(':');
        const std::string_view entry = rest.substr(0, colon);
        dirs.emplace_back(entry.empty() ? std::string_view(".") : entry);
        if (colon == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(colon + 1);
    }
    return dirs;
}

std::vector<std::string> programsearchdirs() {
    return programsearchdirs(exedirectory(), currentdirectory(), std::getenv("PATH"));
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
