// SPDX-License-Identifier: GPL-3.0-or-later
// What passes between quorvel and zendrik, in one place: the probe command
// line, the result pipe's name and the environment variable that says where
// the pipes are, the verdict words, and zendrik's exit codes. Both programs
// and their tests link this library and nothing else of each other's.
//
// Everything here is free of the C++ runtime (no allocation, no exceptions):
// zendrik starts once per host and cycle, and must not pay for loading it.
#pragma once

#include <cstddef>
#include <cstdint>

// One end of a result pipe, as the platform names it: a descriptor on POSIX,
// a HANDLE (or the monitor's record of one) on Windows.
using pipehandle = std::intptr_t;
inline constexpr pipehandle invalidpipehandle = -1;

// Texts of the protocol are formatted into buffers of this size, cut to fit,
// with the last byte always NUL.
inline constexpr std::size_t protocoltextsize = 256;

// The probe program's name as the first word of its command line.
inline constexpr char probeprogramword[] = "zendrik.exe";

// The probe command line for host `index`: "zendrik.exe -i %d -h %s -t %d".
void formatprobecommand(int index, const char* address, int timeout,
                        char (&commandline)[protocoltextsize]);

// The result pipe of host `index`: "\\.\pipe\mypipe%d". On Linux the name is
// a file in the directory that the environment variable below names; on
// Windows the name is made private by a secret that the variable holds
// (pipepath.h).
void formatpipename(int index, char (&pipename)[protocoltextsize]);

// The longest pipe name a monitor creates, for host 31.
inline constexpr std::size_t longestpipename = sizeof("\\\\.\\pipe\\mypipe31") - 1;

// The variable of the probe's environment (never its command line) that
// tells it where its pipe is.
inline constexpr char pipeenvironmentname[] = "QUORVEL_PIPES";

// The verdict words, written without a terminating zero or a line end. Only
// the exact text "alive" counts as alive.
inline constexpr char verdictalive[] = "alive";
inline constexpr char verdictdead[] = "dead";

// zendrik's exit codes. 0 says only that a word was written: the verdict
// travels through the pipe alone. Three different failures share code 1.
namespace probeexit {
inline constexpr int reported = 0;
inline constexpr int badcommandline = 1;
inline constexpr int lookupfailed = 1;
inline constexpr int nopipe = 1;
inline constexpr int socketlibrary = 2;
inline constexpr int nolibrary = 3;
inline constexpr int noentrypoint = 4;
inline constexpr int noechohandle = 5;
} // namespace probeexit
