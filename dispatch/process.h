// SPDX-License-Identifier: GPL-3.0-or-later
// Probe processes of one cycle: start, wait with a deadline, exit code, and
// release. The dispatcher sees only this interface; process_posix.cpp fills it
// for Linux, and a Win32 file can fill it with CreateProcessA and friends.
#pragma once

#include <chrono>
#include <climits>
#include <cstdint>

// Every wait of a cycle ends at the latest at the cycle's deadline.
using deadline = std::chrono::steady_clock::time_point;

// Milliseconds left until the deadline, rounded up so that a wait of that
// length never ends just short of it; 0 once it has passed.
inline int msecuntil(deadline until) {
    using namespace std::chrono;
    const auto left = ceil<milliseconds>(until - steady_clock::now()).count();
    return left <= 0 ? 0 : left >= INT_MAX ? INT_MAX : static_cast<int>(left);
}

// The monitor's hold on one probe process, or an empty slot when no process
// was started. A slot that still holds a process when it goes out of scope
// kills and reaps it, so no probe outlives the cycle that started it.
class childprocess {
  public:
    childprocess() = default;
    ~childprocess();
    childprocess(const childprocess&) = delete;
    childprocess& operator=(const childprocess&) = delete;

    bool empty() const { return id_ == 0; }
    long id() const { return id_; }
    // Something to wait on for the process's end: a pidfd on Linux (-1 where
    // the kernel has none), the process handle on Win32.
    std::intptr_t waitable() const { return waitable_; }

    void hold(long id, std::intptr_t waitable) {
        id_ = id;
        waitable_ = waitable;
    }
    void forget() {
        id_ = 0;
        waitable_ = -1;
    }

  private:
    long id_ = 0;
    std::intptr_t waitable_ = -1;
};

// Starts the program named by the command line's first word with the whole
// command line, the monitor's environment, current directory and priority,
// and no descriptors beyond the standard three. `added`, when given, is one
// more environment entry "NAME=value" for the program; it replaces whatever
// the monitor's own environment holds under that name. True when the program
// runs; false, with the slot left empty, when it could not be started.
bool processstart(const char* commandline, childprocess& slot, const char* added = nullptr);

enum class waitoutcome { ended, timedout, failed };

// Waits until the process has ended or the deadline has passed, without
// taking its exit code, so that it stays the monitor's to inspect.
waitoutcome processwait(const childprocess& slot, deadline until);

// True once the process has ended (or can no longer be waited for). Never blocks.
bool processended(const childprocess& slot);

// Takes the exit code of an ended process and releases the slot. A process
// killed by a signal reports 128 + the signal number, the shell's convention,
// so such a code cannot be told from a plain exit with that value but is
// always above 128 and never 0.
bool processexitcode(childprocess& slot, long& exitcode);

// Releases the slot; a process still running is killed and reaped first.
void processrelease(childprocess& slot);

// Pauses the calling thread.
void processsleep(int msec);

// Pauses the calling thread until the given moment; returns at once when it
// has passed.
void processsleepuntil(deadline until);
