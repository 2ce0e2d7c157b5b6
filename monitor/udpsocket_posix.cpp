// SPDX-License-Identifier: GPL-3.0-or-later
#include "udpsocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

bool udpsocketstartup() {
    return true;
}

void udpsocketcleanup() {}

udpsockethandle udpsocketopen(bool broadcast) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return invalidudpsocket;
    }
    // Linux refuses every datagram to a broadcast address from a socket that
    // has not asked for it, and a.b.c.255 is one on any /24 network. Without
    // this no magic packet would ever leave, and nothing would show it.
    if (broadcast) {
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    }
    return fd;
}

long udpsocketsendto(udpsockethandle socket, const void* bytes, std::size_t count,
                     const unsigned char address[4], unsigned short port) {
    if (socket == invalidudpsocket) {
        return -1;
    }
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(port);
    std::memcpy(&destination.sin_addr.s_addr, address, 4); // octets in dotted order = network order
    ssize_t n;
    do {
        n = sendto(static_cast<int>(socket), bytes, count, 0,
                   reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

void udpsocketclose(udpsockethandle socket) {
    if (socket != invalidudpsocket) {
        close(static_cast<int>(socket));
    }
}

bool udpsocketfailurepasses(std::string& why) {
    const int error = errno;
    why = std::strerror(error);
    return error == EAGAIN || error == ENOBUFS || error == ECONNREFUSED || error == EHOSTUNREACH;
}
