// SPDX-License-Identifier: GPL-3.0-or-later
// zendrik's ping log: messages of any text appended to it, and the verdict
// read from it. Input: one byte giving the host text's length (at most 15),
// the host text, then messages separated by zero bytes.
#include "fuzzcheck.h"
#include "pingonece_funcwin.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t hostlength = std::min<std::size_t>(data[0] % 16, size - 1);
    char host[16] = {};
    std::memcpy(host, data + 1, hostlength);
    pinglogbuffer pinglog{};
    std::string message;
    for (std::size_t k = 1 + hostlength; k <= size; ++k) {
        if (k < size && data[k] != 0) {
            message += static_cast<char>(data[k]);
            continue;
        }
        const std::string before(pinglog.data());
        if (!message.empty() && message[0] == '#') {
            // "#" and a number: the class of that error or status code.
            PIcmpErr(static_cast<std::uint32_t>(std::strtoul(message.c_str() + 1, nullptr, 10)),
                     pinglog);
        } else {
            pinglogappend(pinglog, "%s", message.c_str());
        }
        message.clear();
        // An append only ever adds at the end, and the log stays a C string
        // of at most 4095 characters.
        FUZZCHECK(pinglog.back() == '\0');
        FUZZCHECK(std::strncmp(pinglog.data(), before.c_str(), before.size()) == 0);
    }
    const bool alive = pinglogsaysalive(pinglog, host);
    char line[256];
    std::snprintf(line, sizeof line, "Got Ping-Reply from %s:  (32 Bytes)", host);
    const char* log = pinglog.data();
    const bool clean = std::strstr(log, "failed") == nullptr &&
                       std::strstr(log, "invalid") == nullptr && std::strstr(log, "err") == nullptr;
    FUZZCHECK(alive == (std::strstr(log, line) != nullptr && clean));
    return 0;
}
