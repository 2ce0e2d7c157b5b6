// What the Linux result pipes add to pipeserver.h: where a pipe lives, for
// the tests that look at it from outside and for the probe's own code, which
// a test holds to the same address.
#pragma once

#include "pipeserver.h"

#include <sys/socket.h>
#include <sys/un.h>

// The local address of a pipe name in the given directory. Returns the
// address length for bind(), 0 when it does not fit.
socklen_t pipeserveraddress(const char* directory, const char* pipename, sockaddr_un* address);

// The directory that holds this process's pipes while any exists, else nullptr.
const char* pipeserverdirectory();
