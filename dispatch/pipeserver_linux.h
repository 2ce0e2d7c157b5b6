// SPDX-License-Identifier: GPL-3.0-or-later
// What the Linux result pipes add to pipeserver.h: where the pipes live, for
// the tests that look at them from outside.
#pragma once

#include "pipeserver.h"

// The directory that holds this process's pipes while any exists, else nullptr.
const char* pipeserverdirectory();
