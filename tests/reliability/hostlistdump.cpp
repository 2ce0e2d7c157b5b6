// SPDX-License-Identifier: GPL-3.0-or-later
// Prints the host table that the monitor's reader makes of ./hostlist, one
// row a line: label, address and hardware address as the window's tooltip
// shows them, separated by tabs. The bad-input test takes from it what the
// window should show for files whose rows are not known beforehand.
#include "hostlist.h"
#include "settings.h"

#include <cstdio>

int main() {
    setdefaults();
    const int result = readlist();
    for (int i = 0; i < hostnum; ++i) {
        const HostEntry& row = dolist[i];
        std::printf("%s\t%d.%d.%d.%d  %02x:%02x:%02x:%02x:%02x:%02x\n", row.hostname, row.ip[0],
                    row.ip[1], row.ip[2], row.ip[3], row.mac[0], row.mac[1], row.mac[2], row.mac[3],
                    row.mac[4], row.mac[5]);
    }
    return result == 1 ? 0 : 1;
}
