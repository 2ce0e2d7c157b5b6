// SPDX-License-Identifier: GPL-3.0-or-later
// The result pipe on POSIX is a Unix stream socket bound as a file in a
// directory of mode 0700 that the monitor makes for each cycle (mkdtemp under
// $XDG_RUNTIME_DIR, else /tmp); see dispatch/pipeserver_linux.cpp for why.
// The directory's path comes from the probe's environment (QUORVEL_PIPES),
// never from its command line, and the pipe name is formed from "-i" as
// always: the socket is <directory>/<pipe name> (pipepath_linux.h). A probe
// started by hand has no such variable, finds no pipe and ends with exit
// code 1.
//
// The probe trusts the other end only when it is its own parent, running as
// its own user (SO_PEERCRED): whoever else set the variable or bound the
// name hears nothing. A connect to a name nobody listens on fails at once,
// and bytes written before the monitor reads stay queued on the connection
// even after the probe has exited.
#include "pipepath_linux.h"
#include "resultpipe.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// A server is trusted only when it is the probe's own parent under the
// probe's own user. A parent that the kernel cannot name (pid 0, outside the
// probe's PID namespace) is no one's.
bool trustedserver(int fd) {
    ucred server{};
    socklen_t length = sizeof server;
    const pid_t parent = getppid();
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &server, &length) == 0 && parent > 0 &&
           server.pid == parent && server.uid == getuid();
}

} // namespace

pipehandle pipeclientopen(const char* pipename, int waitmsec) {
    sockaddr_un address;
    const socklen_t length = pipeaddress(std::getenv(pipeenvironmentname), pipename, &address);
    if (length == 0) {
        return invalidpipehandle;
    }
    // Other processes of the same user can connect to the pipe and fill its
    // queue before the probe does; the monitor refuses such connections, so
    // room comes soon. A blocking connect sleeps until then, bounded by the
    // send time-out. A name nobody listens on fails at once all the same,
    // and a blocked connect fails as soon as the monitor closes its pipe. The
    // write that follows is a few bytes into an empty socket buffer.
    const int type = SOCK_STREAM | SOCK_CLOEXEC | (waitmsec > 0 ? 0 : SOCK_NONBLOCK);
    const int fd = socket(AF_UNIX, type, 0);
    if (fd < 0) {
        return invalidpipehandle;
    }
    if (waitmsec > 0) {
        const timeval wait{waitmsec / 1000, static_cast<suseconds_t>(waitmsec % 1000) * 1000};
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    }
    int rc;
    do {
        rc = connect(fd, reinterpret_cast<const sockaddr*>(&address), length);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0 || !trustedserver(fd)) {
        close(fd);
        return invalidpipehandle;
    }
    return fd;
}

long pipeclientwrite(pipehandle pipe, const void* bytes, std::size_t count) {
    // MSG_NOSIGNAL: a monitor that has already closed its end must not kill
    // the probe with SIGPIPE; the write just fails.
    ssize_t n;
    do {
        n = send(static_cast<int>(pipe), bytes, count, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

bool pipeclientclose(pipehandle pipe) {
    return close(static_cast<int>(pipe)) == 0;
}
