// SPDX-License-Identifier: GPL-3.0-or-later
// /proc/self/exe names the file the kernel ran, whatever path started it.
#include "selfpath.h"

#include <cstring>
#include <unistd.h>

std::array<char, selfpathsize> programdirectory() {
    std::array<char, selfpathsize> directory{};
    const ssize_t n = readlink("/proc/self/exe", directory.data(), directory.size() - 1);
    if (n <= 0) {
        return {};
    }
    directory[static_cast<std::size_t>(n)] = '\0';
    char* slash = std::strrchr(directory.data(), '/');
    if (slash == nullptr) {
        return {};
    }
    slash[1] = '\0';
    return directory;
}

void limitdllsearch() {}
