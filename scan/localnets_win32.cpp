// SPDX-License-Identifier: GPL-3.0-or-later
#include "localnets.h"

// iphlpapi.h needs the socket headers first.
#include <winsock2.h>
#include <ws2ipdef.h>

#include <iphlpapi.h>

#include <cstring>
#include <vector>

bool localaddresses(std::vector<ownaddress>& addresses, std::string& why) {
    addresses.clear();
    constexpr ULONG flags =
        GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    // The list may grow between asking its size and reading it: a few tries.
    std::vector<unsigned char> buffer(16 * 1024);
    ULONG size = static_cast<ULONG>(buffer.size());
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 4 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        result = GetAdaptersAddresses(
            AF_INET, flags, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (result == ERROR_NO_DATA) {
        return true;
    }
    if (result != NO_ERROR) {
        why = "GetAdaptersAddresses failed with error " + std::to_string(result);
        return false;
    }
    for (auto* a = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()); a != nullptr;
         a = a->Next) {
        // Wired and wireless Ethernet resolve neighbours by ARP; loopback,
        // tunnels and dial-up links do not.
        const bool lan = a->IfType == IF_TYPE_ETHERNET_CSMACD || a->IfType == IF_TYPE_IEEE80211;
        if (a->OperStatus != IfOperStatusUp || !lan) {
            continue;
        }
        for (const IP_ADAPTER_UNICAST_ADDRESS* u = a->FirstUnicastAddress; u != nullptr;
             u = u->Next) {
            const SOCKADDR* raw = u->Address.lpSockaddr;
            if (raw == nullptr || raw->sa_family != AF_INET) {
                continue;
            }
            sockaddr_in address{};
            std::memcpy(&address, raw, sizeof address);
            ownaddress own;
            std::memcpy(own.ip.data(), &address.sin_addr.s_addr, 4); // network order = dotted
            own.prefix = u->OnLinkPrefixLength;
            addresses.push_back(own);
        }
    }
    return true;
}
