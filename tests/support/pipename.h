// SPDX-License-Identifier: GPL-3.0-or-later
// The name of result pipe `index`, as both programs form it.
#pragma once

#include "protocol.h"

#include <string>

inline std::string resultpipename(int index) {
    char name[protocoltextsize];
    formatpipename(index, name);
    return name;
}
