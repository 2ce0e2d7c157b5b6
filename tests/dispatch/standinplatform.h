// SPDX-License-Identifier: GPL-3.0-or-later
// What the dispatcher's stand-in probe does in the platform's own way.
#pragma once

#include <string>
#include <vector>

// Ends the process as a crash does: by a signal on Linux, by an unhandled
// exception on Windows, so that the monitor sees the platform's own exit code
// for it. Leaves no core file and starts no debugger.
[[noreturn]] void standincrash();

// The number of descriptors (handles on Windows) this process holds, or -1.
int standindescriptors();

// The scheduling priority this process runs at: the niceness on Linux, the
// priority class on Windows.
int standinpriority();

// The current directory, "?" when it cannot be read.
std::string standindirectory();

// Where a forger (the behaviour "forge") may find its pipe now, each as a
// value of QUORVEL_PIPES: on Linux the one it was started with; on Windows
// the secret of every quorvel pipe it can see, as every local user can
// (tests/windows/pipelist.h).
std::vector<std::string> standinforgerplaces();

// Makes `place` what the pipe client takes from QUORVEL_PIPES.
void standinuseplace(const std::string& place);
