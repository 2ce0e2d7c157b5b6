// SPDX-License-Identifier: GPL-3.0-or-later
// Who may speak for a host through its result pipe. Kept apart from the
// platform's pipe code so that the rule itself can be tested and fuzzed.
#pragma once

// What the platform tells of the process at the other end of a connection.
// A process that the platform cannot name (a peer outside the monitor's PID
// namespace shows as pid 0) has a pid of 0 or below.
struct pipepeer {
    long pid = 0;
    long uid = -1;
};

// True when a connection from `peer` is the one to take for a host whose
// probe process is `probepid`: it must come from that very process, started
// by this monitor and running as the monitor's own user `monitoruid`. A host
// whose probe has not started (probepid 0 or below) takes nothing, and a
// host whose connection is taken already takes no second one: the first
// word from the probe itself is the verdict, and nothing replaces it.
bool pipeacceptable(const pipepeer& peer, long probepid, long monitoruid, bool taken);
