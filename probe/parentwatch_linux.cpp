// SPDX-License-Identifier: GPL-3.0-or-later
// PR_SET_PDEATHSIG: a monitor that is killed in the middle of a cycle takes
// its probes with it, so none is left to report to whoever owns the pipe's
// name later. The parent may die before the request is made; the parent
// read before it and the one after it then differ.
#include "parentwatch.h"

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

bool endwithparent() {
    const pid_t parent = getppid();
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) {
        return false;
    }
    return getppid() == parent;
}
