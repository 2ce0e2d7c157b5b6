// SPDX-License-Identifier: GPL-3.0-or-later
// quorvel's command line: the input's bytes, split at zero bytes, are the
// words after the program name.
#include "fuzzcheck.h"
#include "settings.h"

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> words{"quorvel"};
    std::string word;
    for (std::size_t k = 0; k < size; ++k) {
        if (data[k] == 0) {
            words.push_back(word);
            word.clear();
        } else {
            word += static_cast<char>(data[k]);
        }
    }
    if (size > 0) {
        words.push_back(word);
    }
    std::vector<char*> args;
    args.reserve(words.size());
    for (std::string& w : words) {
        args.push_back(w.data());
    }
    setdefaults();
    const int result = parsecommandline(std::span<char* const>(args.data(), args.size()));
    FUZZCHECK(result == 0 || result == -1);
    // A first word that is no option word is always refused.
    if (words.size() > 1 && words[1][0] != '-' && words[1][0] != '/') {
        FUZZCHECK(result == -1);
    }
    derivesettings();
    FUZZCHECK(std::strcmp(hostlistfile, "./hostlist") == 0);
    return 0;
}
