// SPDX-License-Identifier: GPL-3.0-or-later
#include "trace.h"

#include <cstdio>

void linebufferedtrace() {
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
}
