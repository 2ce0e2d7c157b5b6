// SPDX-License-Identifier: GPL-3.0-or-later
#include "icmppacket.h"

#include "icmpapi.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint8_t icmpechoreply = 0;
constexpr std::uint8_t icmpdestunreach = 3;
constexpr std::uint8_t icmpsourcequench = 4;
constexpr std::uint8_t icmpecho = 8;
constexpr std::uint8_t icmptimeexceeded = 11;
constexpr std::uint8_t icmpparameterprob = 12;
constexpr std::uint8_t ipprotoicmp = 1;
constexpr std::size_t ipminheader = 20;

std::uint16_t readbe16(std::span<const std::uint8_t> bytes, std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

void writebe16(std::span<std::uint8_t> bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = static_cast<std::uint8_t>(value >> 8);
    bytes[at + 1] = static_cast<std::uint8_t>(value);
}

// Addresses stay in network byte order: copied, never converted.
std::uint32_t readaddress(std::span<const std::uint8_t> bytes, std::size_t at) {
    std::uint32_t address;
    std::memcpy(&address, bytes.data() + at, sizeof address);
    return address;
}

// The IP header at the start of bytes, when it is a whole IPv4 header of an
// ICMP packet; the payload is cut to the header's total length.
struct ipview {
    bool valid = false;
    std::uint32_t source = 0;
    std::uint32_t destination = 0;
    std::uint8_t ttl = 0;
    std::uint8_t tos = 0;
    std::span<const std::uint8_t> payload;
};

// An embedded header (inside an error report) may be followed by only part of
// the original packet, so its total length is not held against the bytes.
ipview readipheader(std::span<const std::uint8_t> bytes, bool whole) {
    ipview ip;
    if (bytes.size() < ipminheader || bytes[0] >> 4 != 4) {
        return ip;
    }
    const std::size_t headerlength = static_cast<std::size_t>(bytes[0] & 0x0F) * 4;
    if (headerlength < ipminheader || headerlength > bytes.size() || bytes[9] != ipprotoicmp) {
        return ip;
    }
    std::size_t end = bytes.size();
    if (whole) {
        const std::size_t totallength = readbe16(bytes, 2);
        if (totallength < headerlength || totallength > bytes.size()) {
            return ip;
        }
        end = totallength;
    }
    ip.valid = true;
    ip.tos = bytes[1];
    ip.ttl = bytes[8];
    ip.source = readaddress(bytes, 12);
    ip.destination = readaddress(bytes, 16);
    ip.payload = bytes.subspan(headerlength, end - headerlength);
    return ip;
}

// Our request as an embedded ICMP header: an echo request with our
// identifier and sequence.
bool isourrequest(std::span<const std::uint8_t> header, const echorequestkey& key) {
    return header.size() >= icmpheadersize && header[0] == icmpecho &&
           readbe16(header, 4) == key.ident && readbe16(header, 6) == key.sequence;
}

bool isourreply(std::span<const std::uint8_t> message, const echorequestkey& key) {
    return message.size() >= icmpheadersize && message[0] == icmpechoreply &&
           readbe16(message, 4) == key.ident && readbe16(message, 6) == key.sequence;
}

echoanswer reply(std::span<const std::uint8_t> message, std::uint32_t from) {
    echoanswer answer;
    answer.kind = answerkind::echoreply;
    answer.from = from;
    answer.status = ipstatus::success;
    answer.data = message.subspan(icmpheadersize);
    return answer;
}

echoanswer errorreport(std::uint32_t from, std::uint32_t status) {
    echoanswer answer;
    answer.kind = answerkind::errorreport;
    answer.from = from;
    answer.status = status;
    return answer;
}

std::uint32_t unreachablestatus(std::uint8_t code) {
    switch (code) {
    case 0:  // network unreachable
    case 6:  // destination network unknown
    case 9:  // network administratively prohibited
    case 11: // network unreachable for this type of service
        return ipstatus::destnetunreachable;
    case 2:
        return ipstatus::destprotunreachable;
    case 3:
        return ipstatus::destportunreachable;
    case 4: // fragmentation needed but not allowed
        return ipstatus::packettoobig;
    case 5: // source route failed
        return ipstatus::badroute;
    default: // the host codes, and any code this table does not know yet
        return ipstatus::desthostunreachable;
    }
}

} // namespace

std::uint16_t icmpchecksum(std::span<const std::uint8_t> bytes) {
    std::uint32_t sum = 0;
    for (std::size_t at = 0; at + 1 < bytes.size(); at += 2) {
        sum += readbe16(bytes, at);
    }
    if (bytes.size() % 2 != 0) {
        sum += static_cast<std::uint32_t>(bytes.back()) << 8;
    }
    while (sum >> 16 != 0) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(~sum);
}

std::vector<std::uint8_t> buildechorequest(const echorequestkey& key,
                                           std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> message(icmpheadersize + data.size());
    message[0] = icmpecho;
    writebe16(message, 4, key.ident);
    writebe16(message, 6, key.sequence);
    std::copy(data.begin(), data.end(), message.begin() + icmpheadersize);
    writebe16(message, 2, icmpchecksum(message));
    return message;
}

std::uint32_t icmperrorstatus(std::uint8_t type, std::uint8_t code) {
    switch (type) {
    case icmpdestunreach:
        return unreachablestatus(code);
    case icmptimeexceeded:
        return code == 0 ? ipstatus::ttlexpiredtransit : ipstatus::ttlexpiredreassem;
    case icmpparameterprob:
        return ipstatus::paramproblem;
    case icmpsourcequench:
        return ipstatus::sourcequench;
    default:
        return 0;
    }
}

echoanswer matchrawpacket(std::span<const std::uint8_t> packet, const echorequestkey& key) {
    const ipview outer = readipheader(packet, true);
    if (!outer.valid || outer.payload.size() < icmpheadersize || icmpchecksum(outer.payload) != 0) {
        return {};
    }
    const std::span<const std::uint8_t> message = outer.payload;
    if (isourreply(message, key)) {
        echoanswer answer = reply(message, outer.source);
        answer.ttl = outer.ttl;
        answer.tos = outer.tos;
        return answer;
    }
    const std::uint32_t status = icmperrorstatus(message[0], message[1]);
    if (status == 0) {
        return {};
    }
    const ipview inner = readipheader(message.subspan(icmpheadersize), false);
    if (!inner.valid || inner.destination != key.destination || !isourrequest(inner.payload, key)) {
        return {};
    }
    echoanswer answer = errorreport(outer.source, status);
    answer.ttl = outer.ttl;
    answer.tos = outer.tos;
    return answer;
}

echoanswer matchdatagramreply(std::span<const std::uint8_t> message, std::uint32_t from,
                              const echorequestkey& key) {
    if (!isourreply(message, key)) {
        return {};
    }
    return reply(message, from);
}

echoanswer matchdatagramerror(std::uint8_t type, std::uint8_t code, std::uint32_t offender,
                              std::uint32_t originaldestination,
                              std::span<const std::uint8_t> original, const echorequestkey& key) {
    const std::uint32_t status = icmperrorstatus(type, code);
    if (status == 0 || originaldestination != key.destination || !isourrequest(original, key)) {
        return {};
    }
    return errorreport(offender, status);
}

std::uint32_t storereply(const echoanswer& answer, std::uint32_t roundtrip, void* replybuffer,
                         std::uint32_t replysize) {
    if (replybuffer == nullptr || replysize < sizeof(ICMP_ECHO_REPLY)) {
        return 0;
    }
    auto* bytes = static_cast<std::uint8_t*>(replybuffer);
    const std::size_t room = replysize - sizeof(ICMP_ECHO_REPLY);
    const std::size_t copied = std::min({answer.data.size(), room, std::size_t{0xFFFF}});
    std::copy_n(answer.data.begin(), copied, bytes + sizeof(ICMP_ECHO_REPLY));
    ICMP_ECHO_REPLY record{};
    record.Address = answer.from;
    record.Status = answer.status;
    record.RoundTripTime = roundtrip;
    record.DataSize = static_cast<std::uint16_t>(copied);
    record.Data = bytes + sizeof(ICMP_ECHO_REPLY);
    record.Options.Ttl = answer.ttl;
    record.Options.Tos = answer.tos;
    std::memcpy(bytes, &record, sizeof record);
    return 1;
}
