// SPDX-License-Identifier: GPL-3.0-or-later
#include "capability_linux.h"

#include <sys/syscall.h>
#include <unistd.h>

bool readcapabilities(capabilitysets& sets) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return syscall(SYS_capget, &header, sets.data()) == 0;
}

bool writecapabilities(capabilitysets& sets) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return syscall(SYS_capset, &header, sets.data()) == 0;
}
