// SPDX-License-Identifier: GPL-3.0-or-later
// The names the scan asks the system for: an address's reverse name and the
// machine's own. Its datagrams go through the monitor's UDP socket
// (udpsocket.h), which also starts and stops Windows Sockets.
#pragma once

#include "scanlist.h"

#include <string>

// The address's name by the system's reverse lookup (hosts file, DNS, and
// whatever else the system asks); empty when it has none.
std::string reversename(const ipv4& ip);

// The machine's own name; empty when the system does not say.
std::string machinename();
