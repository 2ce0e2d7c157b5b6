// What the Windows result pipe client adds to resultpipe.h: the full name it
// opens, which a test holds to the monitor's.
#pragma once

#include "resultpipe.h"

#include <array>

// The name of the monitor's pipe for a pipe name "\\.\pipe\NAME" and the
// secret from QUORVEL_PIPES: "\\.\pipe\quorvel-SECRET-NAME". False when there
// is no secret, it is not 32 lower-case hexadecimal digits, the name does not
// begin with "\\.\pipe\" or the result does not fit.
bool pipeclientfullname(const char* secret, const char* pipename, std::array<char, 256>& full);
