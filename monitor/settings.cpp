// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings.h"

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string_view>

std::int32_t timeoutmsec;
std::int32_t cpcintervalmsec;
std::int32_t onerecvmsec;
std::int32_t onerecvusec;
std::int32_t recvloops;
char hostlistfile[20];
std::int32_t notifychanges;

void setdefaults() {
    onerecvmsec = 20;
    recvloops = 50;
    timeoutmsec = 1000;
    cpcintervalmsec = 20;
    notifychanges = 0;
    std::snprintf(hostlistfile, sizeof hostlistfile, "%s", "./hostlist");
    hostlistfile[sizeof hostlistfile - 1] = '\0';
}

namespace {

// Reads a value the way atoi does (leading blanks, a sign, then as many
// decimal digits as there are; no digits give 0), except that a value beyond
// the range of the setting stays at the nearest end of that range instead of
// wrapping around to some unrelated number.
std::int32_t optionvalue(const char* word) {
    const long value = std::strtol(word, nullptr, 10);
    if (value > INT32_MAX) {
        return INT32_MAX;
    }
    if (value < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<std::int32_t>(value);
}

// Both '-' and '/' introduce an option; they differ only in bit 0x02.
bool isoptionword(std::string_view word) {
    return !word.empty() && (word[0] & ~0x02) == '-';
}

// The setting an option letter names, or none for a letter we do not know.
std::int32_t* settingfor(char letter) {
    switch (letter) {
    case 'o':
        return &onerecvmsec;
    case 'r':
        return &recvloops;
    case 't':
        return &timeoutmsec;
    case 'c':
        return &cpcintervalmsec;
    default:
        return nullptr;
    }
}

} // namespace

int parsecommandline(std::span<char* const> args) {
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string_view word = args[i] != nullptr ? args[i] : "";
        if (!isoptionword(word)) {
            return -1;
        }
        const char letter = word.size() > 1 ? word[1] : '\0';
        // "-n" is a word of its own: it takes no value, so a word after it
        // is looked at as an option word like any other.
        if (letter == 'n') {
            notifychanges = 1;
            continue;
        }
        std::int32_t* setting = settingfor(letter);
        if (setting == nullptr) {
            continue;
        }
        // An option that wants a value but comes last has none to take.
        if (i + 1 >= args.size() || args[i + 1] == nullptr) {
            return -1;
        }
        *setting = optionvalue(args[++i]);
    }
    return 0;
}

void derivesettings() {
    // Computed in 64 bits and kept within range: a large "-o" value must not
    // overflow the product.
    const long long usec = static_cast<long long>(onerecvmsec) * 1000;
    onerecvusec = static_cast<std::int32_t>(usec > INT32_MAX   ? INT32_MAX
                                            : usec < INT32_MIN ? INT32_MIN
                                                               : usec);
}
