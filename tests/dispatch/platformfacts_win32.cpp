// SPDX-License-Identifier: GPL-3.0-or-later
#include "platformfacts.h"

#include "pipeserver_win32.h"

#include <array>

const char pathlistseparator = ';';
const char programfileending[] = ".exe";

namespace {

// The draws still to come before the one that fails; below 0 once it has
// failed.
int drawsbeforefailure = -1;

bool failingdraw(std::array<char, pipesecretlength + 1>& secret) {
    return drawsbeforefailure-- != 0 && pipeserverrandomsecret(secret);
}

} // namespace

// Each pipe draws one secret when no one holds its name: the draw of pipe
// `index` is the (index + 1)th from now.
pipecreationfault::pipecreationfault(int index) : pipe_(index) {
    drawsbeforefailure = index;
    pipeserversetsecretdraw(failingdraw);
}

pipecreationfault::~pipecreationfault() {
    pipeserversetsecretdraw(nullptr);
}

bool pipecreationfault::armed() const {
    return pipe_ >= 0;
}
