// SPDX-License-Identifier: GPL-3.0-or-later
#include "scannet.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

namespace {

constexpr unsigned short discardport = 9;

sockaddr_in socketaddress(const ipv4& ip, unsigned short port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    std::memcpy(&address.sin_addr.s_addr, ip.data(), 4); // dotted order = network order
    return address;
}

// The system's words for a Windows Sockets error, with its number.
std::string errortext(int error) {
    char text[256] = {};
    const DWORD n =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
    std::string words(text, n);
    while (!words.empty() &&
           (words.back() == '\n' || words.back() == '\r' || words.back() == '.')) {
        words.pop_back();
    }
    return (words.empty() ? "Windows Sockets error" : words) + " (" + std::to_string(error) + ")";
}

} // namespace

bool netstartup(std::string& why) {
    WSADATA data{};
    const int result = WSAStartup(MAKEWORD(2, 2), &data);
    if (result != 0) {
        why = "Windows Sockets did not start (error " + std::to_string(result) + ")";
        return false;
    }
    return true;
}

void netcleanup() {
    WSACleanup();
}

nudgesocket nudgeopen(std::string& why) {
    const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) {
        why = errortext(WSAGetLastError());
        return invalidnudgesocket;
    }
    return static_cast<nudgesocket>(s);
}

void nudgeclose(nudgesocket socket) {
    if (socket != invalidnudgesocket) {
        closesocket(static_cast<SOCKET>(socket));
    }
}

nudgeresult nudge(nudgesocket socket, const ipv4& ip, std::string& why) {
    const sockaddr_in address = socketaddress(ip, discardport);
    const char byte = 0;
    if (sendto(static_cast<SOCKET>(socket), &byte, 1, 0,
               reinterpret_cast<const sockaddr*>(&address), sizeof address) == 1) {
        return nudgeresult::sent;
    }
    const int error = WSAGetLastError();
    why = errortext(error);
    switch (error) {
    case WSAEWOULDBLOCK:
    case WSAENOBUFS:
    case WSAECONNRESET:
    case WSAECONNREFUSED:
    case WSAEHOSTUNREACH:
    case WSAENETRESET:
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
