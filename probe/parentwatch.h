// SPDX-License-Identifier: GPL-3.0-or-later
// A probe lives only as long as the monitor that started it.
#pragma once

// Has the system end this process when its parent ends. False when the
// parent has ended already (the probe is an orphan and must not go on).
bool endwithparent();
