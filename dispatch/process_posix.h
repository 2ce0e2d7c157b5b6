// SPDX-License-Identifier: GPL-3.0-or-later
// What the POSIX probe processes add to process.h, for tests.
#pragma once

#include "process.h"

// Makes the waits poll at short intervals, as they do on kernels without
// pidfd_open, instead of sleeping on a pidfd.
void processforcepolling(bool on);
