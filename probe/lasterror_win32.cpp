// SPDX-License-Identifier: GPL-3.0-or-later
// ICMP.DLL leaves its error code where every Windows call does, in the
// thread's last-error value.
#include "lasterror.h"

#include <windows.h>

std::uint32_t lasterror() {
    return GetLastError();
}
