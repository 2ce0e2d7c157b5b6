// SPDX-License-Identifier: GPL-3.0-or-later
#include "udpmagicsend_funcwg.h"

#include "udpsocket.h"

#include <algorithm>
#include <chrono>
#include <thread>

std::array<unsigned char, magicpacketsize> makemagicpacket(const unsigned char hwaddress[6]) {
    std::array<unsigned char, magicpacketsize> packet;
    std::fill_n(packet.begin(), 6, 0xFF);
    for (std::size_t copy = 0; copy < 16; ++copy) {
        std::copy_n(hwaddress, 6, packet.begin() + 6 + 6 * copy);
    }
    return packet;
}

int udpmagicsend(unsigned char address[4], const unsigned char hwaddress[6]) {
    // The host's network is taken as its first three octets, whatever the
    // real prefix length: a directed broadcast a.b.c.255.
    address[3] = 255;
    const auto packet = makemagicpacket(hwaddress);

    // No result is looked at: a failed start-up or socket makes the send
    // fail quietly, and the remaining steps run all the same.
    udpsocketstartup();
    const udpsockethandle socket = udpsocketopen();
    udpsocketsendto(socket, packet.data(), packet.size(), address, magicpacketport);
    udpsocketclose(socket);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    udpsocketcleanup();
    return 0;
}
