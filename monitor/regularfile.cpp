#include "regularfile.h"

#include <algorithm>

bool readregularfile(const char* path, std::size_t most, std::string& content) {
    content.clear();
    const std::intptr_t file = regularfileopen(path);
    if (file == -1) {
        return false;
    }
    // One read takes a whole host list of ordinary size: a file that is
    // being rewritten meanwhile then comes in one piece, from one version, as
    // often as it can. The file may grow or shrink while it is read; reading
    // goes on until its end or the limit, whichever comes first.
    constexpr std::size_t piece = 65536;
    std::size_t filled = 0;
    bool complete = true;
    while (filled < most) {
        content.resize(std::min(most, filled + piece));
        const long n = regularfileread(file, content.data() + filled, content.size() - filled);
        if (n <= 0) {
            complete = n == 0 || filled > 0;
            break;
        }
        filled += static_cast<std::size_t>(n);
    }
    content.resize(filled);
    regularfileclose(file);
    return complete;
}
