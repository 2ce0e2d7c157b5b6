// SPDX-License-Identifier: GPL-3.0-or-later
// ICMP.DLL needs no privilege on Windows, so a probe holds nothing beyond its
// user's rights and has nothing to give up.
#include "privilege.h"

bool dropprivilege() {
    return true;
}
