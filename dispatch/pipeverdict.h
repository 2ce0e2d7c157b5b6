// SPDX-License-Identifier: GPL-3.0-or-later
// How the monitor judges the bytes a probe sent through its result pipe.
#pragma once

#include <cstddef>

// The most bytes one read of a result pipe takes.
inline constexpr std::size_t pipereadsize = 256;

// Ends the received text right after its last byte and judges it: 1 exactly
// when the text is "alive" (so "alive" followed by a zero byte counts, and
// "alive" followed by anything else does not), else 0. A count outside 0 to
// pipereadsize is taken as a failed read, 0 bytes.
int pipeverdict(char (&text)[pipereadsize + 1], long received);
