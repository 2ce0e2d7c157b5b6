// SPDX-License-Identifier: GPL-3.0-or-later
// The few socket operations that the Wake-on-LAN sender and quorvel-scan
// need: one UDP datagram to one IPv4 address and port.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

using udpsockethandle = std::intptr_t;
inline constexpr udpsockethandle invalidudpsocket = -1;

// Make the socket operations usable, and undo that again; on POSIX there is
// nothing to do, a Win32 version starts and stops Windows Sockets here.
bool udpsocketstartup();
void udpsocketcleanup();

// A UDP socket; invalidudpsocket on failure. With `broadcast` it may send
// to broadcast addresses (a magic packet goes to one); without, the system
// refuses such a datagram outright.
udpsockethandle udpsocketopen(bool broadcast = true);

// One datagram; the number of bytes sent, or -1. An invalid socket fails.
long udpsocketsendto(udpsockethandle socket, const void* bytes, std::size_t count,
                     const unsigned char address[4], unsigned short port);

void udpsocketclose(udpsockethandle socket);

// Right after a call above failed: the system's words for why, and whether
// the cause passes (its buffers full for a moment, or an error that an
// earlier datagram met coming back), so that another try may go through.
bool udpsocketfailurepasses(std::string& why);
