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

// Opens the existing pipe of that name that the probe's parent created.
// Fails at once when no such pipe exists, its monitor has closed it, or the
// other end is not the probe's parent. When the pipe exists but cannot take
// another client just now, because other processes have connected first and
// wait to be refused, it waits up to waitmsec for room (not at all for 0).
pipehandle pipeclientopen(const char* pipename, int waitmsec);

// One write of the given bytes; the number written, or -1.
long pipeclientwrite(pipehandle pipe, const void* bytes, std::size_t count);

bool pipeclientclose(pipehandle pipe);

#ifndef _WIN32
// The local address of a pipe name in the monitor's pipe directory. Returns
// the address length to hand to connect(), 0 when there is no directory (it
// must be an absolute path) or the name does not fit.
socklen_t pipeclientaddress(const char* directory, const char* pipename, sockaddr_un* address);
#endif
