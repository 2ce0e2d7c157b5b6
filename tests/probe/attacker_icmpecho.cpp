// SPDX-License-Identifier: GPL-3.0-or-later
// What a local attacker would put beside a copy of zendrik that holds its
// capability: an echo library whose code runs as soon as it is loaded (it
// creates the file named by QUORVEL_ATTACKER_MARKER, where the test looks
// for it) and which answers every request as if the host were alive.
#include "icmpapi.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#define ATTACKER_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

__attribute__((constructor)) void leavemark() {
    const char* marker = std::getenv("QUORVEL_ATTACKER_MARKER");
    if (marker == nullptr) {
        return;
    }
    const int fd = open(marker, O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0) {
        close(fd);
    }
}

int handle;

} // namespace

ATTACKER_EXPORT icmphandle IcmpCreateFile() {
    return &handle;
}

ATTACKER_EXPORT int IcmpCloseHandle(icmphandle) {
    return 1;
}

ATTACKER_EXPORT std::uint32_t IcmpSendEcho(icmphandle, ipaddr destination, void*,
                                           std::uint16_t requestsize, IP_OPTION_INFORMATION*,
                                           void* replybuffer, std::uint32_t, std::uint32_t) {
    ICMP_ECHO_REPLY record{};
    record.Address = destination;
    record.DataSize = requestsize;
    std::memcpy(replybuffer, &record, sizeof record);
    return 1;
}
