// SPDX-License-Identifier: GPL-3.0-or-later
// On Linux a probe opens its ICMP socket either through ping sockets, which
// net.ipv4.ping_group_range grants to groups, or through the capability
// CAP_NET_RAW on the zendrik file itself; both are root's to grant.
#include "probehint.h"

#include "programsearch.h"

#include <string>

namespace {

// The zendrik the cycle ran, so that the command in the advice can be pasted.
std::string probepath() {
    const std::string found = findprogram("zendrik.exe", programsearchdirs());
    return found.empty() ? "zendrik" : found;
}

} // namespace

std::string probeprivilegeadvice() {
    return "quorvel: allow it in one of two ways, as root:\n"
           "quorvel:   give zendrik the capability: setcap cap_net_raw+p " +
           probepath() +
           "\n"
           "quorvel:   or allow ping sockets to all groups: "
           "sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"\n"
           "quorvel: see quorvel(1), PRIVILEGES.\n";
}
