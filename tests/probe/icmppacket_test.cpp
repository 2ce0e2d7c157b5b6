// SPDX-License-Identifier: GPL-3.0-or-later
// Telling the answer to our own echo request from everything else a raw ICMP
// socket sees: hand-made packets, byte by byte.
#include "icmpapi.h"
#include "icmppacket.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <string>
#include <vector>

namespace {

using bytes = std::vector<std::uint8_t>;

std::uint32_t address(const char* dotted) {
    in_addr in{};
    EXPECT_EQ(1, inet_pton(AF_INET, dotted, &in)) << dotted;
    return in.s_addr;
}

const std::uint32_t ourhost = address("10.200.1.1");
const std::uint32_t target = address("10.200.1.2");
const std::uint32_t router = address("10.200.9.1");
const echorequestkey key{0x1234, 0xBEEF, target};

void put16(bytes& b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v >> 8);
    b[at + 1] = static_cast<std::uint8_t>(v);
}

void putaddress(bytes& b, std::size_t at, std::uint32_t a) {
    std::memcpy(b.data() + at, &a, 4);
}

// An ICMP message with a correct checksum; rest is the second header word.
bytes icmpmessage(std::uint8_t type, std::uint8_t code, std::uint16_t ident, std::uint16_t sequence,
                  const bytes& data) {
    bytes m(8);
    m[0] = type;
    m[1] = code;
    put16(m, 4, ident);
    put16(m, 6, sequence);
    m.insert(m.end(), data.begin(), data.end());
    put16(m, 2, icmpchecksum(m));
    return m;
}

bytes ippacket(std::uint32_t source, std::uint32_t destination, const bytes& payload,
               std::uint8_t protocol = 1, std::size_t optionwords = 0) {
    bytes p(20 + 4 * optionwords);
    p[0] = static_cast<std::uint8_t>(0x40 | (5 + optionwords));
    put16(p, 2, static_cast<std::uint16_t>(p.size() + payload.size()));
    p[8] = 57;
    p[9] = protocol;
    putaddress(p, 12, source);
    putaddress(p, 16, destination);
    p.insert(p.end(), payload.begin(), payload.end());
    return p;
}

bytes echodata(std::size_t count) {
    bytes d(count);
    for (std::size_t k = 0; k < count; ++k) {
        d[k] = static_cast<std::uint8_t>(0x20 + k % 94);
    }
    return d;
}

// Our request as it left: IP header plus the whole ICMP message.
bytes ourrequest(std::uint16_t ident = key.ident, std::uint16_t sequence = key.sequence,
                 std::uint32_t destination = key.destination) {
    return ippacket(ourhost, destination, icmpmessage(8, 0, ident, sequence, echodata(32)));
}

// An ICMP error that quotes the offending packet's IP header and 8 bytes.
bytes errorreport(std::uint8_t type, std::uint8_t code, const bytes& offending,
                  std::uint32_t from = router) {
    const auto headerlength = static_cast<std::ptrdiff_t>(offending[0] & 0x0F) * 4;
    const bytes quoted(offending.begin(), offending.begin() + headerlength + 8);
    return ippacket(from, ourhost, icmpmessage(type, code, 0, 0, quoted));
}

bytes echoreply(std::uint16_t ident, std::uint16_t sequence, std::size_t size,
                std::uint32_t from = target) {
    return ippacket(from, ourhost, icmpmessage(0, 0, ident, sequence, echodata(size)));
}

struct rawcase {
    const char* name;
    bytes packet;
    answerkind kind;
    std::uint32_t from;
    std::uint32_t status;
    std::size_t datasize;
};

void PrintTo(const rawcase& c, std::ostream* os) {
    *os << c.name;
}

class RawPacket : public testing::TestWithParam<rawcase> {};

TEST_P(RawPacket, IsOursOnlyWhenItAnswersOurRequest) {
    const rawcase& c = GetParam();
    const echoanswer answer = matchrawpacket(c.packet, key);
    ASSERT_EQ(c.kind, answer.kind);
    if (c.kind == answerkind::unrelated) {
        return;
    }
    EXPECT_EQ(c.from, answer.from);
    EXPECT_EQ(c.status, answer.status);
    EXPECT_EQ(c.datasize, answer.data.size());
    if (c.kind == answerkind::echoreply) {
        EXPECT_EQ(57, answer.ttl);
        EXPECT_TRUE(
            std::equal(answer.data.begin(), answer.data.end(), echodata(c.datasize).begin()));
    }
}

bytes corrupted(bytes packet, std::size_t at) {
    packet[at] ^= 0x40;
    return packet;
}

bytes withprotocol(bytes packet, std::uint8_t protocol) {
    packet[9] = protocol;
    return packet;
}

INSTANTIATE_TEST_SUITE_P(
    Packets, RawPacket,
    testing::Values(
        rawcase{"echo reply", echoreply(key.ident, key.sequence, 32), answerkind::echoreply, target,
                0, 32},
        rawcase{"echo reply of another size", echoreply(key.ident, key.sequence, 17),
                answerkind::echoreply, target, 0, 17},
        rawcase{"echo reply from another address",
                echoreply(key.ident, key.sequence, 32, address("10.200.1.99")),
                answerkind::echoreply, address("10.200.1.99"), 0, 32},
        rawcase{"a neighbour's reply: other identifier", echoreply(0x1235, key.sequence, 32),
                answerkind::unrelated, 0, 0, 0},
        rawcase{"a neighbour's reply: other sequence", echoreply(key.ident, 0xBEEE, 32),
                answerkind::unrelated, 0, 0, 0},
        rawcase{"identifier and sequence swapped", echoreply(key.sequence, key.ident, 32),
                answerkind::unrelated, 0, 0, 0},
        rawcase{"our own request seen on loopback", ourrequest(), answerkind::unrelated, 0, 0, 0},
        rawcase{"reply with a broken checksum",
                corrupted(echoreply(key.ident, key.sequence, 32), 40), answerkind::unrelated, 0, 0,
                0},
        rawcase{"not ICMP", withprotocol(echoreply(key.ident, key.sequence, 32), 17),
                answerkind::unrelated, 0, 0, 0},
        rawcase{"reply behind IP options",
                ippacket(target, ourhost, icmpmessage(0, 0, key.ident, key.sequence, echodata(32)),
                         1, 2),
                answerkind::echoreply, target, 0, 32},
        rawcase{"network unreachable", errorreport(3, 0, ourrequest()), answerkind::errorreport,
                router, ipstatus::destnetunreachable, 0},
        rawcase{"host unreachable", errorreport(3, 1, ourrequest()), answerkind::errorreport,
                router, ipstatus::desthostunreachable, 0},
        rawcase{"protocol unreachable", errorreport(3, 2, ourrequest()), answerkind::errorreport,
                router, ipstatus::destprotunreachable, 0},
        rawcase{"port unreachable", errorreport(3, 3, ourrequest()), answerkind::errorreport,
                router, ipstatus::destportunreachable, 0},
        rawcase{"fragmentation needed", errorreport(3, 4, ourrequest()), answerkind::errorreport,
                router, ipstatus::packettoobig, 0},
        rawcase{"source route failed", errorreport(3, 5, ourrequest()), answerkind::errorreport,
                router, ipstatus::badroute, 0},
        rawcase{"host administratively prohibited", errorreport(3, 13, ourrequest()),
                answerkind::errorreport, router, ipstatus::desthostunreachable, 0},
        rawcase{"network unknown", errorreport(3, 6, ourrequest()), answerkind::errorreport, router,
                ipstatus::destnetunreachable, 0},
        rawcase{"TTL expired in transit", errorreport(11, 0, ourrequest()), answerkind::errorreport,
                router, ipstatus::ttlexpiredtransit, 0},
        rawcase{"reassembly time exceeded", errorreport(11, 1, ourrequest()),
                answerkind::errorreport, router, ipstatus::ttlexpiredreassem, 0},
        rawcase{"parameter problem", errorreport(12, 0, ourrequest()), answerkind::errorreport,
                router, ipstatus::paramproblem, 0},
        rawcase{"source quench", errorreport(4, 0, ourrequest()), answerkind::errorreport, router,
                ipstatus::sourcequench, 0},
        rawcase{"report from the target itself", errorreport(3, 1, ourrequest(), target),
                answerkind::errorreport, target, ipstatus::desthostunreachable, 0},
        rawcase{
            "report on a request with IP options",
            errorreport(3, 1,
                        ippacket(ourhost, target,
                                 icmpmessage(8, 0, key.ident, key.sequence, echodata(32)), 1, 3)),
            answerkind::errorreport, router, ipstatus::desthostunreachable, 0},
        rawcase{"a redirect is no answer", errorreport(5, 1, ourrequest()), answerkind::unrelated,
                0, 0, 0},
        rawcase{"a neighbour's report: other destination",
                errorreport(3, 1, ourrequest(key.ident, key.sequence, address("10.200.1.3"))),
                answerkind::unrelated, 0, 0, 0},
        rawcase{"a neighbour's report: other identifier",
                errorreport(3, 1, ourrequest(0x4321, key.sequence)), answerkind::unrelated, 0, 0,
                0},
        rawcase{"a neighbour's report: other sequence",
                errorreport(3, 1, ourrequest(key.ident, 0x0001)), answerkind::unrelated, 0, 0, 0},
        rawcase{"report on a UDP packet",
                errorreport(3, 3, ippacket(ourhost, target, bytes(16, 0), 17)),
                answerkind::unrelated, 0, 0, 0},
        rawcase{"report on an echo reply",
                errorreport(3, 1,
                            ippacket(ourhost, target,
                                     icmpmessage(0, 0, key.ident, key.sequence, echodata(8)))),
                answerkind::unrelated, 0, 0, 0},
        rawcase{"report with a broken checksum", corrupted(errorreport(3, 1, ourrequest()), 22),
                answerkind::unrelated, 0, 0, 0}));

// Every cut of a good packet is judged without reading past its end (the
// address sanitizer watches) and is never taken for an answer with data it
// does not hold.
TEST(RawPacket, TruncatedPacketsAreNeverReadPastTheirEnd) {
    for (const bytes& whole :
         {echoreply(key.ident, key.sequence, 32), errorreport(3, 1, ourrequest())}) {
        for (std::ptrdiff_t length = 0; length < std::ssize(whole); ++length) {
            const bytes cut(whole.begin(), whole.begin() + length);
            const echoanswer answer = matchrawpacket(cut, key);
            EXPECT_EQ(answerkind::unrelated, answer.kind) << length;
        }
    }
}

TEST(RawPacket, TotalLengthBeyondTheBytesIsRefused) {
    bytes packet = echoreply(key.ident, key.sequence, 32);
    put16(packet, 2, static_cast<std::uint16_t>(packet.size() + 1));
    EXPECT_EQ(answerkind::unrelated, matchrawpacket(packet, key).kind);
}

TEST(RawPacket, BytesAfterTheTotalLengthAreNotEchoData) {
    bytes packet = echoreply(key.ident, key.sequence, 32);
    packet.push_back(0);
    packet.push_back(0);
    const echoanswer answer = matchrawpacket(packet, key);
    EXPECT_EQ(answerkind::echoreply, answer.kind);
    EXPECT_EQ(32u, answer.data.size());
}

TEST(DatagramPacket, ReplyNeedsOurSequenceAndIdentifier) {
    const bytes reply = icmpmessage(0, 0, key.ident, key.sequence, echodata(32));
    const echoanswer ours = matchdatagramreply(reply, target, key);
    EXPECT_EQ(answerkind::echoreply, ours.kind);
    EXPECT_EQ(target, ours.from);
    EXPECT_EQ(32u, ours.data.size());
    for (const bytes& other :
         {icmpmessage(0, 0, key.ident, 0xBEEE, echodata(32)),
          icmpmessage(0, 0, 0x1111, key.sequence, echodata(32)),
          icmpmessage(8, 0, key.ident, key.sequence, echodata(32)), bytes(7, 0)}) {
        EXPECT_EQ(answerkind::unrelated, matchdatagramreply(other, target, key).kind);
    }
}

TEST(DatagramPacket, ErrorQueueEntryNeedsOurRequestAndDestination) {
    const bytes original = icmpmessage(8, 0, key.ident, key.sequence, echodata(32));
    const echoanswer ours = matchdatagramerror(11, 0, router, target, original, key);
    EXPECT_EQ(answerkind::errorreport, ours.kind);
    EXPECT_EQ(router, ours.from);
    EXPECT_EQ(ipstatus::ttlexpiredtransit, ours.status);

    EXPECT_EQ(answerkind::unrelated,
              matchdatagramerror(11, 0, router, address("10.200.1.3"), original, key).kind);
    EXPECT_EQ(answerkind::unrelated,
              matchdatagramerror(11, 0, router, target,
                                 icmpmessage(8, 0, key.ident, 7, echodata(32)), key)
                  .kind);
    EXPECT_EQ(answerkind::unrelated, matchdatagramerror(5, 0, router, target, original, key).kind);
    EXPECT_EQ(
        answerkind::unrelated,
        matchdatagramerror(3, 1, router, target, bytes(original.begin(), original.begin() + 7), key)
            .kind);
}

TEST(EchoRequest, CarriesKeyDataAndAValidChecksum) {
    for (std::size_t size : {0u, 1u, 31u, 32u, 33u, 1000u}) {
        const bytes data = echodata(size);
        const bytes message = buildechorequest(key, data);
        ASSERT_EQ(8 + size, message.size());
        EXPECT_EQ(8, message[0]);
        EXPECT_EQ(0, message[1]);
        EXPECT_EQ(0x12, message[4]);
        EXPECT_EQ(0x34, message[5]);
        EXPECT_EQ(0xBE, message[6]);
        EXPECT_EQ(0xEF, message[7]);
        EXPECT_TRUE(std::equal(data.begin(), data.end(), message.begin() + 8));
        EXPECT_EQ(0, icmpchecksum(message)) << size;
    }
}

TEST(EchoRequest, ChecksumMatchesAWorkedExample) {
    // The classic example from the Internet checksum's description.
    const bytes words = {0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7};
    EXPECT_EQ(static_cast<std::uint16_t>(~0xddf2 & 0xFFFF), icmpchecksum(words));
}

} // namespace
