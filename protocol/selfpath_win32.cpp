// SPDX-License-Identifier: GPL-3.0-or-later
// GetModuleFileName of the process's own module: the .exe that was started.
#include "selfpath.h"

#include <windows.h>

#include <cstring>

std::array<char, selfpathsize> programdirectory() {
    std::array<char, selfpathsize> directory{};
    const DWORD n = GetModuleFileNameA(nullptr, directory.data(),
                                       static_cast<DWORD>(directory.size()));
    // A full buffer means the name was cut: no directory is better than a
    // wrong one.
    if (n == 0 || n >= directory.size()) {
        return {};
    }
    char* separator = std::strrchr(directory.data(), '\\');
    if (separator == nullptr) {
        return {};
    }
    separator[1] = '\0';
    return directory;
}
