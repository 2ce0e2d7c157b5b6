// SPDX-License-Identifier: GPL-3.0-or-later
#include "trace.h"

#include <cstdio>

// The C library of Windows reads _IOLBF as full buffering, which would hold
// the trace back from a pipe or file until quorvel ends. Unbuffered output is
// the closest it offers: each print reaches the file at once, in order.
void linebufferedtrace() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
}
