// SPDX-License-Identifier: GPL-3.0-or-later
// The last error code of the calling thread, as the echo library left it.
#pragma once

#include <cstdint>

std::uint32_t lasterror();
