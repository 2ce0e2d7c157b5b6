// The result pipe on POSIX is a Unix stream socket in the abstract namespace.
//
// Why this mechanism: an abstract name leaves nothing on disk and vanishes
// with the socket that holds it; a connect to a name nobody listens on fails
// at once (requirement: the probe's open fails when the pipe does not exist
// or the monitor has closed it); bytes written before the monitor reads stay
// queued on the connection even after the probe has exited; and the monitor
// learns the connecting process from SO_PEERCRED, so it can take a verdict
// only from the probe it started. The name carries the monitor's process id,
// which the probe knows as its parent's, so the pipes of two monitors on one
// machine never meet.
#include "resultpipe.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

socklen_t pipeclientaddress(const char* pipename, long monitorpid, sockaddr_un* address) {
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    // sun_path[0] stays NUL: that is what puts the name in the abstract namespace.
    char* text = address->sun_path + 1;
    const std::size_t room = sizeof address->sun_path - 1;
    const int n = std::snprintf(text, room, "quorvel/%ld/%s", monitorpid, pipename);
    if (n < 0 || static_cast<std::size_t>(n) >= room) {
        return 0;
    }
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
}

pipehandle pipeclientopen(const char* pipename) {
    sockaddr_un address;
    const socklen_t length = pipeclientaddress(pipename, static_cast<long>(getppid()), &address);
    if (length == 0) {
        return invalidpipehandle;
    }
    // Non-blocking, so that a full accept queue makes the open fail at once
    // instead of stalling the probe; the write that follows is a few bytes
    // into an empty socket buffer and cannot block either.
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return invalidpipehandle;
    }
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
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
