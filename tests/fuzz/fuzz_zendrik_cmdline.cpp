// SPDX-License-Identifier: GPL-3.0-or-later
// zendrik's command line: the input's bytes, split at zero bytes, are the
// words after the program name.
#include "commandline.h"
#include "fuzzcheck.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The same number as the C library reads it, kept within 32 bits.
std::int32_t libraryvalue(const char* text) {
    const long long value = std::strtoll(text, nullptr, 10);
    return static_cast<std::int32_t>(std::clamp<long long>(value, INT32_MIN, INT32_MAX));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> words{"zendrik.exe"};
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
    std::vector<const char*> argv;
    for (const std::string& w : words) {
        argv.push_back(w.c_str());
        FUZZCHECK(decimalvalue(w.c_str()) == libraryvalue(w.c_str()));
    }
    argv.push_back(nullptr);
    probesettings settings;
    readcommandline(static_cast<int>(words.size()), argv.data(), settings);
    // Whatever was read, the host text stays a C string of at most 15
    // characters with nothing after its end.
    const auto& host = settings.hosttext;
    const auto end = std::find(host.begin(), host.end(), '\0');
    FUZZCHECK(end != host.end());
    FUZZCHECK(std::all_of(end, host.end(), [](char c) { return c == '\0'; }));
    return 0;
}
