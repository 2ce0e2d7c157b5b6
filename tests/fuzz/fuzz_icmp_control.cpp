// SPDX-License-Identifier: GPL-3.0-or-later
// The echo library's reading of control messages: TTL and TOS of a reply,
// and the ICMP error of an error-queue entry (IP_RECVERR).
//
// Input: byte 0 picks what the bytes after the header go to (even: the TTL
// and TOS reader, odd: the error-queue reader); bytes 1-2 identifier, 3-4
// sequence (big-endian), 5-8 the request's destination, 9-12 the offender's
// address, 13 TTL, 14 TOS, 15 ICMP type, 16 code, 17 the length of a foreign
// control message put first, 18 how many bytes to cut off the end of the
// well-formed buffers that are built from these values. The rest is a
// control buffer as recvmsg could hand it back.
#include "fuzzcheck.h"
#include "icmpapi.h"
#include "icmpcontrol.h"
#include "icmppacket.h"

#include <cstdint>
#include <cstring>
#include <ctime> // linux/errqueue.h uses timespec without including it
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <span>
#include <sys/socket.h>
#include <vector>

namespace {

using bytes = std::span<const std::uint8_t>;

std::uint32_t address(const std::uint8_t* at) {
    std::uint32_t value;
    std::memcpy(&value, at, sizeof value);
    return value;
}

constexpr std::size_t errorsize = sizeof(sock_extended_err) + sizeof(sockaddr_in);

// A control buffer written with the C library's own macros, as the kernel
// lays it out; where each message ends is kept to know what a cut leaves whole.
class controlbuilder {
  public:
    std::size_t add(int level, int type, bytes payload) {
        const std::size_t at = buffer_.size();
        buffer_.resize(at + CMSG_SPACE(payload.size()));
        cmsghdr header{};
        header.cmsg_len = CMSG_LEN(payload.size());
        header.cmsg_level = level;
        header.cmsg_type = type;
        std::memcpy(buffer_.data() + at, &header, sizeof header);
        if (!payload.empty()) {
            std::memcpy(buffer_.data() + at + CMSG_LEN(0), payload.data(), payload.size());
        }
        return at + CMSG_LEN(payload.size());
    }
    // A buffer of its own, exactly as long, so that AddressSanitizer sees a
    // read past the cut.
    std::vector<std::uint8_t> cut(std::size_t count) const {
        const std::size_t kept = buffer_.size() - std::min(count, buffer_.size());
        return {buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(kept)};
    }

  private:
    std::vector<std::uint8_t> buffer_;
};

bytes asbytes(const void* object, std::size_t size) {
    return {static_cast<const std::uint8_t*>(object), size};
}

// Somewhere in the buffer, at a place a control message can start, a message
// of that level and type with at least minimum bytes of data lies whole.
bool somewholemessage(bytes control, int level, int type, std::size_t minimum,
                      const auto& matches) {
    for (std::size_t at = 0; at + CMSG_LEN(0) <= control.size(); at += alignof(cmsghdr)) {
        cmsghdr header;
        std::memcpy(&header, control.data() + at, sizeof header);
        if (header.cmsg_level == level && header.cmsg_type == type &&
            header.cmsg_len >= CMSG_LEN(minimum) && header.cmsg_len <= control.size() - at &&
            matches(control.subspan(at + CMSG_LEN(0)))) {
            return true;
        }
    }
    return false;
}

void sameanswer(const echoanswer& got, const echoanswer& expected) {
    FUZZCHECK(got.kind == expected.kind);
    FUZZCHECK(got.from == expected.from && got.status == expected.status);
    FUZZCHECK(got.data.empty());
}

// Values from a foreign buffer come from a whole, long enough message.
void checkforeign(bytes control, bool errorqueue, const echorequestkey& key, std::uint32_t original,
                  std::uint8_t ttl, std::uint8_t tos) {
    // Its own copy, exactly as long, so that AddressSanitizer sees a read past it.
    const std::vector<std::uint8_t> copy(control.begin(), control.end());
    if (!errorqueue) {
        echoanswer answer;
        answer.ttl = ttl;
        answer.tos = tos;
        readcontrol(copy, answer);
        if (answer.ttl != ttl) {
            FUZZCHECK(somewholemessage(copy, IPPROTO_IP, IP_TTL, sizeof(int), [&](bytes d) {
                int value;
                std::memcpy(&value, d.data(), sizeof value);
                return static_cast<std::uint8_t>(value) == answer.ttl;
            }));
        }
        if (answer.tos != tos) {
            FUZZCHECK(somewholemessage(copy, IPPROTO_IP, IP_TOS, 1,
                                       [&](bytes d) { return d[0] == answer.tos; }));
        }
        return;
    }
    const std::vector<std::uint8_t> request = buildechorequest(key, {});
    const echoanswer answer = readerrorcontrol(copy, original, request, key);
    if (answer.kind == answerkind::unrelated) {
        return;
    }
    FUZZCHECK(answer.kind == answerkind::errorreport && answer.data.empty());
    FUZZCHECK(answer.status > ipstatus::base && answer.status <= ipstatus::generalfailure);
    FUZZCHECK(somewholemessage(copy, IPPROTO_IP, IP_RECVERR, errorsize, [&](bytes d) {
        sock_extended_err error;
        std::memcpy(&error, d.data(), sizeof error);
        sockaddr_in offender;
        std::memcpy(&offender, d.data() + sizeof error, sizeof offender);
        return error.ee_origin == SO_EE_ORIGIN_ICMP && offender.sin_addr.s_addr == answer.from &&
               icmperrorstatus(error.ee_type, error.ee_code) == answer.status;
    }));
}

// Well-formed buffers as the kernel writes them, behind a foreign message:
// every value is found, and a cut that leaves a message short hides it.
void checkbuilt(const std::uint8_t* data, const echorequestkey& key) {
    const std::uint32_t offender = address(data + 9);
    const std::uint8_t ttl = data[13];
    const std::uint8_t tos = data[14];
    const std::vector<std::uint8_t> foreign(data[17], 0x5A);
    const std::size_t cut = data[18];

    controlbuilder replycontrol;
    replycontrol.add(SOL_SOCKET, SCM_TIMESTAMP, foreign);
    const int ttlvalue = ttl;
    const std::size_t ttlend =
        replycontrol.add(IPPROTO_IP, IP_TTL, asbytes(&ttlvalue, sizeof ttlvalue));
    const std::size_t tosend = replycontrol.add(IPPROTO_IP, IP_TOS, asbytes(&tos, 1));
    const std::vector<std::uint8_t> replybuffer = replycontrol.cut(cut);
    echoanswer answer;
    answer.ttl = static_cast<std::uint8_t>(~ttl);
    answer.tos = static_cast<std::uint8_t>(~tos);
    readcontrol(replybuffer, answer);
    FUZZCHECK(answer.ttl == (ttlend <= replybuffer.size() ? ttl : static_cast<std::uint8_t>(~ttl)));
    FUZZCHECK(answer.tos == (tosend <= replybuffer.size() ? tos : static_cast<std::uint8_t>(~tos)));

    for (const std::uint8_t origin : {SO_EE_ORIGIN_ICMP, SO_EE_ORIGIN_LOCAL}) {
        std::uint8_t payload[errorsize] = {};
        sock_extended_err error{};
        error.ee_origin = origin;
        error.ee_type = data[15];
        error.ee_code = data[16];
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr.s_addr = offender;
        std::memcpy(payload, &error, sizeof error);
        std::memcpy(payload + sizeof error, &from, sizeof from);
        controlbuilder errorcontrol;
        errorcontrol.add(SOL_SOCKET, SCM_TIMESTAMP, foreign);
        const std::size_t errorend = errorcontrol.add(IPPROTO_IP, IP_RECVERR, payload);
        const std::vector<std::uint8_t> errorbuffer = errorcontrol.cut(cut);
        const std::vector<std::uint8_t> request = buildechorequest(key, {});
        const echoanswer got = readerrorcontrol(errorbuffer, key.destination, request, key);
        const bool readable = origin == SO_EE_ORIGIN_ICMP && errorend <= errorbuffer.size();
        sameanswer(got, readable ? matchdatagramerror(error.ee_type, error.ee_code, offender,
                                                      key.destination, request, key)
                                 : echoanswer{});
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    constexpr std::size_t head = 19;
    if (size < head) {
        return 0;
    }
    echorequestkey key;
    key.ident = static_cast<std::uint16_t>(data[1] << 8 | data[2]);
    key.sequence = static_cast<std::uint16_t>(data[3] << 8 | data[4]);
    key.destination = address(data + 5);
    checkforeign(bytes(data + head, size - head), data[0] % 2 == 1, key, key.destination, data[13],
                 data[14]);
    checkbuilt(data, key);
    return 0;
}
