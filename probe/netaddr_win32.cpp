// SPDX-License-Identifier: GPL-3.0-or-later
// Windows Sockets must be started (version 2.2) before its address and name
// functions answer, and stopped again after.
#include "netaddr.h"

#include <winsock2.h>

#include <cstdio>
#include <cstring>

int netstartup() {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data) == 0 ? 0 : -1;
}

void netcleanup() {
    WSACleanup();
}

std::uint32_t netinetaddr(const char* text) {
    return inet_addr(text);
}

bool netgethostbyname(const char* name, hostrecord& record) {
    const hostent* found = gethostbyname(name);
    if (found == nullptr || found->h_addrtype != AF_INET || found->h_length != 4 ||
        found->h_addr_list == nullptr || found->h_addr_list[0] == nullptr) {
        return false;
    }
    const char* official = found->h_name != nullptr ? found->h_name : name;
    std::snprintf(record.officialname.data(), record.officialname.size(), "%s", official);
    record.officialname.back() = '\0';
    std::memcpy(&record.address, found->h_addr_list[0], sizeof record.address);
    return true;
}

std::array<char, 16> netinetntoa(std::uint32_t address) {
    std::array<char, 16> text{};
    in_addr in{};
    in.s_addr = address;
    // inet_ntoa's buffer belongs to the thread and is copied at once.
    const char* dotted = inet_ntoa(in);
    std::snprintf(text.data(), text.size(), "%s", dotted != nullptr ? dotted : "");
    return text;
}
