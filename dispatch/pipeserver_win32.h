// SPDX-License-Identifier: GPL-3.0-or-later
// What the Windows result pipes add to pipeserver.h: the secret in each
// pipe's name, for the tests that look at them from outside, and where the
// secrets come from, for the tests that must know a name before it is made.
#pragma once

#include "pipepath.h"
#include "pipeserver.h"

#include <array>

// How often a pipe's name is drawn anew when someone else holds it, before
// its host is given up for the cycle.
inline constexpr int pipecreateattempts = 4;

// The secret in the name of that pipe, else nullptr (also for a pipe whose
// name could not be had).
const char* pipeserversecret(pipehandle pipe);

// Fills in a secret of pipesecretlength lower-case hexadecimal digits and
// its terminating zero; false when none can be had.
using pipesecretdraw = bool (*)(std::array<char, pipesecretlength + 1>& secret);

// The system's random generator (BCryptGenRandom): where the secrets come from.
bool pipeserverrandomsecret(std::array<char, pipesecretlength + 1>& secret);

// The pipes made from now on take their secrets from `draw`; nullptr puts the
// system's random generator back.
void pipeserversetsecretdraw(pipesecretdraw draw);
