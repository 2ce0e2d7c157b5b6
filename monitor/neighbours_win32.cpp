// SPDX-License-Identifier: GPL-3.0-or-later
// The neighbour table through the IP Helper API: GetIpNetTable2 lists the
// IPv4 neighbours of every interface, and any user may call it.
#include "neighbours.h"

// The socket headers first: the IP Helper headers declare the table's
// functions only when they have seen them.
#include <winsock2.h>
#include <ws2ipdef.h>

#include <iphlpapi.h>
#include <netioapi.h>

#include <memory>

namespace {

struct tablefree {
    void operator()(MIB_IPNET_TABLE2* table) const { FreeMibTable(table); }
};

neighbourstate statefrom(NL_NEIGHBOR_STATE state) {
    switch (state) {
    case NlnsIncomplete:
        return neighbourstate::incomplete;
    case NlnsReachable:
        return neighbourstate::reachable;
    case NlnsStale:
        return neighbourstate::stale;
    case NlnsDelay:
        return neighbourstate::delay;
    case NlnsProbe:
        return neighbourstate::probe;
    case NlnsUnreachable: // resolution failed: the kernel's FAILED
        return neighbourstate::failed;
    case NlnsPermanent:
        return neighbourstate::permanent;
    default:
        return neighbourstate::other;
    }
}

} // namespace

bool readneighbours(std::vector<neighbourentry>& entries, std::string& why) {
    entries.clear();
    why.clear();
    MIB_IPNET_TABLE2* raw = nullptr;
    const DWORD status = GetIpNetTable2(AF_INET, &raw);
    const std::unique_ptr<MIB_IPNET_TABLE2, tablefree> table(raw);
    if (status != NO_ERROR || table == nullptr) {
        why = "neighbour table: GetIpNetTable2 failed with error " + std::to_string(status);
        return false;
    }
    for (ULONG k = 0; k < table->NumEntries; ++k) {
        const MIB_IPNET_ROW2& row = table->Table[k];
        if (row.Address.si_family != AF_INET) {
            continue;
        }
        neighbourentry entry;
        const auto* address = reinterpret_cast<const unsigned char*>(&row.Address.Ipv4.sin_addr);
        for (std::size_t octet = 0; octet < entry.ip.size(); ++octet) {
            entry.ip[octet] = address[octet]; // network order = dotted order
        }
        // An entry that is not resolved (yet) carries six zeros, which are no
        // card's address; links of other kinds have other lengths.
        if (row.PhysicalAddressLength == entry.mac.size()) {
            for (std::size_t octet = 0; octet < entry.mac.size(); ++octet) {
                entry.mac[octet] = row.PhysicalAddress[octet];
            }
            entry.hasmac = entry.mac != decltype(entry.mac){};
        }
        // Wine builds the table from /proc/net/arp, which has no states:
        // every resolved entry is NlnsReachable there, and an unresolved one
        // (incomplete or failed) NlnsStale, but marked unreachable.
        entry.state = row.IsUnreachable ? neighbourstate::failed : statefrom(row.State);
        // No confirmation time: ReachabilityTime.LastReachable is, in
        // Microsoft's words, how long a neighbour is taken as reachable
        // after a confirmation, not how long ago one came; Wine leaves it 0.
        entries.push_back(entry);
    }
    return true;
}
