// SPDX-License-Identifier: GPL-3.0-or-later
#include "regularfile.h"

#include <algorithm>
#include <array>

bool readregularfile(const char* path, std::size_t most, std::string& content) {
    std::string why;
    return readregularfile(path, most, content, why);
}

bool readregularfile(const char* path, std::size_t most, std::string& content, std::string& why) {
    content.clear();
    const std::intptr_t file = regularfileopen(path, why);
    if (file == -1) {
        return false;
    }
    // One read takes a whole host list of ordinary size, and the next read
    // follows at once: a file that is being rewritten meanwhile then comes in
    // one piece, from one version, as often as it can. The file may grow or
    // shrink while it is read; reading goes on until its end or the limit,
    // whichever comes first.
    constexpr std::size_t piece = 65536;
    std::array<char, piece> chunk;
    bool complete = true;
    while (content.size() < most) {
        const long n = regularfileread(file, chunk.data(), std::min(piece, most - content.size()));
        if (n <= 0) {
            complete = n == 0 || !content.empty();
            break;
        }
        content.append(chunk.data(), static_cast<std::size_t>(n));
    }
    regularfileclose(file);
    if (!complete) {
        why = "read failed";
    }
    return complete;
}
