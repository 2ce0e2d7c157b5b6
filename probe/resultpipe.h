// SPDX-License-Identifier: GPL-3.0-or-later
// Client end of the result pipe: zendrik opens the pipe its monitor created,
// writes its verdict word once and closes it.
#pragma once

#include "protocol.h"

#include <cstddef>

// Opens the existing pipe of that name that the probe's parent created.
// Fails at once when no such pipe exists, its monitor has closed it, or the
// other end is not the probe's parent. When the pipe exists but cannot take
// another client just now, because other processes have connected first and
// wait to be refused, it waits up to waitmsec for room (not at all for 0).
pipehandle pipeclientopen(const char* pipename, int waitmsec);

// One write of the given bytes; the number written, or -1.
long pipeclientwrite(pipehandle pipe, const void* bytes, std::size_t count);

bool pipeclientclose(pipehandle pipe);
