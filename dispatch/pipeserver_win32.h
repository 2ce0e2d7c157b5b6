// What the Windows result pipes add to pipeserver.h: the full name of a pipe,
// which a test holds to the probe's.
#pragma once

#include "pipeserver.h"

#include <array>

// The name of this monitor's pipe for a pipe name "\\.\pipe\NAME" and the
// secret that QUORVEL_PIPES hands to the probes: "\\.\pipe\quorvel-SECRET-NAME".
// False when the name does not begin with "\\.\pipe\" or the result does not
// fit.
bool pipeserverfullname(const char* secret, const char* pipename, std::array<char, 256>& full);

// The secret of the pipes that exist now, else nullptr.
const char* pipeserversecret();
