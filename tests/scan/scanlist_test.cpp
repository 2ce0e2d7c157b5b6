// SPDX-License-Identifier: GPL-3.0-or-later
// What quorvel-scan sends to and prints, on hand-made addresses and tables:
// the ranges and their /24 clamp, the hosts taken from a neighbour table,
// their labels, and lines that quorvel's own reader takes as they are meant.
#include "hostlist.h"
#include "scanlist.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono;

ipv4 ip(const char* text) {
    unsigned a = 0, b = 0, c = 0, d = 0;
    std::sscanf(text, "%u.%u.%u.%u", &a, &b, &c, &d);
    return {static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b),
            static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(d)};
}

// The machine's addresses, and what is scanned for them: each network's
// range, and for the first whether it is clamped, how many addresses it
// sends to, and the first and the last of them.
struct RangeCase {
    std::vector<ownaddress> addresses;
    std::vector<std::string> ranges;
    bool clamp;
    std::size_t targets;
    const char* first;
    const char* last;
};

TEST(Ranges, CoverTheNetworkOrItsOwnSlash24) {
    const std::vector<RangeCase> cases = {
        {{{ip("192.168.1.20"), 24}},
         {"192.168.1.0/24"},
         false,
         253,
         "192.168.1.1",
         "192.168.1.254"},
        {{{ip("10.0.0.1"), 28}}, {"10.0.0.0/28"}, false, 13, "10.0.0.2", "10.0.0.14"},
        {{{ip("172.16.9.254"), 16}}, {"172.16.9.0/24"}, true, 253, "172.16.9.1", "172.16.9.253"},
        {{{ip("10.9.8.7"), 0}}, {"10.9.8.0/24"}, true, 253, "10.9.8.1", "10.9.8.254"},
        {{{ip("10.0.0.1"), 31}, {ip("10.0.0.9"), 32}}, {}, false, 0, "", ""}, // point to point
        {{{ip("192.168.1.20"), 24}, {ip("192.168.1.30"), 24}, {ip("10.1.0.1"), 16}},
         {"192.168.1.0/24", "10.1.0.0/24"},
         false,
         252,
         "192.168.1.1",
         "192.168.1.254"},
    };
    for (const RangeCase& c : cases) {
        const std::vector<scannetwork> networks = scannetworks(c.addresses);
        std::vector<std::string> ranges;
        ranges.reserve(networks.size());
        for (const scannetwork& n : networks) {
            ranges.push_back(rangetext(n));
        }
        ASSERT_EQ(ranges, c.ranges);
        if (networks.empty()) {
            continue;
        }
        const std::string what = addresstext(c.addresses[0].ip);
        EXPECT_EQ(clamped(networks[0]), c.clamp) << what;
        const std::vector<ipv4> targets = scantargets(networks[0]);
        ASSERT_EQ(targets.size(), c.targets) << what;
        EXPECT_EQ(targets.front(), ip(c.first)) << what;
        EXPECT_EQ(targets.back(), ip(c.last)) << what;
        for (const ownaddress& own : c.addresses) {
            EXPECT_EQ(std::count(targets.begin(), targets.end(), own.ip), 0) << what;
        }
        EXPECT_TRUE(std::is_sorted(targets.begin(), targets.end())) << what;
    }
}

neighbourentry entry(ipv4 ip, std::uint8_t last, neighbourstate state, bool hasmac = true) {
    neighbourentry e;
    e.ip = ip;
    e.mac = {0x02, 0, 0, 0, 0, last};
    e.hasmac = hasmac;
    e.state = state;
    return e;
}

TEST(NewHosts, AreTheAnsweredScannedUnlistedEntriesSortedByAddress) {
    const std::vector<scannetwork> networks =
        scannetworks(std::vector<ownaddress>{{{192, 168, 1, 1}, 24}, {{10, 5, 0, 1}, 16}});
    using s = neighbourstate;
    std::vector<neighbourentry> table = {
        entry({192, 168, 1, 100}, 1, s::reachable),
        entry({192, 168, 1, 20}, 2, s::stale), // perhaps hours old
        entry({192, 168, 1, 3}, 3, s::delay),  // not confirmed yet
        entry({10, 5, 0, 40}, 4, s::reachable),
        entry({192, 168, 1, 5}, 5, s::permanent),
        entry({192, 168, 1, 6}, 6, s::incomplete),
        entry({192, 168, 1, 7}, 7, s::failed),
        entry({192, 168, 1, 8}, 8, s::other),
        entry({192, 168, 1, 9}, 9, s::reachable, false), // no hardware address
        entry({192, 168, 2, 10}, 10, s::reachable),      // not a scanned network
        entry({10, 5, 1, 11}, 11, s::reachable),         // beyond the clamped /24
        entry({192, 168, 1, 255}, 12, s::permanent),     // the broadcast address
        entry({192, 168, 1, 1}, 13, s::permanent),       // the machine's own
        entry({192, 168, 1, 14}, 14, s::reachable),      // listed already
        entry({192, 168, 1, 100}, 15, s::stale),         // a second table's entry
    };
    table.push_back(entry({192, 168, 1, 16}, 0, s::reachable));
    table.back().mac = {};                                      // all zeros
    table.push_back(entry({192, 168, 1, 17}, 0, s::reachable)); // a group address
    table.back().mac = {0x01, 0x00, 0x5e, 0, 0, 1};
    const std::vector<ipv4> listed = {{192, 168, 1, 14}, {10, 0, 0, 1}};

    std::vector<std::string> found;
    for (const foundhost& h : newhosts(table, networks, listed)) {
        found.push_back(addresstext(h.ip) + " " + std::to_string(h.mac[5]));
    }
    const std::vector<std::string> expected = {"10.5.0.40 4", "192.168.1.5 5", "192.168.1.100 1"};
    EXPECT_EQ(found, expected);
    // The delay entry keeps the table being read again; not once it has
    // settled, nor for an address outside the network.
    EXPECT_TRUE(settling(table, networks[0]));
    table[2].state = s::reachable;
    EXPECT_FALSE(settling(table, networks[0]));
    table.push_back(entry({192, 168, 2, 3}, 3, s::probe));
    EXPECT_FALSE(settling(table, networks[0]));
}

TEST(Labels, FitTheHostListGrammar) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"fileserver.office.example.", "fileserver"},
        {"", "pc7"}, // no reverse name
        {"my pc\t#2!.lan", "mypc2"},
        {"\xc3\xa4\xc3\xb6.lan", "pc7"}, // nothing plain left
        {".lan", "pc7"},
        {std::string(80, 'a') + ".lan", std::string(63, 'a')},
    };
    for (const auto& [reverse, expected] : cases) {
        const std::string label = hostlabel(reverse, {192, 168, 1, 7});
        EXPECT_EQ(label, expected) << reverse;
        HostEntry row{};
        EXPECT_TRUE(parsehostline(label + " 192.168.1.7 02:00:00:00:00:07\n", row)) << label;
    }
}

TEST(Output, IsAHostListThatQuorvelReadsAsMeant) {
    const std::vector<scannetwork> networks =
        scannetworks(std::vector<ownaddress>{{{10, 200, 1, 1}, 24}, {{172, 16, 9, 4}, 12}});
    const sys_days day = year{2026} / December / 8;
    const std::string header = headerline(
        "lab pc\n", day + hours{20} + minutes{15} + seconds{3} + milliseconds{900}, networks);
    EXPECT_EQ(header, "# quorvel-scan on labpc at 2026-12-08 20:15:03 UTC, networks "
                      "10.200.1.0/24 172.16.9.0/24\n");
    const foundhost near{{10, 200, 1, 7}, {0x0a, 0xbc, 0, 0x01, 0xff, 0x10}};
    const foundhost far{{172, 16, 9, 200}, {2, 0, 0, 0, 0, 2}};
    const std::string first = hostline("pc7", near);
    EXPECT_EQ(first, "pc7        10.200.1.7      0a:bc:00:01:ff:10\n");
    const std::string second = hostline(std::string(63, 'n'), far);

    // The header is no host, every other line is exactly its host.
    std::istringstream in(header + first + second);
    readlistfrom(in);
    ASSERT_EQ(hostnum, 2);
    EXPECT_STREQ(dolist[0].hostname, "pc7");
    EXPECT_EQ(dolist[0].ip, near.ip);
    EXPECT_EQ(dolist[0].mac, near.mac);
    EXPECT_STREQ(dolist[1].hostname, "nnnnnn.");
    EXPECT_EQ(dolist[1].ip, far.ip);
    EXPECT_EQ(dolist[1].mac, far.mac);
    EXPECT_EQ(headerline("", sys_days{}, {}), "# quorvel-scan at 1970-01-01 00:00:00 UTC, no "
                                              "network\n");
}

TEST(Listed, AreEveryHostLineQuorvelAcceptsAlsoPastThirtyTwo) {
    std::string list = "# office hosts\r\npc5 127.0.1.300 00:11:22:33:44:55 # as 127.0.1.44\r\n"
                       "pc6 127.0.1.60\n";
    for (int k = 1; k <= 40; ++k) {
        list += "h" + std::to_string(k) + " 10.0.0." + std::to_string(k) + " 02:00:00:00:00:01\n";
    }
    std::istringstream in(list);
    const std::vector<ipv4> listed = listedaddresses(in);
    ASSERT_EQ(listed.size(), 41u);
    EXPECT_EQ(listed.front(), (ipv4{127, 0, 1, 44}));
    EXPECT_EQ(listed.back(), (ipv4{10, 0, 0, 40}));
    std::istringstream empty("");
    EXPECT_TRUE(listedaddresses(empty).empty());
}

} // namespace
