// SPDX-License-Identifier: GPL-3.0-or-later
// On POSIX the socket library needs no start or stop; the rest maps onto the
// C library's resolver and address functions.
#include "netaddr.h"

#include <arpa/inet.h>
#include <cstdio>
#include <netdb.h>
#include <sys/socket.h>

int netstartup() {
    return 0;
}

void netcleanup() {}

std::uint32_t netinetaddr(const char* text) {
    return inet_addr(text);
}

bool netgethostbyname(const char* name, hostrecord& record) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_RAW;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr) {
        return false;
    }
    const char* official = found->ai_canonname != nullptr ? found->ai_canonname : name;
    std::snprintf(record.officialname.data(), record.officialname.size(), "%s", official);
    record.officialname.back() = '\0';
    record.address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(found);
    return true;
}

std::array<char, 16> netinetntoa(std::uint32_t address) {
    std::array<char, 16> text{};
    in_addr in{};
    in.s_addr = address;
    inet_ntop(AF_INET, &in, text.data(), text.size());
    return text;
}
