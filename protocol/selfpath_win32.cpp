// SPDX-License-Identifier: GPL-3.0-or-later
// GetModuleFileName of the process's own module: the .exe that was started.
//
// SetDefaultDllDirectories came to Windows 7 with update KB2533623; it is
// looked up rather than imported, so that a Windows 7 without it still starts
// the program, which then at least takes the working directory out of the
// search (SetDllDirectoryA with an empty name). LoadLibrary with a full path
// is not touched by either.
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

void limitdllsearch() {
    using setdefaultdirectories = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    // Through void (*)(): a cast between two unrelated function types would
    // be warned about.
    const auto setdefault =
        kernel != nullptr
            ? reinterpret_cast<setdefaultdirectories>(reinterpret_cast<void (*)()>(
                  GetProcAddress(kernel, "SetDefaultDllDirectories")))
            : nullptr;
    if (setdefault != nullptr &&
        setdefault(LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE) {
        return;
    }
    SetDllDirectoryA("");
}
