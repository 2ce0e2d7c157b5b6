// Probe processes on Windows: CreateProcessA does the program search itself
// (the command line's first word, in the loader's order), so no program is
// looked up here. Each probe starts suspended, joins the monitor's job object
// and only then runs: the job ends every probe when the monitor's last handle
// to it closes, which happens when the monitor ends in any way, so a killed
// monitor leaves no probe behind. The process handle is the slot's waitable;
// while the monitor holds it, the probe's id cannot be reused.
#include "process.h"

#include <windows.h>

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

namespace {

// The exit code given to a probe that has to be killed; nobody reads it.
constexpr UINT killedexitcode = 1;

HANDLE processof(const childprocess& slot) {
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    return reinterpret_cast<HANDLE>(slot.waitable());
}

// The job every probe joins, made once and held for the life of the monitor.
HANDLE probejob() {
    static const HANDLE job = [] {
        const HANDLE made = CreateJobObjectA(nullptr, nullptr);
        if (made == nullptr) {
            return made;
        }
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (SetInformationJobObject(made, JobObjectExtendedLimitInformation, &limits,
                                    sizeof limits) == FALSE) {
            CloseHandle(made);
            return static_cast<HANDLE>(nullptr);
        }
        return made;
    }();
    return job;
}

// Environment names are compared without regard to case on Windows.
bool samename(const char* entry, const char* added, std::size_t namelength) {
    for (std::size_t k = 0; k < namelength; ++k) {
        if (std::toupper(static_cast<unsigned char>(entry[k])) !=
            std::toupper(static_cast<unsigned char>(added[k]))) {
            return false;
        }
    }
    return true;
}

// The monitor's environment block with `added` in place of any entry of its
// name: entries each ended by a zero, the block by one more.
std::vector<char> environmentwith(const char* added) {
    std::vector<char> block;
    const char* equals = added != nullptr ? std::strchr(added, '=') : nullptr;
    const std::size_t namelength =
        equals != nullptr ? static_cast<std::size_t>(equals - added) + 1 : 0;
    char* strings = GetEnvironmentStringsA();
    if (strings != nullptr) {
        for (const char* entry = strings; *entry != '\0'; entry += std::strlen(entry) + 1) {
            if (namelength == 0 || !samename(entry, added, namelength)) {
                block.insert(block.end(), entry, entry + std::strlen(entry) + 1);
            }
        }
        FreeEnvironmentStringsA(strings);
    }
    if (namelength != 0) {
        block.insert(block.end(), added, added + std::strlen(added) + 1);
    }
    if (block.empty()) {
        block.push_back('\0');
    }
    block.push_back('\0');
    return block;
}

bool createsuspended(const std::string& commandline, std::vector<char>& environment,
                     STARTUPINFOA& startup, PROCESS_INFORMATION& info) {
    // Wine, when busy, now and then fails a process creation with
    // ERROR_INTERNAL_ERROR and succeeds at the next attempt. One more attempt
    // keeps such a hiccup from showing a host as silent for a whole cycle;
    // every other failure (no such program, above all) is final at once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        // CreateProcessA may write into its command line.
        std::string line = commandline;
        if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE,
                           CREATE_NO_WINDOW | CREATE_SUSPENDED, environment.data(), nullptr,
                           &startup, &info) != FALSE) {
            return true;
        }
        if (GetLastError() != ERROR_INTERNAL_ERROR) {
            break;
        }
    }
    return false;
}

} // namespace

childprocess::~childprocess() {
    processrelease(*this);
}

bool processstart(const char* commandline, childprocess& slot, const char* added) {
    processrelease(slot);
    const HANDLE job = probejob();
    if (job == nullptr) {
        return false;
    }
    std::vector<char> environment = environmentwith(added);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!createsuspended(commandline, environment, startup, info)) {
        return false;
    }
    // A probe outside the job could outlive the monitor: it never runs.
    if (AssignProcessToJobObject(job, info.hProcess) == FALSE ||
        ResumeThread(info.hThread) == static_cast<DWORD>(-1)) {
        TerminateProcess(info.hProcess, killedexitcode);
        WaitForSingleObject(info.hProcess, INFINITE);
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
        return false;
    }
    CloseHandle(info.hThread);
    slot.hold(static_cast<long>(info.dwProcessId), reinterpret_cast<std::intptr_t>(info.hProcess));
    return true;
}

waitoutcome processwait(const childprocess& slot, deadline until) {
    if (slot.empty()) {
        return waitoutcome::failed;
    }
    switch (WaitForSingleObject(processof(slot), static_cast<DWORD>(msecuntil(until)))) {
    case WAIT_OBJECT_0:
        return waitoutcome::ended;
    case WAIT_TIMEOUT:
        return waitoutcome::timedout;
    default:
        return waitoutcome::failed;
    }
}

bool processended(const childprocess& slot) {
    return slot.empty() || WaitForSingleObject(processof(slot), 0) != WAIT_TIMEOUT;
}

bool processexitcode(childprocess& slot, long& exitcode) {
    if (slot.empty()) {
        return false;
    }
    DWORD code = 0;
    const bool read = GetExitCodeProcess(processof(slot), &code) != FALSE && code != STILL_ACTIVE;
    CloseHandle(processof(slot));
    slot.forget();
    if (!read) {
        return false;
    }
    // A crash ends a process with its exception code (0xC0000005 and the
    // like), which shows as a negative number in the trace, as "%ld" of a
    // DWORD always does on Windows.
    exitcode = static_cast<long>(code);
    return true;
}

void processrelease(childprocess& slot) {
    if (slot.empty()) {
        return;
    }
    const HANDLE process = processof(slot);
    if (WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process, killedexitcode);
        WaitForSingleObject(process, INFINITE);
    }
    CloseHandle(process);
    slot.forget();
}

void processsleep(int msec) {
    if (msec > 0) {
        Sleep(static_cast<DWORD>(msec));
    }
}

void processsleepuntil(deadline until) {
    for (int left = msecuntil(until); left > 0; left = msecuntil(until)) {
        Sleep(static_cast<DWORD>(left));
    }
}
