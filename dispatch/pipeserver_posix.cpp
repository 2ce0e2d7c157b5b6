// The result pipe on POSIX is a Unix stream socket in the abstract namespace,
// named after the monitor's process id; see probe/resultpipe_posix.cpp for why.
// The probe formats the same address with its own few lines; a test holds the
// two together.
#include "pipeserver.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
// Room for a burst of connections between two looks: the real probe must
// still get through when other local processes have connected first and
// wait to be refused.
constexpr int acceptqueue = 64;

// The most pipes one guard watches: a cycle's.
constexpr std::size_t guardedpipes = 32;

// Where the probe's end cannot be slept on (no pidfd), the wait for its
// connection looks again after at most this long.
constexpr int pollslicemsec = 10;

// Takes the pending connections one by one and returns the first that comes
// from the given process, closing the others unread. -1 when the queue holds
// none; `broken` tells a failing listener from an empty queue.
int acceptfrom(int listener, long pid, deadline until, bool& broken) {
    broken = false;
    for (;;) {
        const int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) {
                continue;
            }
            broken = errno != EAGAIN && errno != EWOULDBLOCK;
            return -1;
        }
        ucred peer{};
        socklen_t length = sizeof peer;
        if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.pid == pid) {
            return fd;
        }
        close(fd);
        // A flood of intruders must not hold the monitor past the deadline.
        if (msecuntil(until) == 0) {
            return -1;
        }
    }
}
} // namespace

socklen_t pipeserveraddress(const char* pipename, long monitorpid, sockaddr_un* address) {
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    char* text = address->sun_path + 1; // a leading NUL selects the abstract namespace
    const std::size_t room = sizeof address->sun_path - 1;
    const int n = std::snprintf(text, room, "quorvel/%ld/%s", monitorpid, pipename);
    if (n < 0 || static_cast<std::size_t>(n) >= room) {
        return 0;
    }
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
}

pipehandle pipeservercreate(const char* pipename) {
    sockaddr_un address;
    const socklen_t length = pipeserveraddress(pipename, static_cast<long>(getpid()), &address);
    if (length == 0) {
        return invalidpipehandle;
    }
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return invalidpipehandle;
    }
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
        listen(fd, acceptqueue) != 0) {
        close(fd);
        return invalidpipehandle;
    }
    return fd;
}

void pipeserverclose(pipehandle pipe) {
    if (pipe != invalidpipehandle) {
        close(static_cast<int>(pipe));
    }
}

pipehandle pipeserverawaitclient(pipehandle pipe, const childprocess& client, deadline until) {
    if (pipe == invalidpipehandle || client.empty()) {
        return invalidpipehandle;
    }
    const int listener = static_cast<int>(pipe);
    for (int slice = 1;; slice = std::min(2 * slice, pollslicemsec)) {
        // The probe's end is looked at before the queue: a probe that has
        // connected, written and ended by now is then still found in it.
        const bool ended = processended(client);
        bool broken = false;
        const int connection = acceptfrom(listener, client.id(), until, broken);
        if (connection >= 0) {
            return connection;
        }
        const int left = msecuntil(until);
        if (ended || broken || left == 0) {
            return invalidpipehandle;
        }
        pollfd events[2] = {{listener, POLLIN, 0},
                            {static_cast<int>(client.waitable()), POLLIN, 0}};
        if (events[1].fd >= 0) {
            poll(events, 2, left);
        } else {
            poll(events, 1, std::min(left, slice));
        }
    }
}

long pipeserverread(pipehandle connection, void* bytes, std::size_t count, deadline until) {
    if (connection == invalidpipehandle) {
        return 0;
    }
    const int fd = static_cast<int>(connection);
    for (;;) {
        pollfd event{fd, POLLIN, 0};
        const int ready = poll(&event, 1, msecuntil(until));
        if (ready > 0) {
            break;
        }
        if (ready == 0 || errno != EINTR) {
            return 0;
        }
    }
    ssize_t n;
    do {
        n = recv(fd, bytes, count, MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    return n < 0 ? 0 : static_cast<long>(n);
}

void pipeserverdisconnect(pipehandle connection) {
    if (connection != invalidpipehandle) {
        close(static_cast<int>(connection));
    }
}

void pipeserverguard(std::span<const pipeslot> pipes, std::span<const childprocess> clients,
                     std::span<pipeconnection> taken, deadline until) {
    const std::size_t count = std::min({pipes.size(), clients.size(), taken.size(), guardedpipes});
    std::array<pollfd, guardedpipes> events{};
    for (std::size_t k = 0; k < count; ++k) {
        events[k] = {static_cast<int>(pipes[k].get()), POLLIN, 0};
    }
    for (int left = msecuntil(until); left > 0; left = msecuntil(until)) {
        const int ready = poll(events.data(), count, left);
        if (ready < 0 && errno != EINTR) {
            return;
        }
        for (std::size_t k = 0; k < count && ready > 0; ++k) {
            if (events[k].revents == 0) {
                continue;
            }
            // An empty slot's process id 0 is no one's: all are refused.
            const bool waiting = taken[k].get() == invalidpipehandle;
            const long client = waiting ? clients[k].id() : 0;
            bool broken = false;
            const int connection = acceptfrom(events[k].fd, client, until, broken);
            if (connection >= 0) {
                taken[k].reset(connection);
            }
            if (broken) {
                events[k].fd = -1; // a listener that fails is not looked at again
            }
        }
    }
}
