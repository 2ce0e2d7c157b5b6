// SPDX-License-Identifier: GPL-3.0-or-later
// The process's capability sets, read and written with the raw system calls,
// for zendrik and its echo library alike: libcap would be one more library
// loaded into a process that holds a capability. Capabilities belong to the
// calling thread; zendrik has one.
#pragma once

#include <array>
#include <linux/capability.h>

using capabilitysets = std::array<__user_cap_data_struct, _LINUX_CAPABILITY_U32S_3>;

// False, with errno set, when the kernel refuses.
bool readcapabilities(capabilitysets& sets);
bool writecapabilities(capabilitysets& sets);
