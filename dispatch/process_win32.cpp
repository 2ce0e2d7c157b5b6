// SPDX-License-Identifier: GPL-3.0-or-later
// Probe processes on Windows. The program is the command line's first word,
// looked for where the Linux build looks (programsearch.h): in the monitor's
// own folder, which holds zendrik.exe, and then in the absolute entries of
// PATH; never in the working directory, which CreateProcessA would search
// second and anyone may have chosen, nor in a relative or empty PATH entry,
// which lies below it. The file found is started by its full name
// (lpApplicationName), with the command line as it is. Each probe starts
// suspended, joins the monitor's job object and only then runs: the job ends
// every probe when the monitor's last handle to it closes, which happens when
// the monitor ends in any way, so a killed monitor leaves no probe behind.
// Where the probe cannot join (Windows 7 nests no jobs, and a monitor that
// runs inside a job there cannot put its probes into one of its own), it
// runs outside the job: it is waited for and killed at the deadline like any
// other, and it ends by itself with its parent (parentwatch.h). The process
// handle is the slot's waitable; while the monitor holds it, the probe's id
// cannot be reused.
#include "process.h"
#include "selfpath.h"

#include <windows.h>

#include <cctype>
#include <cstring>
#include <string>
#include <string_view>
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

bool isblank(char c) {
    return c == ' ' || c == '\t';
}

// The command line's first word as CreateProcessA reads it: up to the
// closing quote when it begins with one, else up to the first blank.
std::string firstword(const char* commandline) {
    const char* at = commandline;
    while (isblank(*at)) {
        ++at;
    }
    if (*at == '"') {
        const char* end = std::strchr(at + 1, '"');
        return end != nullptr ? std::string(at + 1, end) : std::string(at + 1);
    }
    const char* end = at;
    while (*end != '\0' && !isblank(*end)) {
        ++end;
    }
    return {at, end};
}

bool isfile(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool isseparator(char c) {
    return c == '\\' || c == '/';
}

// "C:\..." or a UNC name: a path that means the same from every working
// directory. "\dir", "dir" and "C:dir" do not.
bool isabsolute(std::string_view path) {
    const bool drive = path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) &&
                       path[1] == ':' && isseparator(path[2]);
    const bool unc = path.size() >= 3 && isseparator(path[0]) && isseparator(path[1]);
    return drive || unc;
}

// The absolute entries of PATH, each without the quotes it may be written in.
std::vector<std::string> absolutesearchpath() {
    std::vector<std::string> directories;
    const DWORD size = GetEnvironmentVariableA("PATH", nullptr, 0);
    if (size == 0) {
        return directories;
    }
    std::string path(size, '\0');
    const DWORD n = GetEnvironmentVariableA("PATH", path.data(), size);
    path.resize(n < size ? n : 0);
    std::string entry;
    bool quoted = false;
    for (std::size_t k = 0; k <= path.size(); ++k) {
        const char c = k < path.size() ? path[k] : ';';
        if (c == '"') {
            quoted = !quoted;
        } else if (c == ';' && !quoted) {
            if (isabsolute(entry)) {
                directories.push_back(entry);
            }
            entry.clear();
        } else {
            entry += c;
        }
    }
    return directories;
}

// The file that runs for the program word, or "" when there is none. A word
// without an ending names "<word>.exe", as for CreateProcessA; a word with a
// path is taken as it is.
std::string findprogram(std::string word) {
    if (word.empty()) {
        return {};
    }
    if (word.find_first_of("\\/:") != std::string::npos) {
        return word;
    }
    if (word.find('.') == std::string::npos) {
        word += ".exe";
    }
    std::vector<std::string> directories;
    const auto own = programdirectory();
    if (own[0] != '\0') {
        directories.emplace_back(own.data());
    }
    for (std::string& entry : absolutesearchpath()) {
        directories.push_back(std::move(entry));
    }
    for (std::string& directory : directories) {
        if (!isseparator(directory.back())) {
            directory += '\\';
        }
        if (std::string file = directory + word; isfile(file)) {
            return file;
        }
    }
    return {};
}

bool createsuspended(const std::string& program, const std::string& commandline,
                     std::vector<char>& environment, STARTUPINFOA& startup,
                     PROCESS_INFORMATION& info) {
    // Wine, when busy, now and then fails a process creation with
    // ERROR_INTERNAL_ERROR and succeeds at the next attempt. One more attempt
    // keeps such a hiccup from showing a host as silent for a whole cycle;
    // every other failure (no such program, above all) is final at once.
    for (int attempt = 0; attempt < 2; ++attempt) {
        // CreateProcessA may write into its command line.
        std::string line = commandline;
        if (CreateProcessA(program.c_str(), line.data(), nullptr, nullptr, FALSE,
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
    const std::string program = findprogram(firstword(commandline));
    if (program.empty()) {
        return false;
    }
    std::vector<char> environment = environmentwith(added);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!createsuspended(program, commandline, environment, startup, info)) {
        return false;
    }
    // A probe that cannot join the job (see above), or finds none, runs all
    // the same: its host's verdict is worth more than the job's guarantee,
    // which the probe's own watch on its parent stands in for.
    if (const HANDLE job = probejob(); job != nullptr) {
        AssignProcessToJobObject(job, info.hProcess);
    }
    if (ResumeThread(info.hThread) == static_cast<DWORD>(-1)) {
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
