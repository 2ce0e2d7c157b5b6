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
#include <sys/time.h>
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

pipehandle pipeclientopen(const char* pipename, int waitmsec) {
    sockaddr_un address;
    const socklen_t length = pipeclientaddress(pipename, static_cast<long>(getppid()), &address);
    if (length == 0) {
        return invalidpipehandle;
    }
    // Any local process can connect to the name and fill the pipe's queue
    // before the probe does; the monitor refuses such connections, so room
    // comes soon. A blocking connect sleeps until then, bounded by the send
    // time-out. A name nobody listens on fails at once all the same, and a
    // blocked connect fails as soon as the monitor closes its pipe. The write
    // that follows is a few bytes into an empty socket buffer.
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
    if (rc != 0) {
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
