// Client end of the result pipe: zendrik opens the pipe its monitor created,
// writes its verdict word once and closes it.
#pragma once

#include <cstddef>
#include <cstdint>

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/un.h>
#endif

using pipehandle = std::intptr_t;
inline constexpr pipehandle invalidpipehandle = -1;

// Opens the existing pipe of that name. Fails at once when no such pipe
// exists or its monitor has closed it. When the pipe exists but cannot take
// another client just now, because other processes have connected first and
// wait to be refused, it waits up to waitmsec for room (not at all for 0).
pipehandle pipeclientopen(const char* pipename, int waitmsec);

// One write of the given bytes; the number written, or -1.
long pipeclientwrite(pipehandle pipe, const void* bytes, std::size_t count);

bool pipeclientclose(pipehandle pipe);

#ifndef _WIN32
// The local address that stands for a pipe name of the monitor with the given
// process id. Returns the address length to hand to connect(), 0 when the
// name does not fit.
socklen_t pipeclientaddress(const char* pipename, long monitorpid, sockaddr_un* address);
#endif
