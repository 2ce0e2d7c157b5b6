// SPDX-License-Identifier: GPL-3.0-or-later
#include "standinplatform.h"

#include "pipelist.h"

#include <windows.h>

#include <cstdlib>

void standincrash() {
    // Without this, an unhandled exception may open the error reporting
    // dialog (or Wine's debugger) and keep the process alive until someone
    // answers it.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
    // A write through a null pointer, as in a real crash; volatile keeps the
    // compiler from replacing it by a trap of its own.
    volatile int* volatile nowhere = nullptr;
    *nowhere = 1;
    ExitProcess(0xDEAD); // not reached
}

int standindescriptors() {
    DWORD count = 0;
    return GetProcessHandleCount(GetCurrentProcess(), &count) != FALSE ? static_cast<int>(count)
                                                                       : -1;
}

int standinpriority() {
    return static_cast<int>(GetPriorityClass(GetCurrentProcess()));
}

std::string standindirectory() {
    char cwd[MAX_PATH + 1] = {};
    const DWORD n = GetCurrentDirectoryA(sizeof cwd, cwd);
    return n > 0 && n < sizeof cwd ? std::string(cwd, n) : std::string("?");
}

// The test that starts a forger names in QUORVEL_TEST_PIPELIST the file in
// which it hands over what a listing would show, for Wine.
std::vector<std::string> standinforgerplaces() {
    return pipelistsecrets(std::getenv("QUORVEL_TEST_PIPELIST"));
}

void standinuseplace(const std::string& place) {
    _putenv_s("QUORVEL_PIPES", place.c_str());
}
