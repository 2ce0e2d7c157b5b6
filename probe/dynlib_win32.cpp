// SPDX-License-Identifier: GPL-3.0-or-later
// The probe loads ICMP.DLL from the directory of its own executable when a
// file of that name is there, else from the system directory, and from
// nowhere else: neither the current directory nor the search path, where
// another user's file could be waiting. This is the order the Windows loader
// itself keeps for a name without a path, less its unsafe places, and the
// same order as on Linux; a copy of the program beside a library of the test
// suite's loads that library. Both places are named in full, so nothing
// depends on LoadLibraryEx's search flags, which older systems lack.
#include "dynlib.h"
#include "selfpath.h"

#include <windows.h>

#include <array>
#include <cstdio>
#include <cstring>

namespace {

using pathbuffer = std::array<char, MAX_PATH + 1>;

bool fileexists(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool joined(pathbuffer& path, const char* directory, const char* separator, const char* file) {
    const int n = std::snprintf(path.data(), path.size(), "%s%s%s", directory, separator, file);
    return n > 0 && static_cast<std::size_t>(n) < path.size();
}

} // namespace

dynlibhandle dynlibload(const char* filename) {
    if (std::strpbrk(filename, "\\/:") != nullptr) {
        return nullptr;
    }
    pathbuffer path{};
    const std::array<char, selfpathsize> directory = programdirectory();
    // A library found beside the program is the one to use; when it cannot be
    // loaded, another one from elsewhere is no substitute. Its own imports
    // are looked for beside it first.
    if (directory[0] != '\0' && joined(path, directory.data(), "", filename) &&
        fileexists(path.data())) {
        return LoadLibraryExA(path.data(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    }
    pathbuffer system{};
    const UINT n = GetSystemDirectoryA(system.data(), MAX_PATH);
    if (n == 0 || n >= MAX_PATH || !joined(path, system.data(), "\\", filename)) {
        return nullptr;
    }
    return LoadLibraryA(path.data());
}

void* dynlibsymbol(dynlibhandle library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

bool dynlibfree(dynlibhandle library) {
    return FreeLibrary(static_cast<HMODULE>(library)) != FALSE;
}
