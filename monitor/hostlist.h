// SPDX-License-Identifier: GPL-3.0-or-later
// The host table: the hosts the monitor watches, read once from the host list file.
#pragma once

#include <array>
#include <cstdint>
#include <istream>
#include <span>
#include <string>
#include <string_view>

struct HostEntry {
    char hostname[100];             // the label shown on the host's button
    std::array<std::uint8_t, 4> ip; // dotted order: ip[0] is the first number written
    std::array<std::uint8_t, 6> mac;
    std::int32_t status; // 1 when the host answered in the last probe cycle
};

// Room in the table, and the number of hosts the window has buttons for.
inline constexpr int hosttablerows = 300;
inline constexpr int maxhosts = 32;

extern HostEntry dolist[hosttablerows];
extern std::int32_t hostnum;

// Reads the file named by hostlistfile into dolist and sets hostnum.
// Returns 1 once the file has been read, -1 when it cannot be opened or is no
// regular file (the table is then left as it was).
int readlist();

// The same reading from any stream: rows 0.. of dolist and hostnum. Stops at
// the end, at the 32nd host, or after 16 MiB. Returns 1.
int readlistfrom(std::istream& in);

// Parses one line (as read, newline included) into the row. Returns true when
// the line is an acceptable host line; a rejected line may have written into
// the row, as the next accepted line overwrites every field it touches.
bool parsehostline(std::string_view line, HostEntry& row);

// Addresses as the host list writes them: "192.0.2.10", "52:54:00:12:34:56".
std::string addresstext(std::span<const std::uint8_t, 4> ip);
std::string hardwareaddresstext(std::span<const std::uint8_t, 6> mac);
