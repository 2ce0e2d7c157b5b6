// SPDX-License-Identifier: GPL-3.0-or-later
// SetDefaultDllDirectories came to Windows 7 with update KB2533623; it is
// looked up rather than imported, so that a Windows 7 without it still starts
// the program, which then at least takes the working directory out of the
// search (SetDllDirectoryA with an empty name). LoadLibrary with a full path
// is not touched by either.
#include "dllsearch.h"

#include <windows.h>

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
