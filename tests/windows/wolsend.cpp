// SPDX-License-Identifier: GPL-3.0-or-later
// Sends one Wake-on-LAN packet through the monitor's own sender, as a click
// on a host's button does:
//
//   wolsend A.B.C.D HH:HH:HH:HH:HH:HH
//
// The packet goes to A.B.C.255, port 9. Exit code 0 once sent, 2 on a bad
// argument.
#include "udpmagicsend_funcwg.h"

#include <cstdio>

int main(int argc, char** argv) {
    unsigned address[4] = {};
    unsigned hw[6] = {};
    if (argc != 3 ||
        std::sscanf(argv[1], "%u.%u.%u.%u", &address[0], &address[1], &address[2], &address[3]) !=
            4 ||
        std::sscanf(argv[2], "%x:%x:%x:%x:%x:%x", &hw[0], &hw[1], &hw[2], &hw[3], &hw[4], &hw[5]) !=
            6) {
        std::fprintf(stderr, "usage: wolsend A.B.C.D HH:HH:HH:HH:HH:HH\n");
        return 2;
    }
    unsigned char octets[4];
    unsigned char hwaddress[6];
    for (int k = 0; k < 4; ++k) {
        octets[k] = static_cast<unsigned char>(address[k]);
    }
    for (int k = 0; k < 6; ++k) {
        hwaddress[k] = static_cast<unsigned char>(hw[k]);
    }
    return udpmagicsend(octets, hwaddress);
}
