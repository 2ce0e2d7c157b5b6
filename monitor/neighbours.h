// SPDX-License-Identifier: GPL-3.0-or-later
// The system's IPv4 neighbour table (the ARP cache): which hardware address
// answered for an address of the machine's own LANs, in what state the entry
// is, and how long ago it was last confirmed. A host that is up answers ARP
// whether or not it answers ping, so the table knows what an echo cannot
// tell. Reading it needs no privilege and sends nothing: quorvel only looks.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The entry's state, in the kernel's words; Windows' own map onto them.
// Under Wine only reachable (any resolved entry, stale ones too), failed (any
// unresolved one) and permanent occur: see neighbours_win32.cpp.
enum class neighbourstate {
    incomplete, // resolution under way, no hardware address yet
    reachable,  // confirmed within the system's reachable time
    stale,      // confirmed once, not lately
    delay,      // stale and just used: a probe follows in a few seconds
    probe,      // being probed again
    failed,     // resolution failed: nobody answered for the address
    permanent,  // set by hand
    other,      // anything else (no ARP on the link, say)
};

struct neighbourentry {
    std::array<std::uint8_t, 4> ip{}; // dotted order, as in the host table
    std::array<std::uint8_t, 6> mac{};
    bool hasmac = false; // a 6-byte hardware address is known (never all zeros)
    neighbourstate state = neighbourstate::other;
    // Seconds since the system last confirmed the entry (an ARP answer or
    // upper-layer traffic); -1 when the system does not say (Windows never
    // does), and for an entry without a resolved hardware address.
    long confirmedago = -1;
};

// One dump of the whole IPv4 table. false, with why in words, when the
// table cannot be read; `entries` then holds nothing.
bool readneighbours(std::vector<neighbourentry>& entries, std::string& why);
