// SPDX-License-Identifier: GPL-3.0-or-later
// The echo library leaves its error code in errno (per thread), so reading
// the last error is reading errno. It must be read right after the call that
// failed: any later C library call may change it.
#include "lasterror.h"

#include <cerrno>

std::uint32_t lasterror() {
    return static_cast<std::uint32_t>(errno);
}
