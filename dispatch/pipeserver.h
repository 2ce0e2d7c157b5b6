// Server end of the result pipe: the monitor creates one per host and cycle,
// takes one verdict from it and releases it.
#pragma once

#include <cstdint>

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/un.h>
#endif

using pipehandle = std::intptr_t;
inline constexpr pipehandle invalidpipehandle = -1;

// Creates the pipe of that name, ready for its one client. invalidpipehandle
// when it cannot be created (for example because the name is taken).
pipehandle pipeservercreate(const char* pipename);

// Releases the pipe; from then on no client can open its name.
void pipeserverclose(pipehandle pipe);

#ifndef _WIN32
// The local address that stands for a pipe name of the monitor with the given
// process id. Returns the address length for bind(), 0 when the name does not fit.
socklen_t pipeserveraddress(const char* pipename, long monitorpid, sockaddr_un* address);
#endif
