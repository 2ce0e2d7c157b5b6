// SPDX-License-Identifier: GPL-3.0-or-later
// The echo library's reading of what arrives on its socket: raw IPv4 packets,
// ICMP messages of a datagram socket, and entries of its error queue.
//
// Input: byte 0 picks the path (0 raw, 1 datagram reply, 2 error queue);
// bytes 1-2 identifier, 3-4 sequence (big-endian), 5-8 the request's
// destination; for the datagram paths bytes 9-12 the sender's address; for
// the error queue byte 13 type, 14 code, 15-18 the reported packet's
// destination. The rest is the packet, message or reported header.
#include "fuzzcheck.h"
#include "icmpapi.h"
#include "icmppacket.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace {

using bytes = std::span<const std::uint8_t>;

std::uint32_t address(bytes at) {
    std::uint32_t value;
    std::memcpy(&value, at.data(), sizeof value);
    return value;
}

bool within(bytes inner, bytes outer) {
    return inner.empty() || (inner.data() >= outer.data() &&
                             inner.data() + inner.size() <= outer.data() + outer.size());
}

// What any answer must be: unrelated, a reply whose data lies inside the
// bytes it came from, or an error report with a failure status and no data.
void checkanswer(const echoanswer& answer, bytes source) {
    switch (answer.kind) {
    case answerkind::unrelated:
        break;
    case answerkind::echoreply:
        FUZZCHECK(answer.status == ipstatus::success);
        FUZZCHECK(within(answer.data, source));
        break;
    case answerkind::errorreport:
        FUZZCHECK(answer.status > ipstatus::base && answer.status <= ipstatus::generalfailure);
        FUZZCHECK(answer.data.empty());
        break;
    }
}

std::vector<std::uint8_t> ipheader(std::size_t payload, std::uint32_t from, std::uint32_t to) {
    std::vector<std::uint8_t> header(20);
    header[0] = 0x45;
    const std::size_t total = header.size() + payload;
    header[2] = static_cast<std::uint8_t>(total >> 8);
    header[3] = static_cast<std::uint8_t>(total);
    header[8] = 64;
    header[9] = 1; // ICMP
    std::memcpy(&header[12], &from, 4);
    std::memcpy(&header[16], &to, 4);
    return header;
}

void setchecksum(std::vector<std::uint8_t>& message) {
    message[2] = message[3] = 0;
    const std::uint16_t sum = icmpchecksum(message);
    message[2] = static_cast<std::uint8_t>(sum >> 8);
    message[3] = static_cast<std::uint8_t>(sum);
}

// A well-formed answer to a request built from the input is always taken:
// the reply with its very data, and an error report that quotes the request.
void checkroundtrip(const echorequestkey& key, bytes data) {
    const std::uint32_t host = key.destination;
    std::vector<std::uint8_t> reply = buildechorequest(key, data);
    reply[0] = 0; // echo reply
    setchecksum(reply);
    std::vector<std::uint8_t> packet = ipheader(reply.size(), host, 0x0100007f);
    packet.insert(packet.end(), reply.begin(), reply.end());
    const echoanswer answer = matchrawpacket(packet, key);
    FUZZCHECK(answer.kind == answerkind::echoreply && answer.from == host);
    FUZZCHECK(std::equal(answer.data.begin(), answer.data.end(), data.begin(), data.end()));

    const std::vector<std::uint8_t> request = buildechorequest(key, data);
    std::vector<std::uint8_t> quoted = ipheader(request.size(), 0x0100007f, host);
    quoted.insert(quoted.end(), request.begin(), request.begin() + icmpheadersize);
    std::vector<std::uint8_t> report{3, 1, 0, 0, 0, 0, 0, 0}; // host unreachable
    report.insert(report.end(), quoted.begin(), quoted.end());
    setchecksum(report);
    const std::uint32_t router = 0x0202a8c0;
    std::vector<std::uint8_t> errorpacket = ipheader(report.size(), router, 0x0100007f);
    errorpacket.insert(errorpacket.end(), report.begin(), report.end());
    const echoanswer error = matchrawpacket(errorpacket, key);
    FUZZCHECK(error.kind == answerkind::errorreport && error.from == router);
    FUZZCHECK(error.status == ipstatus::desthostunreachable);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t head = 19;
    if (size < head) {
        return 0;
    }
    const bytes input(data, size);
    echorequestkey key;
    key.ident = static_cast<std::uint16_t>(data[1] << 8 | data[2]);
    key.sequence = static_cast<std::uint16_t>(data[3] << 8 | data[4]);
    key.destination = address(input.subspan(5));
    const std::uint32_t from = address(input.subspan(9));
    const bytes rest = input.subspan(head);
    switch (data[0] % 3) {
    case 0: {
        const echoanswer answer = matchrawpacket(rest, key);
        checkanswer(answer, rest);
        if (answer.kind != answerkind::unrelated) {
            FUZZCHECK(rest.size() >= 28 && answer.from == address(rest.subspan(12)));
        }
        break;
    }
    case 1:
        checkanswer(matchdatagramreply(rest, from, key), rest);
        break;
    default:
        checkanswer(
            matchdatagramerror(data[13], data[14], from, address(input.subspan(15)), rest, key),
            rest);
        break;
    }
    checkroundtrip(key, rest.first(std::min<std::size_t>(rest.size(), 1472)));
    return 0;
}
