// SPDX-License-Identifier: GPL-3.0-or-later
#include "scanlist.h"

#include "hostlist.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace {

// The widest prefix that still leaves an address between a network's own and
// its broadcast.
constexpr int narrowestnetwork = 30;
constexpr std::size_t mostlabel = 63; // the longest part of a DNS name
constexpr std::size_t mostmachinename = 64;
// Columns of the host lines, as the examples of the host list line them up.
constexpr std::size_t labelcolumn = 11;
constexpr std::size_t addresscolumn = 16;

std::uint32_t tonumber(const ipv4& ip) {
    return (std::uint32_t{ip[0]} << 24) | (std::uint32_t{ip[1]} << 16) |
           (std::uint32_t{ip[2]} << 8) | std::uint32_t{ip[3]};
}

ipv4 fromnumber(std::uint32_t n) {
    return {static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
            static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)};
}

std::uint32_t rangesize(const scannetwork& network) {
    return std::uint32_t{1} << (32 - network.prefix);
}

bool islabelchar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_';
}

// A name from elsewhere (DNS, the system) with only the characters that a
// label of the host list may hold and a terminal shows plainly.
std::string keepplain(std::string_view text, std::size_t most, bool dots) {
    std::string kept;
    for (const char c : text) {
        if (kept.size() == most) {
            break;
        }
        if (islabelchar(c) || (dots && c == '.')) {
            kept.push_back(c);
        }
    }
    return kept;
}

void pad(std::string& line, std::size_t column) {
    line.append(line.size() + 1 < column ? column - line.size() : 1, ' ');
}

// A hardware address of no single host: all zeros, or a group (multicast or
// broadcast) address.
bool hostlesshardware(const hardwareaddress& mac) {
    return (mac[0] & 1) != 0 || std::all_of(mac.begin(), mac.end(), [](auto b) { return b == 0; });
}

} // namespace

std::vector<scannetwork> scannetworks(std::span<const ownaddress> addresses) {
    std::vector<scannetwork> networks;
    for (const ownaddress& address : addresses) {
        if (address.prefix < 0 || address.prefix > narrowestnetwork) {
            continue;
        }
        const int prefix = std::max(address.prefix, narrowestclamp);
        const std::uint32_t mask = ~std::uint32_t{0} << (32 - prefix);
        const ipv4 base = fromnumber(tonumber(address.ip) & mask);
        auto same = std::find_if(networks.begin(), networks.end(), [&](const scannetwork& n) {
            return n.base == base && n.prefix == prefix;
        });
        if (same == networks.end()) {
            networks.push_back({base, prefix, address.prefix, {}});
            same = networks.end() - 1;
        }
        same->ownprefix = std::min(same->ownprefix, address.prefix);
        if (std::find(same->own.begin(), same->own.end(), address.ip) == same->own.end()) {
            same->own.push_back(address.ip);
        }
    }
    return networks;
}

bool clamped(const scannetwork& network) {
    return network.ownprefix < network.prefix;
}

bool scanned(const scannetwork& network, const ipv4& ip) {
    const std::uint32_t first = tonumber(network.base);
    const std::uint32_t n = tonumber(ip);
    return n > first && n - first < rangesize(network) - 1 &&
           std::find(network.own.begin(), network.own.end(), ip) == network.own.end();
}

std::vector<ipv4> scantargets(const scannetwork& network) {
    std::vector<ipv4> targets;
    const std::uint32_t first = tonumber(network.base);
    for (std::uint32_t k = 1; k + 1 < rangesize(network); ++k) {
        const ipv4 ip = fromnumber(first + k);
        if (scanned(network, ip)) {
            targets.push_back(ip);
        }
    }
    return targets;
}

bool answered(const neighbourentry& entry) {
    const bool confirmed =
        entry.state == neighbourstate::reachable || entry.state == neighbourstate::permanent;
    return confirmed && entry.hasmac && !hostlesshardware(entry.mac);
}

bool unsettled(const neighbourentry& entry) {
    return entry.state == neighbourstate::delay || entry.state == neighbourstate::probe;
}

bool settling(std::span<const neighbourentry> table, const scannetwork& network) {
    return std::any_of(table.begin(), table.end(), [&](const neighbourentry& entry) {
        return unsettled(entry) && scanned(network, entry.ip);
    });
}

std::vector<foundhost> newhosts(std::span<const neighbourentry> table,
                                std::span<const scannetwork> networks,
                                std::span<const ipv4> listed) {
    std::vector<foundhost> hosts;
    for (const neighbourentry& entry : table) {
        const bool inscan = std::any_of(networks.begin(), networks.end(),
                                        [&](const scannetwork& n) { return scanned(n, entry.ip); });
        const bool known = std::find(listed.begin(), listed.end(), entry.ip) != listed.end() ||
                           std::any_of(hosts.begin(), hosts.end(),
                                       [&](const foundhost& h) { return h.ip == entry.ip; });
        if (answered(entry) && inscan && !known) {
            hosts.push_back({entry.ip, entry.mac});
        }
    }
    std::sort(hosts.begin(), hosts.end(), [](const foundhost& a, const foundhost& b) {
        return tonumber(a.ip) < tonumber(b.ip);
    });
    return hosts;
}

std::vector<ipv4> listedaddresses(std::istream& in) {
    // The reader stops after 32 hosts, the most the window shows; reading on
    // from where it stopped finds the hosts written after them too, which an
    // appended copy would repeat just the same.
    std::vector<ipv4> listed;
    do {
        readlistfrom(in);
        for (std::int32_t k = 0; k < hostnum; ++k) {
            listed.push_back(dolist[k].ip);
        }
    } while (in && in.peek() != std::istream::traits_type::eof());
    return listed;
}

std::string hostlabel(std::string_view reversename, const ipv4& ip) {
    std::string label = keepplain(reversename.substr(0, reversename.find('.')), mostlabel, false);
    return label.empty() ? "pc" + std::to_string(ip[3]) : label;
}

std::string rangetext(const scannetwork& network) {
    return addresstext(network.base) + '/' + std::to_string(network.prefix);
}

std::string hostline(std::string_view label, const foundhost& host) {
    std::string line(label);
    pad(line, labelcolumn);
    line += addresstext(host.ip);
    pad(line, labelcolumn + addresscolumn);
    return line + hardwareaddresstext(host.mac) + '\n';
}

std::string headerline(std::string_view machine, std::chrono::system_clock::time_point when,
                       std::span<const scannetwork> networks) {
    using namespace std::chrono;
    const sys_days day = floor<days>(when);
    const year_month_day date{day};
    const hh_mm_ss time{floor<seconds>(when - day)};
    char stamp[40];
    std::snprintf(stamp, sizeof stamp, "%04d-%02u-%02u %02d:%02d:%02d UTC",
                  static_cast<int>(date.year()), static_cast<unsigned>(date.month()),
                  static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
                  static_cast<int>(time.minutes().count()),
                  static_cast<int>(time.seconds().count()));
    std::string line = "# quorvel-scan";
    const std::string name = keepplain(machine, mostmachinename, true);
    if (!name.empty()) {
        line += " on " + name;
    }
    line += " at ";
    line += stamp;
    line += networks.empty() ? ", no network" : ", networks";
    for (const scannetwork& network : networks) {
        line += ' ' + rangetext(network);
    }
    return line + '\n';
}
