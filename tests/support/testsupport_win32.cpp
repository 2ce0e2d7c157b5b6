// SPDX-License-Identifier: GPL-3.0-or-later
// The dispatcher tests' helpers that look at Windows itself: handles, the
// process list and the secrets that name the pipes.
#include "testsupport.h"

#include "pipeserver_win32.h"
#include "process.h"

#include <windows.h>

#include <tlhelp32.h>

#include <array>
#include <fstream>
#include <map>
#include <string>

namespace {

// The forgers that run, each with its process handle, so that its exit code
// can still be read after it has ended.
std::map<long, HANDLE>& forgers() {
    static std::map<long, HANDLE> running;
    return running;
}

// Where the secrets of this process's pipes are handed to the forgers, as
// the pipe list would show them (Wine lists none); "" while no forger runs.
std::string& handedlist() {
    static std::string path;
    return path;
}

// Draws as the monitor does, and lists each secret for the forgers.
bool drawandhand(std::array<char, pipesecretlength + 1>& secret) {
    if (!pipeserverrandomsecret(secret)) {
        return false;
    }
    std::ofstream(handedlist(), std::ios::app) << secret.data() << "\n";
    return true;
}

} // namespace

int countdescriptors() {
    DWORD count = 0;
    return GetProcessHandleCount(GetCurrentProcess(), &count) != FALSE ? static_cast<int>(count)
                                                                       : -1;
}

int countchildren() {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return -1;
    }
    const DWORD me = GetCurrentProcessId();
    int n = 0;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more != FALSE;
         more = Process32Next(snapshot, &entry)) {
        n += entry.th32ParentProcessID == me && entry.th32ProcessID != me;
    }
    CloseHandle(snapshot);
    return n;
}

bool processexists(long pid) {
    const HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (process == nullptr) {
        return false;
    }
    const bool running = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return running;
}

std::vector<std::string> waitingmodes() {
    return {"handle"};
}

void usewaitingmode(const std::string& /*mode*/) {}

crashoutcome crashedprobe() {
    // STATUS_ACCESS_VIOLATION, as a long: what GetExitCodeProcess hands out
    // for a process that wrote through a null pointer.
    return {static_cast<long>(0xC0000005UL), "exitCode=-1073741819/c0000005\n"};
}

// The stand-in in its "forge" behaviour, started as a child of this process
// outside the dispatcher: it gets past the probe's own check of the pipe's
// server, as any program this user starts from the monitor could, and so
// leaves the refusal to the monitor's check of its client. Each pipe has a
// name of its own, which every local user can list: the forger tries its
// index with every secret it sees, those of the pipes this process makes
// from now on among them (handed to it through a file, for Wine).
long startforger(int index, std::string_view word) {
    if (handedlist().empty()) {
        char directory[MAX_PATH + 1] = {};
        char file[MAX_PATH + 1] = {};
        if (GetTempPathA(sizeof directory, directory) == 0 ||
            GetTempFileNameA(directory, "qvf", 0, file) == 0) {
            return 0;
        }
        handedlist() = file;
        pipeserversetsecretdraw(drawandhand);
    }
    const std::string place = "QUORVEL_TEST_PIPELIST=" + handedlist();
    childprocess forger;
    if (!processstart(standin(index, "forge " + std::string(word)).c_str(), forger,
                      place.c_str())) {
        return 0;
    }
    const long pid = forger.id();
    HANDLE process = nullptr;
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    DuplicateHandle(GetCurrentProcess(), reinterpret_cast<HANDLE>(forger.waitable()),
                    GetCurrentProcess(), &process, 0, FALSE, DUPLICATE_SAME_ACCESS);
    forgers()[pid] = process;
    // The slot must not kill the forger when it goes: only its own handle is
    // given up, the duplicate above waits for the forger's end.
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    CloseHandle(reinterpret_cast<HANDLE>(forger.waitable()));
    forger.forget();
    return pid;
}

int forgerexitcode(long pid) {
    const auto found = forgers().find(pid);
    if (found == forgers().end()) {
        return -1;
    }
    const HANDLE process = found->second;
    forgers().erase(found);
    DWORD code = 0;
    const bool ended = WaitForSingleObject(process, 10000) == WAIT_OBJECT_0 &&
                       GetExitCodeProcess(process, &code) != FALSE;
    CloseHandle(process);
    if (forgers().empty() && !handedlist().empty()) {
        pipeserversetsecretdraw(nullptr);
        DeleteFileA(handedlist().c_str());
        handedlist().clear();
    }
    return ended ? static_cast<int>(code) : -1;
}

// On Windows a held pipe shares nothing with the others: each pipe's name
// holds a secret of its own. It is held all the same, so that the tests that
// use it see the same pipes on both systems.
pinnedpipes::pinnedpipes() : pipe_(pipeservercreate(resultpipename(31).c_str())) {}

pinnedpipes::~pinnedpipes() {
    pipeserverclose(pipe_);
}

std::string pinnedpipes::directory() const {
    const char* secret = pipeserversecret(pipe_);
    return secret != nullptr ? secret : "";
}
