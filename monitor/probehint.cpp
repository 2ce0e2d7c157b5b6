// Without the right to open an ICMP socket every probe fails in the same way
// and every host looks silent, which a user cannot tell from a dead network.
// One hint per run is enough: the cause does not change from cycle to cycle,
// and a hint every 20 seconds would drown everything else on the terminal.
#include "probehint.h"

#include "multiprcfuncwin.h"
#include "programsearch.h"

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

// The zendrik the cycle ran, so that the command in the hint can be pasted.
std::string probepath() {
    const std::string found = findprogram("zendrik.exe", programsearchdirs());
    return found.empty() ? "zendrik" : found;
}

} // namespace

bool hintprobeprivileges(int count, std::FILE* out) {
    if (hinted || !anyprobewithoutsocket(count)) {
        return false;
    }
    hinted = true;
    const std::string probe = probepath();
    std::fprintf(out,
                 "quorvel: zendrik could not open an ICMP socket (exit code 5), so no host can be "
                 "seen answering.\n"
                 "quorvel: allow it in one of two ways, as root:\n"
                 "quorvel:   give zendrik the capability: setcap cap_net_raw+p %s\n"
                 "quorvel:   or allow ping sockets to all groups: "
                 "sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"\n"
                 "quorvel: see quorvel(1), PRIVILEGES.\n",
                 probe.c_str());
    std::fflush(out);
    return true;
}
