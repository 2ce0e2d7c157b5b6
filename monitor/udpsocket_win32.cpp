// SPDX-License-Identifier: GPL-3.0-or-later
// The Wake-on-LAN sender's socket on Windows Sockets, which must be started
// (version 2.2) before a socket can be opened and stopped after.
#include "udpsocket.h"

#include <winsock2.h>

#include <cstring>
#include <string>

bool udpsocketstartup() {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void udpsocketcleanup() {
    WSACleanup();
}

udpsockethandle udpsocketopen(bool broadcast) {
    const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) {
        return invalidudpsocket;
    }
    // A datagram to a.b.c.255, a broadcast address on any /24 network, is
    // refused from a socket that has not asked for broadcasts.
    if (broadcast) {
        const BOOL on = TRUE;
        setsockopt(s, SOL_SOCKET, SO_BROADCAST, reinterpret_cast<const char*>(&on), sizeof on);
    }
    return static_cast<udpsockethandle>(s);
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
    const int n = sendto(static_cast<SOCKET>(socket), static_cast<const char*>(bytes),
                         static_cast<int>(count), 0,
                         reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
    return n == SOCKET_ERROR ? -1 : static_cast<long>(n);
}

void udpsocketclose(udpsockethandle socket) {
    if (socket != invalidudpsocket) {
        closesocket(static_cast<SOCKET>(socket));
    }
}

bool udpsocketfailurepasses(std::string& why) {
    const int error = WSAGetLastError();
    char text[256] = {};
    const DWORD n =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
    std::string words(text, n);
    while (!words.empty() &&
           (words.back() == '\n' || words.back() == '\r' || words.back() == '.')) {
        words.pop_back();
    }
    why = (words.empty() ? "Windows Sockets error" : words) + " (" + std::to_string(error) + ")";
    switch (error) {
    case WSAEWOULDBLOCK:
    case WSAENOBUFS:
    case WSAECONNRESET:
    case WSAECONNREFUSED:
    case WSAEHOSTUNREACH:
    case WSAENETRESET:
        return true;
    default:
        return false;
    }
}
