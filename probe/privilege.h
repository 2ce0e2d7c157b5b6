// SPDX-License-Identifier: GPL-3.0-or-later
// Giving up for good the privilege a probe was started with.
#pragma once

// Clears every capability the process holds (effective, permitted,
// inheritable) and forbids it to gain any through a later exec. True when
// both hold afterwards; the process holds nothing extra then, whatever it
// was started with. A build for a platform without capabilities has nothing
// to give up and always succeeds.
bool dropprivilege();
