// SPDX-License-Identifier: GPL-3.0-or-later
#include "localnets.h"

#include <bit>
#include <cerrno>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

bool localaddresses(std::vector<ownaddress>& addresses, std::string& why) {
    addresses.clear();
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        why = std::strerror(errno);
        return false;
    }
    constexpr unsigned wanted = IFF_UP | IFF_RUNNING;
    constexpr unsigned unwanted = IFF_LOOPBACK | IFF_POINTOPOINT | IFF_NOARP;
    for (const ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_netmask == nullptr ||
            i->ifa_addr->sa_family != AF_INET || (i->ifa_flags & wanted) != wanted ||
            (i->ifa_flags & unwanted) != 0) {
            continue;
        }
        sockaddr_in address{};
        sockaddr_in mask{};
        std::memcpy(&address, i->ifa_addr, sizeof address);
        std::memcpy(&mask, i->ifa_netmask, sizeof mask);
        ownaddress own;
        std::memcpy(own.ip.data(), &address.sin_addr.s_addr, 4); // network order = dotted order
        own.prefix = std::popcount(static_cast<std::uint32_t>(mask.sin_addr.s_addr));
        addresses.push_back(own);
    }
    freeifaddrs(list);
    return true;
}
