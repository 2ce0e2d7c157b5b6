// SPDX-License-Identifier: GPL-3.0-or-later
// On Windows the echo goes through the system's ICMP.DLL, which needs no
// privilege: when IcmpCreateFile fails there, the system itself refused the
// echo service, and only its network set-up can be looked at.
#include "probehint.h"

#include <string>

std::string probeprivilegeadvice() {
    return "quorvel: the system's ICMP.DLL refused to open an echo handle; no privilege is "
           "needed for it on Windows.\n"
           "quorvel: check that the TCP/IP stack is running and that no security software "
           "blocks ICMP echo for zendrik.exe.\n";
}
