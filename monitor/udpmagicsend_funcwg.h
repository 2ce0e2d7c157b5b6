// SPDX-License-Identifier: GPL-3.0-or-later
// The Wake-on-LAN sender: one magic packet for a host's hardware address.
#pragma once

#include <array>
#include <cstddef>

inline constexpr std::size_t magicpacketsize = 102;
inline constexpr unsigned short magicpacketport = 9;

// Six bytes FF, then the hardware address sixteen times; no password field.
std::array<unsigned char, magicpacketsize> makemagicpacket(const unsigned char hwaddress[6]);

// Sends the magic packet to port 9 of address a.b.c.255 and then waits one
// second. The last octet of address is overwritten, so callers hand a copy.
// Always 0: nothing here is reported, the next probe cycle shows whether the
// host woke.
int udpmagicsend(unsigned char address[4], const unsigned char hwaddress[6]);
