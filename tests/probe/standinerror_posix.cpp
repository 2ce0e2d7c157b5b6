// SPDX-License-Identifier: GPL-3.0-or-later
#include "standinerror.h"

#include <cerrno>

void standinseterror(long code) {
    errno = static_cast<int>(code);
}
