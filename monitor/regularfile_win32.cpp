// SPDX-License-Identifier: GPL-3.0-or-later
// Opened first, then judged on what was opened: a disk file (GetFileType),
// and not a directory. A named pipe or a device in its place is refused
// without a read that could block.
#include "regularfile.h"

#include <windows.h>

#include <algorithm>
#include <system_error>

std::intptr_t regularfileopen(const char* path, std::string& why) {
    // Directories open only with backup semantics, so that they can be told
    // apart rather than fail for an unclear reason.
    const HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        why = std::system_category().message(static_cast<int>(GetLastError()));
        return -1;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file) != FILE_TYPE_DISK || GetFileInformationByHandle(file, &info) == FALSE ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        why = "not a regular file";
        CloseHandle(file);
        return -1;
    }
    return reinterpret_cast<std::intptr_t>(file);
}

long regularfileread(std::intptr_t file, char* into, std::size_t count) {
    DWORD n = 0;
    const auto want = static_cast<DWORD>(std::min<std::size_t>(count, 1U << 30));
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    if (ReadFile(reinterpret_cast<HANDLE>(file), into, want, &n, nullptr) == FALSE) {
        return -1;
    }
    return static_cast<long>(n);
}

void regularfileclose(std::intptr_t file) {
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    CloseHandle(reinterpret_cast<HANDLE>(file));
}
