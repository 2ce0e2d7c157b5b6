// SPDX-License-Identifier: GPL-3.0-or-later
#include "platformfacts.h"

#include "pipename.h"
#include "pipeserver.h"

const char pathlistseparator = ':';
const char programfileending[] = "";

// The pipes of this process share one directory while any exists: holding
// the name makes the cycle's own bind of it fail.
pipecreationfault::pipecreationfault(int index)
    : pipe_(pipeservercreate(resultpipename(index).c_str())) {}

pipecreationfault::~pipecreationfault() {
    pipeserverclose(pipe_);
}

bool pipecreationfault::armed() const {
    return pipe_ != invalidpipehandle;
}
