// SPDX-License-Identifier: GPL-3.0-or-later
// The binary interface between zendrik and the ICMP echo library it loads at
// run time. Only these two share it. It is Windows' ICMP.DLL interface, field
// for field, which the Linux echo library mirrors: the Windows build loads
// the system's own library through the same three entry points.
#pragma once

#include <cstdint>

extern "C" {

using icmphandle = void*;

// An IPv4 address in network byte order.
using ipaddr = std::uint32_t;

struct IP_OPTION_INFORMATION {
    std::uint8_t Ttl;
    std::uint8_t Tos;
    std::uint8_t Flags;
    std::uint8_t OptionsSize;
    std::uint8_t* OptionsData;
};

// One reply record. The echo library stores it at the start of the caller's
// reply buffer; Data points at the echo data, which the library copies into
// the same buffer right after the record, as much of it as fits; DataSize
// counts the bytes stored there. A record made from an ICMP error report
// carries the reporting address and the matching status, and no data.
struct ICMP_ECHO_REPLY {
    ipaddr Address;
    std::uint32_t Status;
    std::uint32_t RoundTripTime;
    std::uint16_t DataSize;
    std::uint16_t Reserved;
    void* Data;
    IP_OPTION_INFORMATION Options;
};

// Entry points, as bound by name.
using icmpcreatefilefn = icmphandle (*)();
using icmpclosehandlefn = int (*)(icmphandle);
using icmpsendechofn = std::uint32_t (*)(icmphandle, ipaddr destination, void* requestdata,
                                         std::uint16_t requestsize,
                                         IP_OPTION_INFORMATION* requestoptions, void* replybuffer,
                                         std::uint32_t replysize, std::uint32_t timeout);

} // extern "C"

// The handle IcmpCreateFile returns when it cannot open one.
inline icmphandle icmpinvalidhandle() {
    // The platform's own value for it is the pointer made of all one bits.
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    return reinterpret_cast<icmphandle>(static_cast<std::intptr_t>(-1));
}

// The file zendrik loads.
#ifdef _WIN32
inline constexpr const char* icmplibraryname = "ICMP.DLL";
#else
inline constexpr const char* icmplibraryname = "libicmpecho.so";
#endif

// IP status codes. A record's Status holds one of them, and so does the
// library's last error when no record was stored.
namespace ipstatus {
inline constexpr std::uint32_t success = 0;
inline constexpr std::uint32_t base = 11000;
inline constexpr std::uint32_t buftoosmall = 11001;
inline constexpr std::uint32_t destnetunreachable = 11002;
inline constexpr std::uint32_t desthostunreachable = 11003;
inline constexpr std::uint32_t destprotunreachable = 11004;
inline constexpr std::uint32_t destportunreachable = 11005;
inline constexpr std::uint32_t noresources = 11006;
inline constexpr std::uint32_t badoption = 11007;
inline constexpr std::uint32_t hwerror = 11008;
inline constexpr std::uint32_t packettoobig = 11009;
inline constexpr std::uint32_t reqtimedout = 11010;
inline constexpr std::uint32_t badreq = 11011;
inline constexpr std::uint32_t badroute = 11012;
inline constexpr std::uint32_t ttlexpiredtransit = 11013;
inline constexpr std::uint32_t ttlexpiredreassem = 11014;
inline constexpr std::uint32_t paramproblem = 11015;
inline constexpr std::uint32_t sourcequench = 11016;
inline constexpr std::uint32_t optiontoobig = 11017;
inline constexpr std::uint32_t baddestination = 11018;
inline constexpr std::uint32_t generalfailure = 11050;
} // namespace ipstatus

// Last error for a call made with a bad handle or a null buffer.
inline constexpr std::uint32_t errorinvalidparameter = 87;

// The echo options flag that forbids fragmentation.
inline constexpr std::uint8_t ipflagdf = 0x02;
