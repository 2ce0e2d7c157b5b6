// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostlist.h"

#include "regularfile.h"
#include "settings.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <optional>
#include <sstream>
#include <string>

HostEntry dolist[hosttablerows];
std::int32_t hostnum;

namespace {

// A line is read in pieces of at most this many characters, newline included.
constexpr std::size_t linepiece = 999;
// A host list of 32 lines takes a few kilobytes. Reading stops after this
// much all the same, so that a file that grows without end cannot hold up
// the start-up for ever.
constexpr std::size_t mostlistbytes = std::size_t{16} * 1024 * 1024;
// Digits of one number beyond this many are refused rather than cut.
constexpr std::size_t numbertextmax = 9;
// Labels of this length or longer are cut to fit a button.
constexpr std::size_t labelcut = 7;

constexpr std::string_view separators = " \t";

// The next token after skipping separators; empty when the line has no more.
std::string_view nexttoken(std::string_view& rest) {
    const std::size_t start = rest.find_first_not_of(separators);
    if (start == std::string_view::npos) {
        rest = {};
        return {};
    }
    rest.remove_prefix(start);
    const std::size_t end = std::min(rest.find_first_of(separators), rest.size());
    const std::string_view token = rest.substr(0, end);
    rest.remove_prefix(end);
    return token;
}

bool isdecimal(char c) {
    return c >= '0' && c <= '9';
}

int hexvalue(char c) {
    if (isdecimal(c)) {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// The run of digits at the start of text, by the given digit test.
template <typename Isdigit> std::string_view digitrun(std::string_view text, Isdigit isdigit) {
    std::size_t n = 0;
    while (n < text.size() && isdigit(text[n])) {
        ++n;
    }
    return text.substr(0, n);
}

// The low 8 bits of a number of at most nine digits. Hexadecimal values stop
// at the largest signed 32-bit value, as the hardware address has always been
// read. A longer number does not fit the number text and gives nothing.
std::optional<std::uint8_t> lowbyte(std::string_view run, int base) {
    if (run.size() > numbertextmax) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : run) {
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(hexvalue(c));
    }
    value = std::min<std::uint64_t>(value, INT32_MAX);
    return static_cast<std::uint8_t>(value & 0xff);
}

// Four decimal numbers, each followed by exactly one character of any kind.
bool readaddress(std::string_view token, std::array<std::uint8_t, 4>& ip) {
    std::size_t p = 0;
    for (std::size_t k = 0; k < ip.size(); ++k) {
        if (p >= token.size() || !isdecimal(token[p])) {
            return false;
        }
        const std::string_view run = digitrun(token.substr(p), isdecimal);
        const std::optional<std::uint8_t> octet = lowbyte(run, 10);
        if (!octet) {
            return false;
        }
        ip[k] = *octet;
        p += run.size() + 1;
    }
    return true;
}

// Six hexadecimal numbers of two digits or more, each followed by exactly one
// character of any kind.
bool readhardwareaddress(std::string_view token, std::array<std::uint8_t, 6>& mac) {
    std::size_t p = 0;
    for (std::size_t k = 0; k < mac.size(); ++k) {
        if (p >= token.size()) {
            return false;
        }
        const std::string_view run =
            digitrun(token.substr(p), [](char c) { return hexvalue(c) >= 0; });
        if (run.size() < 2) {
            return false;
        }
        const std::optional<std::uint8_t> octet = lowbyte(run, 16);
        if (!octet) {
            return false;
        }
        mac[k] = *octet;
        p += run.size() + 1;
    }
    return true;
}

void storelabel(std::string_view label, HostEntry& row) {
    if (label.size() >= labelcut) {
        std::memcpy(row.hostname, label.data(), labelcut - 1);
        row.hostname[labelcut - 1] = '.';
        row.hostname[labelcut] = '\0';
    } else {
        std::memcpy(row.hostname, label.data(), label.size());
        row.hostname[label.size()] = '\0';
    }
    row.hostname[sizeof row.hostname - 1] = '\0';
}

// Reads the next piece of a line as fgets would into a buffer of
// linepiece + 1 bytes: up to and including the newline, at most linepiece
// characters. Ends at a NUL byte inside the piece just as a C string would.
// Returns false at the end of the input or on a read error.
bool readpiece(std::istream& in, std::string& piece) {
    piece.clear();
    while (piece.size() < linepiece) {
        const int c = in.get();
        if (c == std::char_traits<char>::eof()) {
            break;
        }
        piece.push_back(static_cast<char>(c));
        if (c == '\n') {
            break;
        }
    }
    return !piece.empty();
}

} // namespace

bool parsehostline(std::string_view line, HostEntry& row) {
    line = line.substr(0, line.find('\0'));
    std::string_view rest = line;
    const std::string_view label = nexttoken(rest);
    if (label.empty()) {
        return false;
    }
    storelabel(label, row);
    const std::string_view address = nexttoken(rest);
    if (address.empty() || !readaddress(address, row.ip)) {
        return false;
    }
    const std::string_view hardware = nexttoken(rest);
    return !hardware.empty() && readhardwareaddress(hardware, row.mac);
}

int readlistfrom(std::istream& in) {
    std::int32_t n = 0;
    std::string piece;
    piece.reserve(linepiece);
    for (std::size_t taken = 0; n < maxhosts && taken < mostlistbytes && readpiece(in, piece);
         taken += piece.size()) {
        if (parsehostline(piece, dolist[n])) {
            ++n;
        }
    }
    hostnum = n;
    return 1;
}

int readlist() {
    // Only a regular file is read: opening a FIFO would wait for a writer,
    // and a device such as /dev/zero never ends. The last piece may reach a
    // line's length past the limit, as it does when the file is read piece
    // by piece.
    std::string content;
    if (!readregularfile(hostlistfile, mostlistbytes + linepiece + 1, content)) {
        return -1;
    }
    std::istringstream in(std::move(content));
    return readlistfrom(in);
}

std::string addresstext(std::span<const std::uint8_t, 4> ip) {
    return std::to_string(ip[0]) + '.' + std::to_string(ip[1]) + '.' + std::to_string(ip[2]) + '.' +
           std::to_string(ip[3]);
}

std::string hardwareaddresstext(std::span<const std::uint8_t, 6> mac) {
    char text[20];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}
