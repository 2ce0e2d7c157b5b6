// SPDX-License-Identifier: GPL-3.0-or-later
// The scan's few network operations: one small UDP datagram to an address,
// the reverse name of an address, and the machine's own name.
#pragma once

#include "scanlist.h"

#include <cstdint>
#include <string>

// Make the socket operations usable, and undo that again (Windows Sockets
// must be started; on POSIX there is nothing to do).
bool netstartup(std::string& why);
void netcleanup();

using nudgesocket = std::intptr_t;
inline constexpr nudgesocket invalidnudgesocket = -1;

// A UDP socket for the nudges. It may not send to broadcast addresses: the
// scan never means to, and the system refuses such a datagram outright.
nudgesocket nudgeopen(std::string& why);
void nudgeclose(nudgesocket socket);

enum class nudgeresult {
    sent,
    // Not sent, for a reason that passes: the system's buffers were full for
    // a moment, or the send reported what an earlier datagram met (a port
    // or host unreachable that came back). Worth another try.
    later,
    refused, // the system will not send it
};

// One datagram of a single byte to the address's port 9 (discard). When it
// is not sent, `why` says why in the system's words.
nudgeresult nudge(nudgesocket socket, const ipv4& ip, std::string& why);

// The address's name by the system's reverse lookup (hosts file, DNS, and
// whatever else the system asks); empty when it has none.
std::string reversename(const ipv4& ip);

// The machine's own name; empty when the system does not say.
std::string machinename();
