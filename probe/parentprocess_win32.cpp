// SPDX-License-Identifier: GPL-3.0-or-later
// Windows keeps no live link from a process to its parent, only the id that
// the parent had at the start; the tool-help snapshot tells it.
#include "parentprocess_win32.h"

#include <windows.h>

#include <tlhelp32.h>

unsigned long parentprocessid() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return 0;
    }
    const DWORD self = GetCurrentProcessId();
    DWORD parent = 0;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more != FALSE;
         more = Process32Next(snapshot, &entry)) {
        if (entry.th32ProcessID == self) {
            parent = entry.th32ParentProcessID;
            break;
        }
    }
    CloseHandle(snapshot);
    return parent;
}
