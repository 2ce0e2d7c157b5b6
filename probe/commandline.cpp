// SPDX-License-Identifier: GPL-3.0-or-later
#include "commandline.h"

#include <climits>
#include <cstring>

namespace {

bool isspacechar(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isoptionword(const char* word) {
    return word[0] == '-' || word[0] == '/';
}

// A host text that does not fit is refused, never cut: a cut address is
// another host.
bool sethosttext(const char* value, probesettings& settings) {
    const std::size_t length = strnlen(value, settings.hosttext.size());
    if (length >= settings.hosttext.size()) {
        return false;
    }
    settings.hosttext.fill('\0');
    std::memcpy(settings.hosttext.data(), value, length);
    return true;
}

} // namespace

std::int32_t decimalvalue(const char* text) {
    while (isspacechar(*text)) {
        ++text;
    }
    const bool negative = (*text == '-');
    if (*text == '-' || *text == '+') {
        ++text;
    }
    long long value = 0;
    for (; *text >= '0' && *text <= '9'; ++text) {
        value = value * 10 + (*text - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) {
            value = static_cast<long long>(INT_MAX) + 1;
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > INT_MAX) {
        return INT_MAX;
    }
    return static_cast<std::int32_t>(value);
}

bool readcommandline(int argc, const char* const argv[], probesettings& settings) {
    for (int k = 1; k < argc; ++k) {
        const char* word = argv[k];
        if (!isoptionword(word)) {
            return false;
        }
        const char option = word[1];
        if (option != 'i' && option != 'h' && option != 't') {
            continue;
        }
        if (k + 1 >= argc) {
            return false;
        }
        const char* value = argv[++k];
        if (option == 'i') {
            settings.pipeindex = decimalvalue(value);
        } else if (option == 't') {
            settings.timeout = decimalvalue(value);
        } else if (!sethosttext(value, settings)) {
            return false;
        }
    }
    return true;
}
