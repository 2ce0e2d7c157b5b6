// SPDX-License-Identifier: GPL-3.0-or-later
// The machine's own IPv4 addresses on the links where a scan can find hosts:
// interfaces that are up and running, that resolve neighbours by ARP, and
// that are neither loopback nor point-to-point (a VPN tunnel holds no LAN
// neighbours, and datagrams into it would leave the building).
#pragma once

#include "scanlist.h"

#include <string>
#include <vector>

// false, with the system's reason in `why`, when the interfaces cannot be
// listed; an empty list is no failure.
bool localaddresses(std::vector<ownaddress>& addresses, std::string& why);
