// SPDX-License-Identifier: GPL-3.0-or-later
// The control messages are walked by offset, each header checked against the
// end of the buffer before it is read: CMSG_FIRSTHDR hands out a first header
// whose length may run past the buffer, and stepping past a header of an
// absurd length with CMSG_NXTHDR would overflow the pointer. The layout
// (header, padding, data) is still the one the kernel writes, taken from
// CMSG_ALIGN and CMSG_LEN.
#include "icmpcontrol.h"

#include <cstring>
#include <ctime> // linux/errqueue.h uses timespec without including it
#include <linux/errqueue.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

constexpr std::size_t headersize = CMSG_LEN(0);

// Calls visit(level, type, data) for every control message lying whole in
// the buffer, in order; data is the message's own bytes after its header.
template <typename visitor> void eachcontrol(std::span<const std::uint8_t> control, visitor visit) {
    std::size_t at = 0;
    while (control.size() - at >= headersize) {
        cmsghdr header;
        std::memcpy(&header, control.data() + at, sizeof header);
        const std::size_t length = header.cmsg_len;
        if (length < headersize || length > control.size() - at) {
            return;
        }
        if (!visit(header.cmsg_level, header.cmsg_type,
                   control.subspan(at + headersize, length - headersize))) {
            return;
        }
        const std::size_t step = CMSG_ALIGN(length);
        if (step < length || step > control.size() - at) {
            return;
        }
        at += step;
    }
}

} // namespace

void readcontrol(std::span<const std::uint8_t> control, echoanswer& answer) {
    eachcontrol(control, [&](int level, int type, std::span<const std::uint8_t> data) {
        if (level != IPPROTO_IP) {
            return true;
        }
        if (type == IP_TTL && data.size() >= sizeof(int)) {
            int ttl;
            std::memcpy(&ttl, data.data(), sizeof ttl);
            answer.ttl = static_cast<std::uint8_t>(ttl);
        } else if (type == IP_TOS && !data.empty()) {
            answer.tos = data[0];
        }
        return true;
    });
}

echoanswer readerrorcontrol(std::span<const std::uint8_t> control,
                            std::uint32_t originaldestination,
                            std::span<const std::uint8_t> original, const echorequestkey& key) {
    echoanswer answer;
    eachcontrol(control, [&](int level, int type, std::span<const std::uint8_t> data) {
        // The offender's address follows the error record.
        if (level != IPPROTO_IP || type != IP_RECVERR ||
            data.size() < sizeof(sock_extended_err) + sizeof(sockaddr_in)) {
            return true;
        }
        sock_extended_err error;
        std::memcpy(&error, data.data(), sizeof error);
        if (error.ee_origin != SO_EE_ORIGIN_ICMP) {
            return true;
        }
        sockaddr_in offender;
        std::memcpy(&offender, data.data() + sizeof error, sizeof offender);
        answer = matchdatagramerror(error.ee_type, error.ee_code, offender.sin_addr.s_addr,
                                    originaldestination, original, key);
        return false;
    });
    return answer;
}
