// SPDX-License-Identifier: GPL-3.0-or-later
// The probe dispatcher: one probe cycle's processes and result pipes.
#pragma once

#include "pipeserver.h"
#include "process.h"

// The most hosts one cycle handles; a larger count is cut to this.
inline constexpr int multiprcmaxhosts = 32;

// Runs one probe cycle: creates one result pipe per host, starts the probe
// of host i with command line i and pauses `pause` milliseconds after each
// start, reads and judges every verdict in host order (results[i] = 1 for
// "alive", else 0) and waits for every probe. The trace goes to standard
// output. Returns 0, or -1 when a result pipe cannot be created; then no
// probe was started, nothing was printed and no result was written.
int multiprcfuncwin(const char (*commandlines)[256], int pause, int count, int* results);

// The probes' echo time-out in milliseconds (default 1000). It sets how long
// a cycle may wait for its probes: count x pause + time-out + 4 s from the
// cycle's start. The monitor sets it before each cycle.
void multiprcsetechotimeout(int msec);

// The exit code the probe of host `index` ended with in the last cycle, or -1
// when none was read (the probe could not be started or had to be killed, the
// cycle ended early, or no such host took part). The trace prints every exit
// code without judging it; the monitor looks here after a cycle when it wants
// to tell the user something about them.
long multiprclastexitcode(int index);

// The four steps of a cycle, each called only by multiprcfuncwin.
int mypipeopen(int number, pipeslot& slot);
// The probe is told where the pipe of its own host is.
int createdochildprc(const char* commandline, childprocess& slot, const pipeslot& pipe);
// The connection of the probe, when taken already while the cycle paused
// after a start, is read from; else the read waits for it first.
int mypipereadclose(pipeslot& slot, pipeconnection& taken, const childprocess& probe,
                    deadline until);
// closechildprc also hands the exit code out through `exitcode` (-1 when none
// was read), for multiprclastexitcode.
int closechildprc(childprocess& slot, deadline until, long& exitcode);
