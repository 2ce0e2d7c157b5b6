// SPDX-License-Identifier: GPL-3.0-or-later
// Without the right to open an ICMP socket every probe fails in the same way
// and every host looks silent, which a user cannot tell from a dead network.
// One hint per run is enough: the cause does not change from cycle to cycle,
// and a hint every 20 seconds would drown everything else on the terminal.
// What the user can do about it depends on the system; the platform's file
// says that part.
#include "probehint.h"

#include "multiprcfuncwin.h"

#include <algorithm>
#include <string>

namespace {

bool hinted = false;

bool anyprobewithoutsocket(int count) {
    const int hosts = std::clamp(count, 0, multiprcmaxhosts);
    for (int i = 0; i < hosts; ++i) {
        if (multiprclastexitcode(i) == noicmpsocketexitcode) {
            return true;
        }
    }
    return false;
}

} // namespace

bool hintprobeprivileges(int count, std::FILE* out) {
    if (hinted || !anyprobewithoutsocket(count)) {
        return false;
    }
    hinted = true;
    const std::string advice = probeprivilegeadvice();
    std::fprintf(out,
                 "quorvel: zendrik could not open an ICMP socket (exit code 5), so no host can be "
                 "seen answering.\n"
                 "%s",
                 advice.c_str());
    std::fflush(out);
    return true;
}
