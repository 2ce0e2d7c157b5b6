// SPDX-License-Identifier: GPL-3.0-or-later
// The directory of the running program. quorvel starts the zendrik that
// lies beside it, and zendrik loads the echo library that lies beside it:
// the program's own folder, not the working directory, which anyone may have
// chosen.
#pragma once

#include <array>
#include <cstddef>

inline constexpr std::size_t selfpathsize = 4096;

// Limits the search for a library named without a path to the program's
// own folder and the system's: never the working directory or PATH, where
// another user may have left a file of that name. Each program calls it first
// thing in main, before anything loads a library: what GTK, the echo library
// or the system load by name later is then found there or not at all. A
// no-op where the system searches no such place of its own accord (Linux:
// the dynamic linker searches the working directory only where the one who
// started the program asked for it, through LD_LIBRARY_PATH, which a program
// with raised privileges ignores).
void limitdllsearch();

// The running program's directory with its trailing separator ('/' or '\'),
// or an empty text when the system cannot name it. It names the program even
// when it was started through a relative path or a symbolic link.
std::array<char, selfpathsize> programdirectory();
