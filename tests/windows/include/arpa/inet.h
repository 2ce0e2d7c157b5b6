// SPDX-License-Identifier: GPL-3.0-or-later
// The address functions of the POSIX header come from Windows Sockets.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
