// SPDX-License-Identifier: GPL-3.0-or-later
// One echo request, its outcome written message by message into the ping
// log, and the verdict read back from that log.
#include "pingonece_funcwin.h"

#include "dynlib.h"
#include "icmpapi.h"
#include "lasterror.h"
#include "netaddr.h"
#include "privilege.h"
#include "protocol.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char achBCastAddr[16] = "255.255.255.255";

// The 32 bytes of echo data every probe sends.
constexpr std::uint16_t echodatasize = 32;
char achReqData[echodatasize];

// Aligned for the reply record that the echo library stores at its start.
alignas(ICMP_ECHO_REPLY) char achRepData[8232];

icmpcreatefilefn lpfnIcmpCreateFile;
icmpclosehandlefn lpfnIcmpCloseHandle;
icmpsendechofn lpfnIcmpSendEcho;

IP_OPTION_INFORMATION echooptions;

// The address to ping and, when it came from a name lookup, the name record.
struct resolvedhost {
    std::uint32_t address = 0;
    bool hasrecord = false;
    hostrecord record;
};

// A set-up failure ends the probe here; its message dies with the process.
[[noreturn]] void endprocess(int exitcode) {
    std::exit(exitcode);
}

resolvedhost resolvehost(const char* hosttext, pinglogbuffer& pinglog) {
    resolvedhost host;
    const std::uint32_t address = netinetaddr(hosttext);
    if (address == inaddrnone && std::strncmp(hosttext, achBCastAddr, sizeof achBCastAddr) == 0) {
        host.address = inaddrnone;
        return host;
    }
    if (address != inaddrnone && address != 0) {
        host.address = address;
        return host;
    }
    if (!netgethostbyname(hosttext, host.record)) {
        pinglogappend(pinglog, "invalid(100) err(100)\n");
        endprocess(probeexit::lookupfailed);
    }
    host.address = host.record.address;
    host.hasrecord = true;
    return host;
}

dynlibhandle bindicmplibrary(pinglogbuffer& pinglog) {
    const dynlibhandle library = dynlibload(icmplibraryname);
    if (library == nullptr) {
        pinglogappend(pinglog, "failed(2)\n");
        endprocess(probeexit::nolibrary);
    }
    lpfnIcmpCreateFile =
        reinterpret_cast<icmpcreatefilefn>(dynlibsymbol(library, "IcmpCreateFile"));
    lpfnIcmpCloseHandle =
        reinterpret_cast<icmpclosehandlefn>(dynlibsymbol(library, "IcmpCloseHandle"));
    lpfnIcmpSendEcho = reinterpret_cast<icmpsendechofn>(dynlibsymbol(library, "IcmpSendEcho"));
    if (lpfnIcmpCreateFile == nullptr || lpfnIcmpCloseHandle == nullptr ||
        lpfnIcmpSendEcho == nullptr) {
        pinglogappend(pinglog, "failed(3)\n");
        endprocess(probeexit::noentrypoint);
    }
    return library;
}

icmphandle openechohandle(pinglogbuffer& pinglog) {
    const icmphandle handle = lpfnIcmpCreateFile();
    if (handle == icmpinvalidhandle()) {
        const std::uint32_t error = lasterror();
        pinglogappend(pinglog, "failed(4) err(4)\n");
        PIcmpErr(error, pinglog);
        endprocess(probeexit::noechohandle);
    }
    // The socket is all the privilege was for. From here on a probe runs with
    // no more rights than the user who started it, whatever the echo library
    // or a reply may bring about. A probe that cannot give the privilege up
    // sends nothing: it ends as one whose echo could not be set up, with the
    // exit code of a socket that could not be opened.
    if (!dropprivilege()) {
        pinglogappend(pinglog, "failed(4) err(4)\n");
        endprocess(probeexit::noechohandle);
    }
    return handle;
}

// The characters from the space upwards; the counter wraps at 126, which 32
// bytes never reach.
void fillechorequest() {
    char counter = 32;
    for (char& byte : achReqData) {
        byte = counter;
        if (++counter == 126) {
            counter = 32;
        }
    }
    echooptions = IP_OPTION_INFORMATION{};
    echooptions.Ttl = 64;
}

void appendheader(const resolvedhost& host, pinglogbuffer& pinglog) {
    const auto dotted = netinetntoa(host.address);
    if (host.hasrecord) {
        pinglogappend(pinglog, "\nPinging to %s:%s\n\n", host.record.officialname.data(),
                      dotted.data());
    } else {
        pinglogappend(pinglog, "\nPinging to %s\n\n", dotted.data());
    }
}

// A negative time-out waits not at all: passed on as it is, it would become
// a wait of weeks.
std::uint32_t echowait(std::int32_t timeout) {
    return timeout < 0 ? 0u : static_cast<std::uint32_t>(timeout);
}

void sendecho(icmphandle handle, const resolvedhost& host, std::int32_t timeout,
              pinglogbuffer& pinglog) {
    std::memset(achRepData, 0, sizeof achRepData);
    const std::uint32_t replies =
        lpfnIcmpSendEcho(handle, host.address, achReqData, echodatasize, &echooptions, achRepData,
                         sizeof achRepData, echowait(timeout));
    const std::uint32_t error = lasterror();
    if (replies == 0) {
        pinglogappend(pinglog, "failed(5) err(5)\n");
        PIcmpErr(error, pinglog);
        return;
    }
    ICMP_ECHO_REPLY reply;
    std::memcpy(&reply, achRepData, sizeof reply);
    pinglogappend(pinglog, "Got Ping-Reply from %s:  (%d Bytes)\n",
                  netinetntoa(reply.Address).data(), static_cast<int>(reply.DataSize));
    if (reply.Status != 0) {
        PIcmpErr(reply.Status, pinglog);
    }
}

void closeechohandle(icmphandle handle, pinglogbuffer& pinglog) {
    if (lpfnIcmpCloseHandle(handle) == 0) {
        const std::uint32_t error = lasterror();
        pinglogappend(pinglog, "err(200)\n");
        PIcmpErr(error, pinglog);
    }
}

} // namespace

void pinglogappend(pinglogbuffer& pinglog, const char* format, ...) {
    const std::size_t used = strnlen(pinglog.data(), pinglog.size() - 1);
    std::va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(pinglog.data() + used, pinglog.size() - used, format, arguments);
    va_end(arguments);
    pinglog.back() = '\0';
}

void PIcmpErr(std::uint32_t code, pinglogbuffer& pinglog) {
    if (code - 11001u <= 21u) {
        pinglogappend(pinglog, "err(301)\n");
    } else {
        pinglogappend(pinglog, "err(300)\n");
    }
}

std::int32_t icmp_funcwin(const char* hosttext, std::int32_t timeout, pinglogbuffer& pinglog) {
    if (netstartup() != 0) {
        pinglogappend(pinglog, "failed(1) err(1)\n");
        endprocess(probeexit::socketlibrary);
    }
    // The echo handle is all a capability was for, and it is given up as soon
    // as the handle is open (openechohandle): only then is the host's name
    // looked up, since a lookup parses what a name server sent.
    const dynlibhandle library = bindicmplibrary(pinglog);
    const icmphandle handle = openechohandle(pinglog);
    const resolvedhost host = resolvehost(hosttext, pinglog);
    fillechorequest();
    appendheader(host, pinglog);
    sendecho(handle, host, timeout, pinglog);
    closeechohandle(handle, pinglog);
    dynlibfree(library);
    netcleanup();
    return 0;
}

bool pinglogsaysalive(const pinglogbuffer& pinglog, const char* hosttext) {
    char achExpectedReply[256];
    std::snprintf(achExpectedReply, sizeof achExpectedReply, "Got Ping-Reply from %s:  (32 Bytes)",
                  hosttext);
    achExpectedReply[255] = '\0';
    const char* text = pinglog.data();
    return std::strstr(text, achExpectedReply) != nullptr &&
           std::strstr(text, "failed") == nullptr && std::strstr(text, "invalid") == nullptr &&
           std::strstr(text, "err") == nullptr;
}

std::int32_t pingonece_funcwin(const char* hosttext, std::int32_t timeout, std::int32_t verbose) {
    pinglogbuffer pinglog{};
    icmp_funcwin(hosttext, timeout, pinglog);
    if (verbose != 0) {
        std::printf("Ping once with timeout: Done\n");
    }
    const bool alive = pinglogsaysalive(pinglog, hosttext);
    if (alive && verbose != 0) {
        std::printf(" --> Got a valid reply. He's alive.\n");
    }
    return alive ? 1 : 0;
}
