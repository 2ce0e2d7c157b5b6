// SPDX-License-Identifier: GPL-3.0-or-later
#include "priority.h"

#include <sys/resource.h>

namespace {
// The nicest value there is; children inherit it through fork and exec.
constexpr int idlenice = 19;
} // namespace

void setidlepriority() {
    (void)setpriority(PRIO_PROCESS, 0, idlenice);
}
