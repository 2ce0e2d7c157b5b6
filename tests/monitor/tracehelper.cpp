// SPDX-License-Identifier: GPL-3.0-or-later
// Writes three trace lines through both print paths, then stays alive until
// its standard input is closed (at most 20 seconds), so that a test can see
// which lines have reached the pipe while the program is still running.
#include "trace.h"

#include <cstdio>
#include <glib.h>
#include <unistd.h>

int main() {
    linebufferedtrace();
    std::printf("one\n");
    g_print("two\n");
    std::printf("three\n");
    alarm(20);
    char c;
    while (read(0, &c, 1) > 0) {
    }
    return 0;
}
