// SPDX-License-Identifier: GPL-3.0-or-later
// Windows has no freedesktop notification service, and its own (a tray icon
// with balloons) would need a window of its own that nothing else here uses.
// The option is kept, so that one command line serves both platforms, and
// the user is told once that it has no effect.
#include "notify.h"

#include <cstdio>

void notifydesktop(const char* /*text*/) {
    static bool complained = false;
    if (!complained) {
        complained = true;
        std::fputs("quorvel: no desktop notification service on Windows; changes are not "
                   "announced\n",
                   stderr);
    }
}
