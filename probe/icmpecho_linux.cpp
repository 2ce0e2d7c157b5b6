// SPDX-License-Identifier: GPL-3.0-or-later
// The ICMP echo library, libicmpecho.so: IcmpCreateFile, IcmpSendEcho and
// IcmpCloseHandle with the meaning zendrik relies on, built on Linux sockets.
//
// Socket: an unprivileged ICMP datagram socket where net.ipv4.ping_group_range
// lets the caller have one; otherwise a raw ICMP socket, which needs
// CAP_NET_RAW; neither gives the invalid handle. A raw socket sees every
// ICMP packet that reaches the machine, so every packet is judged by its
// identifier, its sequence (new and random for every request) and, for an
// error report, the destination of the request it embeds: many probes may
// run at once, and none may take a neighbour's answer. A datagram socket gets
// only answers to its own identifier from the kernel; its error reports come
// through the error queue (IP_RECVERR).
//
// Last error: every call that fails leaves its code in errno, which is
// per thread, right before it returns; the caller reads it at once.
#include "capability_linux.h"
#include "icmpapi.h"
#include "icmpcontrol.h"
#include "icmppacket.h"
#include "uniquefd.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <memory>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <type_traits>
#include <unistd.h>
#include <utility>
#include <vector>

#define ICMPECHO_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using steadyclock = std::chrono::steady_clock;

enum class socketkind { datagram, raw };

struct echohandle {
    int fd = -1;
    socketkind kind = socketkind::datagram;
    // Raw sockets: chosen here. Datagram sockets: the kernel's, learnt after
    // the first send.
    std::uint16_t ident = 0;
    // A late answer to the previous request must never pass for the next one.
    std::uint16_t lastsequence = 0;
};

void setlasterror(std::uint32_t code) {
    errno = static_cast<int>(code);
}

std::uint16_t random16() {
    std::uint16_t value = 0;
    if (getrandom(&value, sizeof value, GRND_NONBLOCK) != sizeof value) {
        value =
            static_cast<std::uint16_t>(steadyclock::now().time_since_epoch().count() ^ getpid());
    }
    return value;
}

bool setoption(int fd, int level, int name, int value) {
    return setsockopt(fd, level, name, &value, sizeof value) == 0;
}

// Only the types that can answer an echo request reach a raw socket.
bool filterrawtypes(int fd) {
    icmp_filter filter{};
    filter.data =
        ~((1u << ICMP_ECHOREPLY) | (1u << ICMP_DEST_UNREACH) | (1u << ICMP_SOURCE_QUENCH) |
          (1u << ICMP_TIME_EXCEEDED) | (1u << ICMP_PARAMETERPROB));
    return setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter) == 0;
}

// A program may hold CAP_NET_RAW as a permitted capability only (installed with
// setcap cap_net_raw+p, as ping is): it is then raised into the effective set
// for opening the raw socket alone and lowered again at once, so that nothing
// else runs with it. Capabilities belong to the calling thread, which is all
// a single-threaded probe needs. Without the permitted capability this does
// nothing and the socket is refused as before.
class effectivenetraw {
  public:
    effectivenetraw() {
        if (!read() || (permitted() & bit) == 0 || (effective() & bit) != 0) {
            return;
        }
        effective() |= bit;
        raised_ = write();
    }
    ~effectivenetraw() {
        if (!raised_) {
            return;
        }
        const int saved = errno; // the socket call's error is the caller's to read
        effective() &= ~bit;
        write();
        errno = saved;
    }
    effectivenetraw(const effectivenetraw&) = delete;
    effectivenetraw& operator=(const effectivenetraw&) = delete;

  private:
    static constexpr std::uint32_t bit = CAP_TO_MASK(CAP_NET_RAW);
    std::uint32_t& permitted() { return data_[CAP_TO_INDEX(CAP_NET_RAW)].permitted; }
    std::uint32_t& effective() { return data_[CAP_TO_INDEX(CAP_NET_RAW)].effective; }
    bool read() { return readcapabilities(data_); }
    bool write() { return writecapabilities(data_); }

    capabilitysets data_{};
    bool raised_ = false;
};

int opensocketfd(socketkind kind) {
    constexpr int flags = SOCK_NONBLOCK | SOCK_CLOEXEC;
    if (kind == socketkind::datagram) {
        return socket(AF_INET, SOCK_DGRAM | flags, IPPROTO_ICMP);
    }
    const effectivenetraw privilege;
    return socket(AF_INET, SOCK_RAW | flags, IPPROTO_ICMP);
}

std::optional<echohandle> opensocket(socketkind kind) {
    uniquefd fd(opensocketfd(kind));
    if (fd.get() < 0) {
        return std::nullopt;
    }
    // No SO_BROADCAST: the kernel refuses a request to a broadcast address,
    // limited or directed. zendrik may be run by any user with its
    // capability, and no user may make it send one echo that a whole network
    // answers.
    bool ready = true;
    if (kind == socketkind::datagram) {
        ready = setoption(fd.get(), IPPROTO_IP, IP_RECVERR, 1) &&
                setoption(fd.get(), IPPROTO_IP, IP_RECVTTL, 1) &&
                setoption(fd.get(), IPPROTO_IP, IP_RECVTOS, 1);
    } else {
        ready = ready && filterrawtypes(fd.get());
    }
    if (!ready) {
        return std::nullopt;
    }
    echohandle handle;
    handle.kind = kind;
    handle.ident = (kind == socketkind::raw ? random16() : 0);
    handle.fd = fd.release();
    return handle;
}

echohandle* validhandle(icmphandle handle) {
    if (handle == nullptr || handle == icmpinvalidhandle()) {
        return nullptr;
    }
    return static_cast<echohandle*>(handle);
}

std::uint32_t sendfailurestatus(int error) {
    switch (error) {
    case ENETUNREACH:
        return ipstatus::destnetunreachable;
    case EHOSTUNREACH:
    // EACCES: a prohibit route, the administrative form of host unreachable,
    // or a broadcast address, which the socket may not send to. Neither
    // answers, and the verdict is "dead".
    case EACCES:
        return ipstatus::desthostunreachable;
    case EMSGSIZE:
        return ipstatus::packettoobig;
    case ENOBUFS:
    case ENOMEM:
        return ipstatus::noresources;
    default:
        return ipstatus::generalfailure;
    }
}

// The echo options travel as socket options of the next send. A TTL of 0
// leaves the system's default.
bool applyoptions(int fd, const IP_OPTION_INFORMATION* options) {
    if (options == nullptr) {
        return true;
    }
    bool applied = setoption(fd, IPPROTO_IP, IP_TOS, options->Tos);
    if (options->Ttl != 0) {
        applied = applied && setoption(fd, IPPROTO_IP, IP_TTL, options->Ttl);
    }
    const int discovery = (options->Flags & ipflagdf) != 0 ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
    applied = applied && setoption(fd, IPPROTO_IP, IP_MTU_DISCOVER, discovery);
    if (options->OptionsSize > 0 && options->OptionsData != nullptr) {
        applied = applied && setsockopt(fd, IPPROTO_IP, IP_OPTIONS, options->OptionsData,
                                        options->OptionsSize) == 0;
    }
    return applied;
}

sockaddr_in inetaddress(std::uint32_t address) {
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = address;
    return sin;
}

// 0 when the request left; otherwise the IP status for the failure.
std::uint32_t sendrequest(echohandle& handle, const std::vector<std::uint8_t>& message,
                          std::uint32_t destination) {
    const sockaddr_in to = inetaddress(destination);
    ssize_t sent;
    do {
        sent = sendto(handle.fd, message.data(), message.size(), 0,
                      reinterpret_cast<const sockaddr*>(&to), sizeof to);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        return sendfailurestatus(errno);
    }
    if (handle.kind == socketkind::datagram && handle.ident == 0) {
        sockaddr_in local{};
        socklen_t length = sizeof local;
        if (getsockname(handle.fd, reinterpret_cast<sockaddr*>(&local), &length) == 0) {
            handle.ident = ntohs(local.sin_port);
        }
    }
    return 0;
}

// One packet read from the socket and judged; what came back, if it is ours.
struct received {
    echoanswer answer;
    bool more = false; // false once the socket has nothing left to read
};

received readraw(int fd, std::span<std::uint8_t> buffer, const echorequestkey& key) {
    const ssize_t n = recv(fd, buffer.data(), buffer.size(), 0);
    if (n < 0) {
        return {{}, errno == EINTR};
    }
    return {matchrawpacket(buffer.first(static_cast<std::size_t>(n)), key), true};
}

// One recvmsg: the packet into `buffer`, the address it names into
// `address`, its control messages into `control`, whose length is cut to what
// arrived. The number of bytes received, or -1 with errno set.
template <std::size_t controlsize>
ssize_t receivemessage(int fd, std::span<std::uint8_t> buffer, sockaddr_in& address,
                       std::array<std::uint8_t, controlsize>& control, std::size_t& controllength,
                       int flags) {
    iovec io{buffer.data(), buffer.size()};
    msghdr message{};
    message.msg_name = &address;
    message.msg_namelen = sizeof address;
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    const ssize_t n = recvmsg(fd, &message, flags);
    controllength = std::min(static_cast<std::size_t>(message.msg_controllen), control.size());
    return n;
}

received readdatagram(int fd, std::span<std::uint8_t> buffer, const echorequestkey& key) {
    sockaddr_in from{};
    std::array<std::uint8_t, 256> control{};
    std::size_t controllength = 0;
    const ssize_t n = receivemessage(fd, buffer, from, control, controllength, 0);
    if (n < 0) {
        // A pending socket error is handed out here once; its report waits
        // in the error queue.
        return {{}, errno != EAGAIN && errno != EWOULDBLOCK};
    }
    received result{
        matchdatagramreply(buffer.first(static_cast<std::size_t>(n)), from.sin_addr.s_addr, key),
        true};
    readcontrol(std::span(control).first(controllength), result.answer);
    return result;
}

received readerrorqueue(int fd, std::span<std::uint8_t> buffer, const echorequestkey& key) {
    sockaddr_in original{};
    std::array<std::uint8_t, 512> control{};
    std::size_t controllength = 0;
    const ssize_t n = receivemessage(fd, buffer, original, control, controllength, MSG_ERRQUEUE);
    if (n < 0) {
        return {{}, errno == EINTR};
    }
    return {readerrorcontrol(std::span(control).first(controllength), original.sin_addr.s_addr,
                             buffer.first(static_cast<std::size_t>(n)), key),
            true};
}

// Reads whatever the socket holds now; the first answer that is ours ends it.
// Each read takes a packet off the socket, so the loop ends; the bound only
// keeps a flood of foreign packets from holding the caller past its wait.
echoanswer drain(const echohandle& handle, std::span<std::uint8_t> buffer,
                 const echorequestkey& key) {
    constexpr int readsperwake = 256;
    for (int reads = 0; reads < readsperwake; ++reads) {
        received r;
        if (handle.kind == socketkind::raw) {
            r = readraw(handle.fd, buffer, key);
        } else {
            r = readerrorqueue(handle.fd, buffer, key);
            if (r.answer.kind == answerkind::unrelated && !r.more) {
                r = readdatagram(handle.fd, buffer, key);
            }
        }
        if (r.answer.kind != answerkind::unrelated || !r.more) {
            return r.answer;
        }
    }
    return {};
}

std::optional<echoanswer> awaitanswer(const echohandle& handle, std::span<std::uint8_t> buffer,
                                      const echorequestkey& key, steadyclock::time_point deadline) {
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - steadyclock::now());
        const long long wait = std::clamp<long long>(left.count(), 0, INT_MAX);
        pollfd wanted{handle.fd, POLLIN, 0};
        const int ready = poll(&wanted, 1, static_cast<int>(wait));
        if (ready > 0) {
            const echoanswer answer = drain(handle, buffer, key);
            if (answer.kind != answerkind::unrelated) {
                return answer;
            }
        } else if (ready < 0 && errno != EINTR) {
            return std::nullopt;
        }
        if (steadyclock::now() >= deadline) {
            return std::nullopt;
        }
    }
}

// The reply buffer must hold a record, the data sent and an ICMP error's
// worth of bytes, whatever comes back.
bool replyfits(std::uint16_t requestsize, std::uint32_t replysize) {
    return replysize >= sizeof(ICMP_ECHO_REPLY) + requestsize + icmpheadersize;
}

std::uint32_t sendecho(echohandle& handle, std::uint32_t destination,
                       std::span<const std::uint8_t> request, IP_OPTION_INFORMATION* options,
                       void* replybuffer, std::uint32_t replysize, std::uint32_t timeout) {
    if (destination == INADDR_ANY) {
        setlasterror(ipstatus::baddestination);
        return 0;
    }
    if (!applyoptions(handle.fd, options)) {
        setlasterror(ipstatus::badoption);
        return 0;
    }
    echorequestkey key;
    key.ident = handle.ident;
    do {
        key.sequence = random16();
    } while (key.sequence == handle.lastsequence);
    handle.lastsequence = key.sequence;
    key.destination = destination;
    const auto start = steadyclock::now();
    if (const std::uint32_t failure =
            sendrequest(handle, buildechorequest(key, request), destination);
        failure != 0) {
        setlasterror(failure);
        return 0;
    }
    key.ident = handle.ident;
    // Room for the largest IP packet, left uninitialised: a read touches only
    // the pages it fills, and zeroing 64 KiB would cost a probe process more
    // page faults than all the rest of its echo.
    constexpr std::size_t largestpacket = 65536;
    const auto storage = std::make_unique_for_overwrite<std::uint8_t[]>(largestpacket);
    const std::span<std::uint8_t> buffer(storage.get(), largestpacket);
    const auto answer =
        awaitanswer(handle, buffer, key, start + std::chrono::milliseconds(timeout));
    if (!answer) {
        setlasterror(ipstatus::reqtimedout);
        return 0;
    }
    const auto roundtrip =
        std::chrono::duration_cast<std::chrono::milliseconds>(steadyclock::now() - start);
    return storereply(*answer, static_cast<std::uint32_t>(roundtrip.count()), replybuffer,
                      replysize);
}

} // namespace

ICMPECHO_EXPORT icmphandle IcmpCreateFile() {
    std::optional<echohandle> opened = opensocket(socketkind::datagram);
    if (!opened) {
        opened = opensocket(socketkind::raw);
    }
    if (!opened) {
        return icmpinvalidhandle();
    }
    auto* handle = new (std::nothrow) echohandle(*opened);
    if (handle == nullptr) {
        close(opened->fd);
        setlasterror(ipstatus::noresources);
        return icmpinvalidhandle();
    }
    return handle;
}

ICMPECHO_EXPORT int IcmpCloseHandle(icmphandle handle) {
    echohandle* echo = validhandle(handle);
    if (echo == nullptr) {
        setlasterror(errorinvalidparameter);
        return 0;
    }
    const int closed = close(echo->fd);
    const int error = errno;
    delete echo;
    if (closed != 0) {
        errno = error;
        return 0;
    }
    return 1;
}

ICMPECHO_EXPORT std::uint32_t IcmpSendEcho(icmphandle handle, ipaddr destination, void* requestdata,
                                           std::uint16_t requestsize,
                                           IP_OPTION_INFORMATION* requestoptions, void* replybuffer,
                                           std::uint32_t replysize, std::uint32_t timeout) {
    echohandle* echo = validhandle(handle);
    if (echo == nullptr || replybuffer == nullptr || (requestdata == nullptr && requestsize != 0)) {
        setlasterror(errorinvalidparameter);
        return 0;
    }
    if (!replyfits(requestsize, replysize)) {
        setlasterror(ipstatus::buftoosmall);
        return 0;
    }
    const std::span<const std::uint8_t> request(static_cast<const std::uint8_t*>(requestdata),
                                                requestsize);
    try {
        return sendecho(*echo, destination, request, requestoptions, replybuffer, replysize,
                        timeout);
    } catch (const std::bad_alloc&) {
        setlasterror(ipstatus::noresources);
        return 0;
    }
}

static_assert(std::is_same_v<decltype(&IcmpCreateFile), icmpcreatefilefn>);
static_assert(std::is_same_v<decltype(&IcmpCloseHandle), icmpclosehandlefn>);
static_assert(std::is_same_v<decltype(&IcmpSendEcho), icmpsendechofn>);
