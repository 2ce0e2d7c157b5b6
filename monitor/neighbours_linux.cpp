// SPDX-License-Identifier: GPL-3.0-or-later
// The neighbour table through rtnetlink: one RTM_GETNEIGH dump of the IPv4
// table, which any user may ask for. Every byte of the answer is checked
// before it is read: it must come from the kernel, answer our request, and
// every message and attribute must fit in what was received. A reader that
// stops answering cannot hold the monitor's one thread: each read waits a
// second at most, the whole dump a few seconds, and the reads are counted.
#include "neighbours.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

// A dump of 1024 entries (the kernel's default gc_thresh3) takes a few reads
// of this size; the bound only stops a sender that never says it is done.
constexpr std::size_t bufferbytes = std::size_t{64} * 1024;
constexpr int maxreads = 1024;
constexpr time_t readtimeoutseconds = 1;
constexpr auto dumplimit = std::chrono::seconds(3);
// The states whose entry holds a hardware address (the kernel's NUD_VALID).
constexpr unsigned resolved =
    NUD_PERMANENT | NUD_NOARP | NUD_REACHABLE | NUD_PROBE | NUD_STALE | NUD_DELAY;

class netlinksocket {
  public:
    netlinksocket() : fd(socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE)) {}
    ~netlinksocket() {
        if (fd >= 0) {
            close(fd);
        }
    }
    netlinksocket(const netlinksocket&) = delete;
    netlinksocket& operator=(const netlinksocket&) = delete;
    const int fd;
};

std::string failure(const char* what, int error) {
    return std::string(what) + ": " + std::strerror(error);
}

neighbourstate statefrom(std::uint16_t nud) {
    switch (nud) {
    case NUD_INCOMPLETE:
        return neighbourstate::incomplete;
    case NUD_REACHABLE:
        return neighbourstate::reachable;
    case NUD_STALE:
        return neighbourstate::stale;
    case NUD_DELAY:
        return neighbourstate::delay;
    case NUD_PROBE:
        return neighbourstate::probe;
    case NUD_FAILED:
        return neighbourstate::failed;
    case NUD_PERMANENT:
        return neighbourstate::permanent;
    default:
        return neighbourstate::other; // NUD_NOARP, NUD_NONE, or a mix of bits
    }
}

// One RTM_NEWNEIGH message whose length has been checked against what was
// received. Entries of other families, or without a 4-byte address, are
// left out.
void readentry(const nlmsghdr* message, long tickspersecond, std::vector<neighbourentry>& entries) {
    if (message->nlmsg_len < NLMSG_LENGTH(sizeof(ndmsg))) {
        return;
    }
    const auto* ndm = static_cast<const ndmsg*>(NLMSG_DATA(message));
    if (ndm->ndm_family != AF_INET) {
        return;
    }
    neighbourentry entry;
    entry.state = statefrom(ndm->ndm_state);
    bool hasaddress = false;
    int left = static_cast<int>(message->nlmsg_len - NLMSG_LENGTH(sizeof(ndmsg)));
    for (auto* attribute = reinterpret_cast<const rtattr*>(reinterpret_cast<const char*>(ndm) +
                                                           NLMSG_ALIGN(sizeof(ndmsg)));
         RTA_OK(attribute, left); attribute = RTA_NEXT(attribute, left)) {
        const std::size_t size = RTA_PAYLOAD(attribute);
        const void* payload = RTA_DATA(attribute);
        switch (attribute->rta_type) {
        case NDA_DST:
            if (size == entry.ip.size()) {
                std::memcpy(entry.ip.data(), payload, size); // network order = dotted order
                hasaddress = true;
            }
            break;
        case NDA_LLADDR:
            // Other links (InfiniBand, tunnels) have addresses of other
            // lengths, which no magic packet could carry; entries without
            // ARP (loopback's) hold zeros, which are no card's address.
            if (size == entry.mac.size()) {
                std::memcpy(entry.mac.data(), payload, size);
                entry.hasmac = entry.mac != decltype(entry.mac){};
            }
            break;
        case NDA_CACHEINFO:
            // An unresolved entry (incomplete, failed) gets no time: if it
            // never resolved, the kernel's time is made up to look old
            // (twice the base reachable time before the entry was made);
            // if it did, nobody answers for it any longer.
            if (size >= sizeof(nda_cacheinfo) && tickspersecond > 0 &&
                (ndm->ndm_state & resolved) != 0) {
                nda_cacheinfo info;
                std::memcpy(&info, payload, sizeof info);
                entry.confirmedago = static_cast<long>(info.ndm_confirmed / tickspersecond);
            }
            break;
        default:
            break;
        }
    }
    if (hasaddress) {
        entries.push_back(entry);
    }
}

enum class step { more, done, failed };

// The messages of one datagram: the entries they hold, until the dump's end.
step readmessages(const char* bytes, std::size_t count, std::uint32_t sequence,
                  std::uint32_t portid, long tickspersecond, std::vector<neighbourentry>& entries,
                  std::string& why) {
    int left = static_cast<int>(count);
    for (auto* message = reinterpret_cast<const nlmsghdr*>(bytes); NLMSG_OK(message, left);
         message = NLMSG_NEXT(message, left)) {
        // Another request's answer (a multicast subscription has none here)
        // is not ours to read.
        if (message->nlmsg_seq != sequence || message->nlmsg_pid != portid) {
            continue;
        }
        switch (message->nlmsg_type) {
        case NLMSG_DONE:
            // A dump's end carries its error, if any.
            if (message->nlmsg_len >= NLMSG_LENGTH(sizeof(int))) {
                int error = 0;
                std::memcpy(&error, NLMSG_DATA(message), sizeof error);
                if (error < 0) {
                    why = failure("neighbour table dump", -error);
                    return step::failed;
                }
            }
            return step::done;
        case NLMSG_ERROR: {
            if (message->nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr))) {
                why = "neighbour table: a short error message from the kernel";
                return step::failed;
            }
            nlmsgerr error;
            std::memcpy(&error, NLMSG_DATA(message), sizeof error);
            why = error.error == 0 ? "neighbour table: the kernel acknowledged instead of dumping"
                                   : failure("neighbour table dump", -error.error);
            return step::failed;
        }
        case RTM_NEWNEIGH:
            readentry(message, tickspersecond, entries);
            break;
        default:
            break;
        }
    }
    return step::more;
}

bool dump(std::vector<neighbourentry>& entries, std::string& why) {
    const netlinksocket link;
    if (link.fd < 0) {
        why = failure("neighbour table: netlink socket", errno);
        return false;
    }
    const timeval timeout{readtimeoutseconds, 0};
    if (setsockopt(link.fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0) {
        why = failure("neighbour table: receive time-out", errno);
        return false;
    }
    // The kernel gives the socket its port id on bind; its answers name it.
    sockaddr_nl self{};
    self.nl_family = AF_NETLINK;
    socklen_t selfsize = sizeof self;
    if (bind(link.fd, reinterpret_cast<const sockaddr*>(&self), sizeof self) != 0 ||
        getsockname(link.fd, reinterpret_cast<sockaddr*>(&self), &selfsize) != 0 ||
        selfsize != sizeof self) {
        why = failure("neighbour table: netlink bind", errno);
        return false;
    }

    struct {
        nlmsghdr header;
        ndmsg body;
    } request{};
    const auto sequence = static_cast<std::uint32_t>(std::time(nullptr));
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(ndmsg));
    request.header.nlmsg_type = RTM_GETNEIGH;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = sequence;
    request.body.ndm_family = AF_INET;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    ssize_t sent;
    do {
        sent = sendto(link.fd, &request, request.header.nlmsg_len, 0,
                      reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel);
    } while (sent < 0 && errno == EINTR);
    if (sent != static_cast<ssize_t>(request.header.nlmsg_len)) {
        why = failure("neighbour table: netlink send", sent < 0 ? errno : EMSGSIZE);
        return false;
    }

    const long tickspersecond = sysconf(_SC_CLK_TCK);
    std::vector<nlmsghdr> buffer(bufferbytes / sizeof(nlmsghdr)); // aligned for the headers
    const auto deadline = std::chrono::steady_clock::now() + dumplimit;
    for (int reads = 0; reads < maxreads && std::chrono::steady_clock::now() < deadline; ++reads) {
        sockaddr_nl from{};
        iovec part{buffer.data(), buffer.size() * sizeof(nlmsghdr)};
        msghdr received{};
        received.msg_name = &from;
        received.msg_namelen = sizeof from;
        received.msg_iov = &part;
        received.msg_iovlen = 1;
        const ssize_t count = recvmsg(link.fd, &received, 0);
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            why = errno == EAGAIN || errno == EWOULDBLOCK
                      ? std::string("neighbour table: no answer from the kernel within a second")
                      : failure("neighbour table: netlink receive", errno);
            return false;
        }
        if (received.msg_flags & MSG_TRUNC) {
            why = "neighbour table: a message larger than the buffer";
            return false;
        }
        // Another process may send to our port id; only the kernel's own
        // datagrams (port id 0) are read.
        if (received.msg_namelen != sizeof from || from.nl_family != AF_NETLINK ||
            from.nl_pid != 0) {
            continue;
        }
        switch (readmessages(reinterpret_cast<const char*>(buffer.data()),
                             static_cast<std::size_t>(count), sequence, self.nl_pid, tickspersecond,
                             entries, why)) {
        case step::done:
            return true;
        case step::failed:
            return false;
        case step::more:
            break;
        }
    }
    why = "neighbour table: the dump did not end";
    return false;
}

} // namespace

bool readneighbours(std::vector<neighbourentry>& entries, std::string& why) {
    entries.clear();
    why.clear();
    if (!dump(entries, why)) {
        entries.clear();
        return false;
    }
    return true;
}
