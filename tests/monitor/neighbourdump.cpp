// SPDX-License-Identifier: GPL-3.0-or-later
// Prints the neighbour table as readneighbours sees it, one entry a line:
//
//   10.200.1.2 ee:87:27:e9:84:7d reachable 3
//
// address, hardware address ("-" when none is known), state, and seconds
// since the entry was confirmed ("-" when the system does not say).
// Exit code 0, or 1 with the reason on standard error.
#include "neighbours.h"

#include <cstdio>

namespace {

const char* statename(neighbourstate state) {
    switch (state) {
    case neighbourstate::incomplete:
        return "incomplete";
    case neighbourstate::reachable:
        return "reachable";
    case neighbourstate::stale:
        return "stale";
    case neighbourstate::delay:
        return "delay";
    case neighbourstate::probe:
        return "probe";
    case neighbourstate::failed:
        return "failed";
    case neighbourstate::permanent:
        return "permanent";
    case neighbourstate::other:
        break;
    }
    return "other";
}

} // namespace

int main() {
    std::vector<neighbourentry> entries;
    std::string why;
    if (!readneighbours(entries, why)) {
        std::fprintf(stderr, "neighbourdump: %s\n", why.c_str());
        return 1;
    }
    for (const neighbourentry& entry : entries) {
        char mac[18] = "-";
        if (entry.hasmac) {
            std::snprintf(mac, sizeof mac, "%02x:%02x:%02x:%02x:%02x:%02x", entry.mac[0],
                          entry.mac[1], entry.mac[2], entry.mac[3], entry.mac[4], entry.mac[5]);
        }
        char ago[24] = "-";
        if (entry.confirmedago >= 0) {
            std::snprintf(ago, sizeof ago, "%ld", entry.confirmedago);
        }
        std::printf("%u.%u.%u.%u %s %s %s\n", entry.ip[0], entry.ip[1], entry.ip[2], entry.ip[3],
                    mac, statename(entry.state), ago);
    }
    return 0;
}
