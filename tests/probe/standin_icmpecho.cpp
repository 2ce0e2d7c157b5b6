// SPDX-License-Identifier: GPL-3.0-or-later
// A scripted stand-in for the ICMP echo library: it sends nothing and answers
// as the test tells it through the environment variable ICMPECHO_STANDIN, a
// list of key=value items separated by ';':
//
//   create=fail:<code>   IcmpCreateFile gives the invalid handle, last error <code>
//                        (standinerror.h says where a last error is left)
//   replies=<n>          IcmpSendEcho returns n (default 1); 0 stores nothing
//   error=<code>         last error when no reply is stored (default 11010)
//   from=<a.b.c.d>       the record's Address (default: the destination)
//   status=<n>           the record's Status (default 0)
//   size=<n>             the record's DataSize (default: the request's size)
//   close=fail:<code>    IcmpCloseHandle fails with last error <code>
//   log=<path>           every call appends one line about itself to <path>
//
// Built once complete and once without each entry point (STANDIN_WITHOUT_*),
// each beside its own copy of zendrik.
#include "icmpapi.h"
#include "standinerror.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#define STANDIN_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::string scriptvalue(std::string_view key) {
    const char* script = std::getenv("ICMPECHO_STANDIN");
    if (script == nullptr) {
        return {};
    }
    std::string_view rest(script);
    while (!rest.empty()) {
        const std::size_t end = rest.find(';');
        const std::string_view item = rest.substr(0, end);
        if (item.size() > key.size() && item.substr(0, key.size()) == key &&
            item[key.size()] == '=') {
            return std::string(item.substr(key.size() + 1));
        }
        rest = (end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1));
    }
    return {};
}

[[maybe_unused]] long scriptnumber(std::string_view key, long fallback) {
    const std::string value = scriptvalue(key);
    return value.empty() ? fallback : std::strtol(value.c_str(), nullptr, 0);
}

// "fail:<code>" gives the code, anything else -1.
long failurecode(std::string_view key) {
    const std::string value = scriptvalue(key);
    if (value.rfind("fail:", 0) != 0) {
        return -1;
    }
    return std::strtol(value.c_str() + 5, nullptr, 0);
}

void logline(const std::string& line) {
    const std::string path = scriptvalue("log");
    if (path.empty()) {
        return;
    }
    if (std::FILE* file = std::fopen(path.c_str(), "a")) {
        std::fputs(line.c_str(), file);
        std::fputc('\n', file);
        std::fclose(file);
    }
}

[[maybe_unused]] std::string dotted(ipaddr address) {
    char text[INET_ADDRSTRLEN] = {};
    in_addr in{};
    in.s_addr = address;
    inet_ntop(AF_INET, &in, text, sizeof text);
    return text;
}

[[maybe_unused]] std::string hex(const void* bytes, std::size_t count) {
    std::string text;
    char two[3];
    for (std::size_t k = 0; k < count; ++k) {
        std::snprintf(two, sizeof two, "%02x", static_cast<const unsigned char*>(bytes)[k]);
        text += two;
    }
    return text;
}

int handlestorage;

[[maybe_unused]] ipaddr replyaddress(ipaddr destination) {
    const std::string from = scriptvalue("from");
    in_addr in{};
    if (!from.empty() && inet_pton(AF_INET, from.c_str(), &in) == 1) {
        return in.s_addr;
    }
    return destination;
}

} // namespace

#ifndef STANDIN_WITHOUT_CREATE
STANDIN_EXPORT icmphandle IcmpCreateFile() {
    logline("create");
    if (const long code = failurecode("create"); code >= 0) {
        standinseterror(code);
        return icmpinvalidhandle();
    }
    return &handlestorage;
}
#endif

#ifndef STANDIN_WITHOUT_CLOSE
STANDIN_EXPORT int IcmpCloseHandle(icmphandle handle) {
    logline(handle == &handlestorage ? "close" : "close unknown-handle");
    if (const long code = failurecode("close"); code >= 0) {
        standinseterror(code);
        return 0;
    }
    return 1;
}
#endif

#ifndef STANDIN_WITHOUT_SEND
STANDIN_EXPORT std::uint32_t IcmpSendEcho(icmphandle handle, ipaddr destination, void* requestdata,
                                          std::uint16_t requestsize, IP_OPTION_INFORMATION* options,
                                          void* replybuffer, std::uint32_t replysize,
                                          std::uint32_t timeout) {
    std::string line = "send";
    line += handle == &handlestorage ? "" : " unknown-handle";
    line += " destination=" + dotted(destination);
    line += " data=" + hex(requestdata, requestsize);
    if (options != nullptr) {
        line += " ttl=" + std::to_string(options->Ttl) + " tos=" + std::to_string(options->Tos) +
                " flags=" + std::to_string(options->Flags) +
                " optionssize=" + std::to_string(options->OptionsSize);
    }
    line += " replysize=" + std::to_string(replysize) + " timeout=" + std::to_string(timeout);
    logline(line);

    const long replies = scriptnumber("replies", 1);
    if (replies <= 0) {
        standinseterror(scriptnumber("error", ipstatus::reqtimedout));
        return 0;
    }
    auto* bytes = static_cast<unsigned char*>(replybuffer);
    ICMP_ECHO_REPLY record{};
    record.Address = replyaddress(destination);
    record.Status = static_cast<std::uint32_t>(scriptnumber("status", 0));
    record.DataSize = static_cast<std::uint16_t>(scriptnumber("size", requestsize));
    record.Data = bytes + sizeof record;
    record.Options.Ttl = 64;
    std::memcpy(bytes, &record, sizeof record);
    std::memcpy(bytes + sizeof record, requestdata, requestsize);
    return static_cast<std::uint32_t>(replies);
}
#endif
