// SPDX-License-Identifier: GPL-3.0-or-later
#include "standinerror.h"

#include <windows.h>

void standinseterror(long code) {
    SetLastError(static_cast<DWORD>(code));
}
