// SPDX-License-Identifier: GPL-3.0-or-later
// quorvel-scan: finds the hosts on the machine's LANs and prints them as a
// host list for quorvel, leaving out those that ./hostlist lists already:
//
//   quorvel-scan >> hostlist
//
// Every address of each LAN gets one small datagram; the system resolves
// each address by ARP to send it, and its neighbour table then holds the
// hardware address of every host that is up, whether or not it answers
// ping. No privilege is needed, and nothing listens on port 9.
#include "hostlist.h"
#include "localnets.h"
#include "neighbours.h"
#include "regularfile.h"
#include "scanlist.h"
#include "scannet.h"
#include "selfpath.h"
#include "settings.h"
#include "udpsocket.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace {

// At most this many datagrams in a burst, then a pause: about 500 a second,
// gentle on the LAN and on the system's ARP queue, and a /24 in half a second.
constexpr std::size_t burst = 8;
constexpr auto burstpause = std::chrono::milliseconds(16);
// A datagram the system could not take at once is tried this many times.
constexpr int tries = 5;
constexpr auto trypause = std::chrono::milliseconds(20);
// ARP answers come within milliseconds on a LAN; a Wi-Fi client that dozes
// takes longer. The table is read this long after a network's last datagram.
constexpr auto answertime = std::chrono::seconds(2);
// An entry the system knew from before is confirmed anew only after a
// delay of 5 s and up to 3 probes a second apart (Linux's defaults; Windows'
// are alike): the table is read again until none waits, for this long at most.
constexpr auto settletime = std::chrono::seconds(10);
constexpr auto settlepause = std::chrono::milliseconds(500);
// What quorvel reads of a host list at most, and a line more.
constexpr std::size_t mostlistbytes = std::size_t{16} * 1024 * 1024 + 1000;

const char usage[] = "Usage: quorvel-scan [-h]\n"
                     "Finds the hosts on this machine's LANs and prints them as a host list for\n"
                     "quorvel, one line each (label, address, hardware address), after a first\n"
                     "line that quorvel skips. Hosts that ./hostlist lists already are left out:\n"
                     "\n"
                     "  quorvel-scan >> hostlist\n"
                     "\n"
                     "It sends one small datagram to port 9 of every address of each IPv4 network\n"
                     "that is up (of a network larger than a /24, only the /24 around this\n"
                     "machine's address), waits two seconds (longer while the system re-checks\n"
                     "hosts it knew from before) and reads the system's neighbour table: every\n"
                     "host whose network card answered is listed, whether or not it answers\n"
                     "ping. Needs no privilege. A PC whose network card wakes it on any packet\n"
                     "addressed to it may wake up from a scan, as from a ping.\n";

int fail(const std::string& what) {
    std::fprintf(stderr, "quorvel-scan: %s\n", what.c_str());
    return 1;
}

// The addresses ./hostlist lists, read by quorvel's own rules; none when
// there is no host list yet.
std::vector<ipv4> listedhosts() {
    setdefaults();
    std::string content;
    if (!readregularfile(hostlistfile, mostlistbytes, content)) {
        return {};
    }
    std::istringstream in(std::move(content));
    std::vector<ipv4> listed = listedaddresses(in);
    if (listed.size() >= static_cast<std::size_t>(maxhosts)) {
        std::fprintf(stderr,
                     "quorvel-scan: %s lists %zu hosts already; quorvel shows the first %d "
                     "only\n",
                     hostlistfile, listed.size(), maxhosts);
    }
    return listed;
}

// The hosts' reverse names. One after another, a name server that does not
// answer would cost its time-out once per host: the lookups run side by
// side, a bounded number at once, and where no thread can be had, in turn.
std::vector<std::string> reversenames(const std::vector<foundhost>& hosts) {
    constexpr std::size_t atonce = 16;
    std::vector<std::string> names(hosts.size());
    for (std::size_t first = 0; first < hosts.size(); first += atonce) {
        std::vector<std::thread> lookups;
        for (std::size_t k = first; k < std::min(hosts.size(), first + atonce); ++k) {
            try {
                lookups.emplace_back([&names, &hosts, k] { names[k] = reversename(hosts[k].ip); });
            } catch (const std::system_error&) {
                names[k] = reversename(hosts[k].ip);
            }
        }
        for (std::thread& lookup : lookups) {
            lookup.join();
        }
    }
    return names;
}

// One datagram to every address of the network, at the bounded rate. false,
// with why, when the system refuses one.
bool nudgeall(udpsockethandle socket, const scannetwork& network, std::string& why) {
    constexpr unsigned short discardport = 9;
    const unsigned char byte = 0;
    std::size_t inburst = 0;
    for (const ipv4& ip : scantargets(network)) {
        bool sent = false;
        for (int k = 0; k < tries && !sent; ++k) {
            if (k > 0) {
                std::this_thread::sleep_for(trypause);
            }
            sent = udpsocketsendto(socket, &byte, 1, ip.data(), discardport) == 1;
            if (!sent && !udpsocketfailurepasses(why)) {
                break;
            }
        }
        if (!sent) {
            why.insert(0, "sending to " + addresstext(ip) + " port 9 was refused: ");
            return false;
        }
        if (++inburst == burst) {
            std::this_thread::sleep_for(burstpause);
            inburst = 0;
        }
    }
    return true;
}

int scan() {
    const std::vector<ipv4> listed = listedhosts();
    std::vector<ownaddress> addresses;
    std::string why;
    if (!localaddresses(addresses, why)) {
        return fail("cannot list the network interfaces: " + why);
    }
    std::vector<scannetwork> networks = scannetworks(addresses);
    if (networks.empty()) {
        return fail("no IPv4 network to scan: no interface that is up holds an IPv4 address "
                    "on a LAN");
    }
    for (std::size_t k = mostnetworks; k < networks.size(); ++k) {
        std::fprintf(stderr, "quorvel-scan: %s left out: at most %zu networks are scanned\n",
                     rangetext(networks[k]).c_str(), mostnetworks);
    }
    if (networks.size() > mostnetworks) {
        networks.resize(mostnetworks);
    }
    for (const scannetwork& network : networks) {
        if (clamped(network)) {
            std::fprintf(stderr,
                         "quorvel-scan: the network of %s is a /%d: only the /24 around it, "
                         "%s, is scanned\n",
                         addresstext(network.own.front()).c_str(), network.ownprefix,
                         rangetext(network).c_str());
        }
    }

    // Without broadcasts: the scan never means to send one, and a datagram
    // to a broadcast address is then refused rather than sent.
    const udpsockethandle socket = udpsocketopen(false);
    if (socket == invalidudpsocket) {
        udpsocketfailurepasses(why);
        return fail("cannot open a UDP socket: " + why);
    }
    // One network at a time, its table read before the next: the entries
    // that a network's unanswered addresses leave are then the most the
    // table holds at once.
    std::vector<neighbourentry> seen;
    for (const scannetwork& network : networks) {
        if (!nudgeall(socket, network, why)) {
            udpsocketclose(socket);
            return fail(why);
        }
        std::this_thread::sleep_for(answertime);
        std::vector<neighbourentry> table;
        const auto settled = std::chrono::steady_clock::now() + settletime;
        while (true) {
            if (!readneighbours(table, why)) {
                udpsocketclose(socket);
                return fail("cannot read the neighbour table: " + why);
            }
            if (!settling(table, network) || std::chrono::steady_clock::now() >= settled) {
                break;
            }
            std::this_thread::sleep_for(settlepause);
        }
        seen.insert(seen.end(), table.begin(), table.end());
    }
    udpsocketclose(socket);

    const std::vector<foundhost> hosts = newhosts(seen, networks, listed);
    std::string out = headerline(machinename(), std::chrono::system_clock::now(), networks);
    const std::vector<std::string> names = reversenames(hosts);
    for (std::size_t k = 0; k < hosts.size(); ++k) {
        out += hostline(hostlabel(names[k], hosts[k].ip), hosts[k]);
    }
    if (std::fputs(out.c_str(), stdout) == EOF || std::fflush(stdout) != 0) {
        return fail("cannot write the host list: " + std::string(std::strerror(errno)));
    }
    std::fprintf(stderr, "quorvel-scan: %zu new host%s\n", hosts.size(),
                 hosts.size() == 1 ? "" : "s");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    limitdllsearch();
    if (argc == 2 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        std::fputs(usage, stdout);
        return 0;
    }
    if (argc > 1) {
        std::fputs(usage, stderr);
        return 1;
    }
    if (!udpsocketstartup()) {
        return fail("Windows Sockets did not start");
    }
    const int status = scan();
    udpsocketcleanup();
    return status;
}
