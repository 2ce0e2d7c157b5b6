// SPDX-License-Identifier: GPL-3.0-or-later
#include "pipepath.h"

#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

constexpr std::string_view pipeprefix = "\\\\.\\pipe\\";

bool validsecret(const char* secret) {
    if (secret == nullptr || std::strlen(secret) != pipesecretlength) {
        return false;
    }
    for (const char* c = secret; *c != '\0'; ++c) {
        if (!((*c >= '0' && *c <= '9') || (*c >= 'a' && *c <= 'f'))) {
            return false;
        }
    }
    return true;
}

} // namespace

bool pipefullname(const char* secret, const char* pipename,
                  std::array<char, protocoltextsize>& full) {
    full.fill('\0');
    const std::string_view name = pipename;
    if (!validsecret(secret) || !name.starts_with(pipeprefix)) {
        return false;
    }
    const std::string_view rest = name.substr(pipeprefix.size());
    const int n = std::snprintf(full.data(), full.size(), "%.*squorvel-%s-%.*s",
                                static_cast<int>(pipeprefix.size()), pipeprefix.data(), secret,
                                static_cast<int>(rest.size()), rest.data());
    if (n < 0 || static_cast<std::size_t>(n) >= full.size()) {
        full.fill('\0');
        return false;
    }
    return true;
}
