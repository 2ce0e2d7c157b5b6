// SPDX-License-Identifier: GPL-3.0-or-later
// Probe processes on Linux: posix_spawn to start them (glibc reports a failed
// exec as posix_spawn's own result, so a start that fails is known for
// certain), a pidfd to sleep on until one ends, waitid(WNOWAIT) to look
// without reaping, and waitpid to reap. Until a child is reaped its pid cannot
// be reused, so pid and pidfd stay valid for the whole life of a slot.
#include "process_posix.h"
#include "programsearch.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// __GLIBC_PREREQ exists only where __GLIBC__ does: a single test that names
// both is a preprocessor error on every other C library.
#if defined(__GLIBC__)
#if __GLIBC_PREREQ(2, 34)
#define QUORVEL_HAVE_ADDCLOSEFROM 1
#endif
#endif

#ifndef QUORVEL_HAVE_ADDCLOSEFROM
#include <cstdlib>
#include <dirent.h>
#endif

extern char** environ;

namespace {

bool forcepolling = false;

// Where there is no pidfd to sleep on, waits look again after at most this long.
constexpr int pollslicemsec = 10;

int openpidfd(pid_t pid) {
#ifdef SYS_pidfd_open
    if (!forcepolling) {
        // A pidfd is close-on-exec from birth, so no later probe inherits it.
        const long fd = syscall(SYS_pidfd_open, pid, 0);
        return fd < 0 ? -1 : static_cast<int>(fd);
    }
#endif
    (void)pid;
    return -1;
}

void killchild(const childprocess& slot) {
#ifdef SYS_pidfd_send_signal
    if (slot.waitable() >= 0 && syscall(SYS_pidfd_send_signal, static_cast<int>(slot.waitable()),
                                        SIGKILL, nullptr, 0) == 0) {
        return;
    }
#endif
    kill(static_cast<pid_t>(slot.id()), SIGKILL);
}

bool reap(pid_t pid, int& status) {
    pid_t rc;
    do {
        rc = waitpid(pid, &status, 0);
    } while (rc < 0 && errno == EINTR);
    return rc == pid;
}

enum class childstate { running, ended, gone };

// Looks at the child without reaping it. "gone" means it is no longer ours to
// wait for (someone else reaped it), so nothing more will come from it.
childstate peek(pid_t pid) {
    siginfo_t info{};
    int rc;
    do {
        rc = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        return childstate::gone;
    }
    return info.si_pid == 0 ? childstate::running : childstate::ended;
}

void closewaitable(childprocess& slot) {
    if (slot.waitable() >= 0) {
        close(static_cast<int>(slot.waitable()));
    }
    slot.forget();
}

#ifndef QUORVEL_HAVE_ADDCLOSEFROM
// Without posix_spawn_file_actions_addclosefrom_np: close each descriptor
// above the standard three that is open now.
bool addcloseabove2(posix_spawn_file_actions_t* actions) {
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) {
        return false;
    }
    const int own = dirfd(dir);
    bool ok = true;
    while (const dirent* entry = readdir(dir)) {
        const int fd = std::atoi(entry->d_name);
        if (fd > 2 && fd != own) {
            ok = ok && posix_spawn_file_actions_addclose(actions, fd) == 0;
        }
    }
    closedir(dir);
    return ok;
}
#endif

// The spawn settings every probe gets: only descriptors 0, 1 and 2, no blocked
// signals and every signal at its default action, whatever the monitor has
// set up for itself. Environment, current directory and niceness are simply
// inherited.
class spawnsetup {
  public:
    spawnsetup() {
        if (posix_spawn_file_actions_init(&actions) != 0) {
            return;
        }
        if (posix_spawnattr_init(&attributes) != 0) {
            posix_spawn_file_actions_destroy(&actions);
            return;
        }
        initialised = true;
        sigset_t none;
        sigset_t all;
        sigemptyset(&none);
        sigfillset(&all);
        sigdelset(&all, SIGKILL);
        sigdelset(&all, SIGSTOP);
        ready = closedescriptors() && posix_spawnattr_setsigmask(&attributes, &none) == 0 &&
                posix_spawnattr_setsigdefault(&attributes, &all) == 0 &&
                posix_spawnattr_setflags(&attributes,
                                         POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF) == 0;
    }
    ~spawnsetup() {
        if (initialised) {
            posix_spawnattr_destroy(&attributes);
            posix_spawn_file_actions_destroy(&actions);
        }
    }
    spawnsetup(const spawnsetup&) = delete;
    spawnsetup& operator=(const spawnsetup&) = delete;

    bool ready = false;
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;

  private:
    bool closedescriptors() {
#ifdef QUORVEL_HAVE_ADDCLOSEFROM
        return posix_spawn_file_actions_addclosefrom_np(&actions, 3) == 0;
#else
        return addcloseabove2(&actions);
#endif
    }
    bool initialised = false;
};

} // namespace

childprocess::~childprocess() {
    processrelease(*this);
}

namespace {

// The monitor's environment with `added` in place of any entry of its name.
std::vector<char*> environmentwith(const char* added) {
    std::vector<char*> entries;
    const char* equals = added != nullptr ? std::strchr(added, '=') : nullptr;
    const std::size_t namelength =
        equals != nullptr ? static_cast<std::size_t>(equals - added) + 1 : 0;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (namelength == 0 || std::strncmp(*entry, added, namelength) != 0) {
            entries.push_back(*entry);
        }
    }
    if (namelength != 0) {
        entries.push_back(const_cast<char*>(added));
    }
    entries.push_back(nullptr);
    return entries;
}

} // namespace

bool processstart(const char* commandline, childprocess& slot, const char* added) {
    processrelease(slot);
    std::vector<std::string> words = splitcommandline(commandline);
    if (words.empty()) {
        return false;
    }
    const std::string program = findprogram(words.front(), programsearchdirs());
    if (program.empty()) {
        return false;
    }
    std::vector<char*> argv;
    argv.reserve(words.size() + 1);
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    std::vector<char*> environment = environmentwith(added);
    spawnsetup setup;
    pid_t pid = 0;
    if (!setup.ready || posix_spawn(&pid, program.c_str(), &setup.actions, &setup.attributes,
                                    argv.data(), environment.data()) != 0) {
        return false;
    }
    slot.hold(pid, openpidfd(pid));
    return true;
}

waitoutcome processwait(const childprocess& slot, deadline until) {
    if (slot.empty()) {
        return waitoutcome::failed;
    }
    const auto pid = static_cast<pid_t>(slot.id());
    for (int slice = 1;; slice = std::min(2 * slice, pollslicemsec)) {
        switch (peek(pid)) {
        case childstate::ended:
            return waitoutcome::ended;
        case childstate::gone:
            return waitoutcome::failed;
        case childstate::running:
            break;
        }
        const int left = msecuntil(until);
        if (left == 0) {
            return waitoutcome::timedout;
        }
        pollfd end{static_cast<int>(slot.waitable()), POLLIN, 0};
        if (end.fd < 0 || poll(&end, 1, left) < 0) {
            processsleep(std::min(left, slice));
        }
    }
}

bool processended(const childprocess& slot) {
    return slot.empty() || peek(static_cast<pid_t>(slot.id())) != childstate::running;
}

bool processexitcode(childprocess& slot, long& exitcode) {
    if (slot.empty()) {
        return false;
    }
    int status = 0;
    const bool reaped = reap(static_cast<pid_t>(slot.id()), status);
    // Reaped or not, the child is no longer ours: the slot must never signal
    // its pid again, which may by now belong to another process.
    closewaitable(slot);
    if (!reaped) {
        return false;
    }
    if (WIFEXITED(status)) {
        exitcode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        exitcode = 128 + WTERMSIG(status);
    } else {
        return false;
    }
    return true;
}

void processrelease(childprocess& slot) {
    if (slot.empty()) {
        return;
    }
    const auto pid = static_cast<pid_t>(slot.id());
    if (peek(pid) != childstate::gone) {
        killchild(slot);
        int status = 0;
        reap(pid, status);
    }
    closewaitable(slot);
}

void processsleep(int msec) {
    if (msec <= 0) {
        return;
    }
    timespec left{msec / 1000, (msec % 1000) * 1000000L};
    while (nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}

void processsleepuntil(deadline until) {
    // steady_clock is CLOCK_MONOTONIC on Linux, so its time points are the
    // absolute times that clock_nanosleep takes; an absolute wait that is
    // interrupted resumes towards the same moment instead of starting over.
    const auto since =
        std::chrono::duration_cast<std::chrono::nanoseconds>(until.time_since_epoch());
    if (since.count() <= 0) {
        return;
    }
    const timespec at{static_cast<time_t>(since.count() / 1000000000),
                      static_cast<long>(since.count() % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
    }
}

void processforcepolling(bool on) {
    forcepolling = on;
}
