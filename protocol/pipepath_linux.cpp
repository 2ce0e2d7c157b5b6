// SPDX-License-Identifier: GPL-3.0-or-later
#include "pipepath_linux.h"

#include <cstddef>
#include <cstdio>
#include <cstring>

socklen_t pipeaddress(const char* directory, const char* pipename, sockaddr_un* address) {
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    if (directory == nullptr || directory[0] != '/' || std::strchr(pipename, '/') != nullptr) {
        return 0;
    }
    const int n =
        std::snprintf(address->sun_path, sizeof address->sun_path, "%s/%s", directory, pipename);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof address->sun_path) {
        std::memset(address->sun_path, 0, sizeof address->sun_path);
        return 0;
    }
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + n + 1);
}
