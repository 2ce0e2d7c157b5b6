// The result pipe on POSIX is a Unix stream socket in the abstract namespace,
// named after the monitor's process id; see probe/resultpipe_posix.cpp for why.
// The probe formats the same address with its own few lines; a test holds the
// two together.
#include "pipeserver.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {
// A few pending connections: the real probe must still get through when
// another local process has connected first and is waiting to be refused.
constexpr int acceptqueue = 8;
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
