// SPDX-License-Identifier: GPL-3.0-or-later
// zendrik's view of the socket library: start and stop it, read and write
// dotted IPv4 addresses, look up a host name. Addresses are 32-bit values in
// network byte order.
#pragma once

#include <array>
#include <cstdint>

inline constexpr std::uint32_t inaddrnone = 0xFFFFFFFFu;

// 0 when the socket library is ready for use.
int netstartup();
void netcleanup();

// The address written in dotted decimal (the platform's forms: one to four
// parts, decimal, octal or hexadecimal). inaddrnone when the text cannot be
// read, and also for "255.255.255.255".
std::uint32_t netinetaddr(const char* text);

struct hostrecord {
    std::array<char, 256> officialname{};
    std::uint32_t address = 0;
};

// Looks the name up; false when no IPv4 address is known for it.
bool netgethostbyname(const char* name, hostrecord& record);

// Dotted decimal without leading zeros.
std::array<char, 16> netinetntoa(std::uint32_t address);
