// SPDX-License-Identifier: GPL-3.0-or-later
// What quorvel-scan sends to and what it prints, decided without a network:
// the ranges it nudges on the machine's networks, which neighbour entries
// are hosts that answered, their labels, and the host-list lines, written in
// the grammar quorvel's own reader accepts.
#pragma once

#include "neighbours.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <istream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

using ipv4 = std::array<std::uint8_t, 4>; // dotted order, as in the host table
using hardwareaddress = std::array<std::uint8_t, 6>;

// One IPv4 address of the machine and the prefix length of its network.
struct ownaddress {
    ipv4 ip{};
    int prefix = 0;
};

// A range of addresses to scan: a whole network of /24 or smaller, or the
// /24 around the machine's address in a larger one.
struct scannetwork {
    ipv4 base{};           // the range's first address
    int prefix = 24;       // the range's prefix length
    int ownprefix = 24;    // the network's own prefix length: smaller when clamped
    std::vector<ipv4> own; // the machine's addresses in the range
};

// A scan covers at most this much of a network: 254 addresses. Nudging a
// /16 would take minutes and fill the neighbour table for nothing, since
// home and office LANs of up to 32 hosts are /24 or smaller.
inline constexpr int narrowestclamp = 24;
// At most this many networks are scanned in one run: the datagrams of one
// run stay below a thousand, and the neighbour table (1024 entries by
// default on Linux) never fills with the entries they make.
inline constexpr std::size_t mostnetworks = 4;

// The ranges to scan for the machine's addresses, in their order, each range
// once. Prefixes of 31 and 32 give none: such a link has no neighbours to
// find.
std::vector<scannetwork> scannetworks(std::span<const ownaddress> addresses);

// True when the range covers only the /24 around the machine's address.
bool clamped(const scannetwork& network);

// Whether an address is one the scan sends to: inside the range, neither its
// first nor its last address (the network's own and its broadcast; in a
// clamped /24 its .0 and .255, which hold those of the larger network), and
// none of the machine's own.
bool scanned(const scannetwork& network, const ipv4& ip);

// Every address the scan sends to, in ascending order: at most 254.
std::vector<ipv4> scantargets(const scannetwork& network);

// The entry says a host answered ARP lately: it holds a hardware address and
// is reachable (or was set by the administrator). A stale entry can be hours
// old, from a host long switched off; the scan's datagram sends it through
// delay and probe, after which it is reachable again or failed.
bool answered(const neighbourentry& entry);

// The entry waits for the system to confirm it (delay, probe): read the
// table again a little later to learn whether its host is still there.
bool unsettled(const neighbourentry& entry);

// Whether any entry for an address the network's scan sent to is unsettled.
bool settling(std::span<const neighbourentry> table, const scannetwork& network);

struct foundhost {
    ipv4 ip{};
    hardwareaddress mac{};
};

// The hosts to print from a neighbour table: entries that answered, for an
// address that one of the networks scanned, and that is not listed already;
// each address once, in ascending order.
std::vector<foundhost> newhosts(std::span<const neighbourentry> table,
                                std::span<const scannetwork> networks,
                                std::span<const ipv4> listed);

// The addresses of every host line that quorvel's reader accepts from the
// stream, to its end (also past the 32 hosts that quorvel itself shows).
std::vector<ipv4> listedaddresses(std::istream& in);

// A host's label: the first part of its reverse name, with only letters,
// digits, '-' and '_' kept (at most 63 of them); "pc" and the address's last
// number when that leaves nothing.
std::string hostlabel(std::string_view reversename, const ipv4& ip);

// One host line, newline included: label, address and hardware address, in
// columns.
std::string hostline(std::string_view label, const foundhost& host);

// The first line of the output. It says when and where the list was made,
// and quorvel's reader never takes it for a host: its second word does not
// begin with a digit.
std::string headerline(std::string_view machine, std::chrono::system_clock::time_point when,
                       std::span<const scannetwork> networks);

// The range in the usual notation, "192.168.1.0/24".
std::string rangetext(const scannetwork& network);
