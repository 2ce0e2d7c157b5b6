// SPDX-License-Identifier: GPL-3.0-or-later
// The idle priority class is the lowest there is; every process started later
// inherits it.
#include "priority.h"

#include <windows.h>

void setidlepriority() {
    (void)SetPriorityClass(GetCurrentProcess(), IDLE_PRIORITY_CLASS);
}
