// SPDX-License-Identifier: GPL-3.0-or-later
// zendrik's command line: which result pipe to report into ("-i"), which host
// to ping ("-h") and how long to wait for its reply ("-t").
#pragma once

#include <array>
#include <cstdint>

struct probesettings {
    std::int32_t pipeindex = 99;
    std::int32_t timeout = 300;
    // At most 15 characters and their NUL; the rest of the field is NUL too.
    std::array<char, 16> hosttext{"192.168.0.1"};
};

// Reads the words after the program name into settings. False when the line
// is malformed: a word where an option word belongs that does not begin with
// "-" or "/", an option without its value word, or a host text that does not
// fit its field. Never looks at argv[argc] or beyond.
bool readcommandline(int argc, const char* const argv[], probesettings& settings);

// The leading decimal number of a text: white space, an optional sign, then
// digits up to the first other character; 0 without digits. Values beyond
// the 32-bit range stop at its ends.
std::int32_t decimalvalue(const char* text);
