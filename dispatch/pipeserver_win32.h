// What the Windows result pipes add to pipeserver.h: the secret in the pipes'
// names, for the tests that look at them from outside.
#pragma once

#include "pipeserver.h"

// The secret of the pipes that exist now, else nullptr.
const char* pipeserversecret();
