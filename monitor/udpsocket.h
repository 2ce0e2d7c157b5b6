// SPDX-License-Identifier: GPL-3.0-or-later
// The few socket operations the Wake-on-LAN sender needs: one UDP datagram to
// one IPv4 address and port.
#pragma once

#include <cstddef>
#include <cstdint>

using udpsockethandle = std::intptr_t;
inline constexpr udpsockethandle invalidudpsocket = -1;

// Make the socket operations usable, and undo that again; on POSIX there is
// nothing to do, a Win32 version starts and stops Windows Sockets here.
bool udpsocketstartup();
void udpsocketcleanup();

// A UDP socket that may send to broadcast addresses; invalidudpsocket on failure.
udpsockethandle udpsocketopen();

// One datagram; the number of bytes sent, or -1. An invalid socket fails.
long udpsocketsendto(udpsockethandle socket, const void* bytes, std::size_t count,
                     const unsigned char address[4], unsigned short port);

void udpsocketclose(udpsockethandle socket);
