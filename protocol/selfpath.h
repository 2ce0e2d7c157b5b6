// SPDX-License-Identifier: GPL-3.0-or-later
// The directory of the running program. quorvel starts the zendrik that
// lies beside it, and zendrik loads the echo library that lies beside it:
// the program's own folder, not the working directory, which anyone may have
// chosen.
#pragma once

#include <array>
#include <cstddef>

inline constexpr std::size_t selfpathsize = 4096;

// The running program's directory with its trailing separator ('/' or '\'),
// or an empty text when the system cannot name it. It names the program even
// when it was started through a relative path or a symbolic link.
std::array<char, selfpathsize> programdirectory();
