// SPDX-License-Identifier: GPL-3.0-or-later
// Where a result pipe of a given name is: the one rule both ends use, so that
// they cannot disagree. Linux adds its socket address in pipepath_linux.h.
#pragma once

#include "protocol.h"

#include <array>

// The number of lower-case hexadecimal digits in a Windows pipe's secret.
inline constexpr std::size_t pipesecretlength = 32;

// Windows: the pipe's own name for a pipe name "\\.\pipe\NAME" and the
// secret that the probe's environment holds: "\\.\pipe\quorvel-SECRET-NAME".
// Pipe names are seen by every local user; the secret keeps them from
// creating or opening a monitor's pipe first. False, with `full` all zero,
// when the secret is not pipesecretlength lower-case hexadecimal digits, the
// name does not begin with "\\.\pipe\" or the result does not fit.
bool pipefullname(const char* secret, const char* pipename,
                  std::array<char, protocoltextsize>& full);
