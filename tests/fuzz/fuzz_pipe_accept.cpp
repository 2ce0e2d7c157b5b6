// SPDX-License-Identifier: GPL-3.0-or-later
// Which connections a result pipe takes. The input is the probe's process id
// and the monitor's user, then one connection after another (the pid and
// the user the system reports for each), in the order they arrive on one
// pipe. Whatever arrives, at most one is taken: the first from the probe
// itself under the monitor's user; nothing when there is no probe.
#include "fuzzcheck.h"
#include "pipeaccept.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// The next four bytes as a number; fewer left are taken as they are, so that
// every call uses up input.
long takeint(const std::uint8_t*& data, std::size_t& size) {
    std::int32_t value = 0;
    const std::size_t taken = std::min(size, sizeof value);
    if (taken == 0) {
        return value; // an empty input may come with no buffer at all
    }
    std::memcpy(&value, data, taken);
    data += taken;
    size -= taken;
    return value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const long probepid = takeint(data, size);
    const long monitoruid = takeint(data, size);
    bool taken = false;
    bool probehasspoken = false;
    while (size > 0) {
        pipepeer peer;
        peer.pid = takeint(data, size);
        peer.uid = takeint(data, size);
        const bool fromprobe = probepid > 0 && peer.pid == probepid && peer.uid == monitoruid;
        const bool accepted = pipeacceptable(peer, probepid, monitoruid, taken);
        FUZZCHECK(!accepted || fromprobe);
        FUZZCHECK(accepted == (fromprobe && !probehasspoken));
        FUZZCHECK(!(accepted && taken));
        probehasspoken = probehasspoken || fromprobe;
        taken = taken || accepted;
    }
    FUZZCHECK(taken == probehasspoken);
    return 0;
}
