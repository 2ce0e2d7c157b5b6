// SPDX-License-Identifier: GPL-3.0-or-later
// Where a Linux result pipe is: a Unix stream socket, bound as a file in the
// directory that the monitor made for its pipes and named to its probes in
// their environment.
#pragma once

#include "pipepath.h"

#include <sys/socket.h>
#include <sys/un.h>

// The local address "<directory>/<pipe name>". Returns the address length for
// bind() or connect(); 0 when there is no directory (it must be an absolute
// path), the name holds a slash, or the result does not fit.
socklen_t pipeaddress(const char* directory, const char* pipename, sockaddr_un* address);
