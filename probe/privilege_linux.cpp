// SPDX-License-Identifier: GPL-3.0-or-later
// Clearing every set is one write of empty sets. The ambient set needs no
// call of its own: the kernel empties it when the permitted and inheritable
// sets are cleared.
#include "capability_linux.h"
#include "privilege.h"

#include <sys/prctl.h>

namespace {

bool capabilitiescleared() {
    capabilitysets sets{};
    if (!readcapabilities(sets)) {
        return false;
    }
    for (const auto& set : sets) {
        if (set.effective != 0 || set.permitted != 0 || set.inheritable != 0) {
            return false;
        }
    }
    return true;
}

} // namespace

bool dropprivilege() {
    capabilitysets none{};
    if (!writecapabilities(none)) {
        return false;
    }
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        return false;
    }
    // The outcome is read back rather than trusted: a probe that still held
    // something here would go on to send with it.
    return capabilitiescleared() && prctl(PR_GET_NO_NEW_PRIVS, 0, 0, 0, 0) == 1;
}
