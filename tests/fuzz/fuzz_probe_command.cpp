// SPDX-License-Identifier: GPL-3.0-or-later
// How a probe command line becomes a program to run: the splitting into
// words and the search for the first word's file. The search looks in a
// directory made here, holding a program, its ".exe" twin, a file that may
// not be run and a subdirectory, and in a second one that does not exist.
#include "fuzzcheck.h"
#include "programsearch.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;

class searchtree {
  public:
    searchtree() {
        char pattern[] = "/tmp/quorvel-fuzz-search-XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            std::abort();
        }
        root_ = pattern;
        for (const char* name : {"zendrik", "probe.exe", "plain"}) {
            std::ofstream(root_ + "/" + name) << "#!/bin/sh\n";
        }
        chmod((root_ + "/zendrik").c_str(), 0755);
        chmod((root_ + "/probe.exe").c_str(), 0755);
        chmod((root_ + "/plain").c_str(), 0644);
        fs::create_directory(root_ + "/sub.exe");
    }
    ~searchtree() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    searchtree(const searchtree&) = delete;
    searchtree& operator=(const searchtree&) = delete;
    const std::string& root() const { return root_; }

  private:
    std::string root_;
};

bool runnablefile(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           access(path.c_str(), X_OK) == 0;
}

bool blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const searchtree tree;
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const std::vector<std::string> words = splitcommandline(line);
    std::size_t kept = 0;
    for (const std::string& word : words) {
        FUZZCHECK(word.find('"') == std::string::npos);
        kept += word.size();
    }
    // Every character is kept, dropped as a quote, or dropped as a blank
    // outside quotes: no word grows out of nothing.
    std::size_t quotes = 0;
    std::size_t blanks = 0;
    for (const char c : line) {
        quotes += c == '"';
        blanks += blank(c);
    }
    FUZZCHECK(kept + quotes <= size);
    FUZZCHECK(kept + quotes + blanks >= size);
    if (quotes == 0) {
        FUZZCHECK(kept + blanks == size);
    }

    const std::vector<std::string> dirs = {tree.root(), tree.root() + "/missing"};
    for (const std::string& word : words) {
        const std::string found = findprogram(word, dirs);
        if (found.empty()) {
            continue;
        }
        FUZZCHECK(runnablefile(found));
        if (word.find('/') == std::string::npos) {
            // A bare name is only ever found in one of the directories given.
            FUZZCHECK(found.starts_with(tree.root() + "/"));
            const std::string name = found.substr(tree.root().size() + 1);
            FUZZCHECK(name == word || name + ".exe" == word);
        } else {
            FUZZCHECK(found == word || found + ".exe" == word);
        }
    }
    return 0;
}
