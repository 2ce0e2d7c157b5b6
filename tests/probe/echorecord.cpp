// SPDX-License-Identifier: GPL-3.0-or-later
// Test tool: one echo through an echo library, as zendrik makes it, and the
// outcome printed as one line: the number of replies and, for a reply, the
// first record's Address, Status and DataSize, else the last error.
//
//   probe_echorecord LIBRARY HOST TIMEOUT
//   -> replies=1 address=10.200.1.2 status=0 datasize=32
//   -> replies=0 lasterror=11010
//
// Exit code 0, or 2 when the library cannot be used, 5 when no echo handle
// can be opened.
#include "icmpapi.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>

int main(int argc, char* argv[]) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s LIBRARY HOST TIMEOUT\n", argv[0]);
        return 2;
    }
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        std::fprintf(stderr, "%s\n", dlerror());
        return 2;
    }
    auto create = reinterpret_cast<icmpcreatefilefn>(dlsym(library, "IcmpCreateFile"));
    auto close = reinterpret_cast<icmpclosehandlefn>(dlsym(library, "IcmpCloseHandle"));
    auto send = reinterpret_cast<icmpsendechofn>(dlsym(library, "IcmpSendEcho"));
    in_addr host{};
    if (!create || !close || !send || inet_pton(AF_INET, argv[2], &host) != 1) {
        std::fprintf(stderr, "entry point missing or host not an address\n");
        return 2;
    }
    const icmphandle handle = create();
    if (handle == icmpinvalidhandle()) {
        std::printf("handle=invalid lasterror=%d\n", errno);
        return 5;
    }
    char request[32];
    for (int k = 0; k < 32; ++k) {
        request[k] = static_cast<char>(0x20 + k);
    }
    IP_OPTION_INFORMATION options{};
    options.Ttl = 64;
    alignas(ICMP_ECHO_REPLY) static unsigned char reply[8232];
    const std::uint32_t replies = send(handle, host.s_addr, request, sizeof request, &options,
                                       reply, sizeof reply, std::strtoul(argv[3], nullptr, 10));
    const int error = errno;
    if (replies == 0) {
        std::printf("replies=0 lasterror=%d\n", error);
    } else {
        ICMP_ECHO_REPLY record;
        std::memcpy(&record, reply, sizeof record);
        in_addr from{};
        from.s_addr = record.Address;
        std::printf("replies=%u address=%s status=%u datasize=%u\n", replies, inet_ntoa(from),
                    record.Status, record.DataSize);
    }
    close(handle);
    dlclose(library);
    return 0;
}
