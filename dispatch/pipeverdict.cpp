// SPDX-License-Identifier: GPL-3.0-or-later
#include "pipeverdict.h"

#include "protocol.h"

#include <cstring>

int pipeverdict(char (&text)[pipereadsize + 1], long received) {
    if (received < 0 || received > static_cast<long>(pipereadsize)) {
        received = 0;
    }
    text[received] = '\0';
    // The word's terminating zero is compared too: six bytes in all.
    return std::memcmp(text, verdictalive, sizeof verdictalive) == 0 ? 1 : 0;
}
