// What the Linux result pipe client adds to resultpipe.h: the address it
// connects to, which a test holds to the monitor's.
#pragma once

#include "resultpipe.h"

#include <sys/socket.h>
#include <sys/un.h>

// The local address of a pipe name in the monitor's pipe directory. Returns
// the address length to hand to connect(), 0 when there is no directory (it
// must be an absolute path) or the name does not fit.
socklen_t pipeclientaddress(const char* directory, const char* pipename, sockaddr_un* address);
