// SPDX-License-Identifier: GPL-3.0-or-later
// Scheduling priority of the monitor process.
#pragma once

// Lowers the process to the lowest scheduling priority, which every process
// it starts later inherits, so that the monitor and its probes yield to
// everything else on the machine. Whether the platform agreed is not looked at.
void setidlepriority();
