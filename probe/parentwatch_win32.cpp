// SPDX-License-Identifier: GPL-3.0-or-later
// Windows has no request to die with the parent. The monitor puts its probes
// in a job object that ends them when the monitor ends; a probe also watches
// its parent itself, so that it ends with a parent that started it outside
// such a job. An id names the parent only while the parent lives: a process
// created after this one that took the id over is not the parent, and a probe
// whose parent has gone is an orphan.
#include "parentwatch.h"

#include "parentprocess_win32.h"

#include <windows.h>

namespace {

constexpr UINT orphanexitcode = 1;

DWORD WINAPI watchparent(LPVOID parent) {
    WaitForSingleObject(static_cast<HANDLE>(parent), INFINITE);
    // No clean-up: the probe has no one left to report to.
    TerminateProcess(GetCurrentProcess(), orphanexitcode);
    return 0;
}

ULONGLONG creationtime(HANDLE process) {
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    if (GetProcessTimes(process, &created, &exited, &kernel, &user) == FALSE) {
        return ~0ULL;
    }
    return (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

} // namespace

bool endwithparent() {
    const DWORD id = parentprocessid();
    // Started by no Windows process at all (from a Unix shell under Wine):
    // there is no parent to end with, and no pipe will trust a server.
    if (id == 0) {
        return true;
    }
    const HANDLE parent = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    if (parent == nullptr) {
        return false;
    }
    if (WaitForSingleObject(parent, 0) != WAIT_TIMEOUT ||
        creationtime(parent) > creationtime(GetCurrentProcess())) {
        CloseHandle(parent);
        return false;
    }
    // The thread owns the handle for the rest of the process's life.
    const HANDLE watcher = CreateThread(nullptr, 0, watchparent, parent, 0, nullptr);
    if (watcher == nullptr) {
        CloseHandle(parent);
        return false;
    }
    CloseHandle(watcher);
    return true;
}
