// SPDX-License-Identifier: GPL-3.0-or-later
// The monitor's judging of the bytes received from a result pipe. The input
// is what one read received; a count beyond the read's size stands for a
// read that went wrong.
#include "fuzzcheck.h"
#include "pipeverdict.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    char text[pipereadsize + 1];
    std::memset(text, 'z', sizeof text);
    if (size > 0) {
        std::memcpy(text, data, std::min(size, pipereadsize));
    }
    const long received = static_cast<long>(size);
    const int verdict = pipeverdict(text, received);
    // Alive is the five letters and nothing more, or a zero byte after them.
    const bool counted = size <= pipereadsize;
    const bool alive =
        counted && size >= 5 && std::memcmp(data, "alive", 5) == 0 && (size == 5 || data[5] == 0);
    FUZZCHECK(verdict == (alive ? 1 : 0));
    FUZZCHECK(text[counted ? size : 0] == '\0');
    return 0;
}
