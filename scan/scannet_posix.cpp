// SPDX-License-Identifier: GPL-3.0-or-later
#include "scannet.h"

#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr unsigned short discardport = 9;

sockaddr_in socketaddress(const ipv4& ip, unsigned short port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    std::memcpy(&address.sin_addr.s_addr, ip.data(), 4); // dotted order = network order
    return address;
}

} // namespace

bool netstartup(std::string& /*why*/) {
    return true;
}

void netcleanup() {}

nudgesocket nudgeopen(std::string& why) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        why = std::strerror(errno);
        return invalidnudgesocket;
    }
    return fd;
}

void nudgeclose(nudgesocket socket) {
    if (socket != invalidnudgesocket) {
        close(static_cast<int>(socket));
    }
}

nudgeresult nudge(nudgesocket socket, const ipv4& ip, std::string& why) {
    const sockaddr_in address = socketaddress(ip, discardport);
    const char byte = 0;
    ssize_t n;
    do {
        n = sendto(static_cast<int>(socket), &byte, 1, 0,
                   reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } while (n < 0 && errno == EINTR);
    if (n == 1) {
        return nudgeresult::sent;
    }
    why = std::strerror(errno);
    switch (errno) {
    case EAGAIN:
    case ENOBUFS:
    case ECONNREFUSED:
    case EHOSTUNREACH:
        return nudgeresult::later;
    default:
        return nudgeresult::refused;
    }
}

std::string reversename(const ipv4& ip) {
    const sockaddr_in address = socketaddress(ip, 0);
    char name[NI_MAXHOST] = {};
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&address), sizeof address, name, sizeof name,
                    nullptr, 0, NI_NAMEREQD) != 0) {
        return {};
    }
    return name;
}

std::string machinename() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    return name;
}
