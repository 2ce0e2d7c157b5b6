// SPDX-License-Identifier: GPL-3.0-or-later
#include "pipeaccept.h"

bool pipeacceptable(const pipepeer& peer, long probepid, long monitoruid, bool taken) {
    return !taken && probepid > 0 && peer.pid == probepid && peer.uid == monitoruid;
}
