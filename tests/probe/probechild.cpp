// SPDX-License-Identifier: GPL-3.0-or-later
#include "probechild.h"

#include "childprocess.h"
#include "testsupport.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A probe that has not ended by then is killed and reported as not exited.
constexpr auto proberunlimit = std::chrono::seconds(30);

class ownedfd {
  public:
    explicit ownedfd(int fd = -1) : fd_(fd) {}
    ~ownedfd() { reset(); }
    ownedfd(const ownedfd&) = delete;
    ownedfd& operator=(const ownedfd&) = delete;
    int get() const { return fd_; }
    void reset(int fd = -1) {
        if (fd_ >= 0) {
            close(fd_);
        }
        fd_ = fd;
    }

  private:
    int fd_;
};

// The address the monitor gives the pipe with that index; written out here
// on its own so that a change on either side shows.
socklen_t pipeaddress(const std::string& directory, int index, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    const int n = std::snprintf(address.sun_path, sizeof address.sun_path, "%s/%s",
                                directory.c_str(), resultpipename(index).c_str());
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + n + 1);
}

// The listening pipe. When `foreign`, a short-lived child makes it listen,
// so that the pipe's credentials are not those of the probe's parent.
int makepipe(const std::string& directory, int index, int backlog, bool foreign) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address;
    const socklen_t length = pipeaddress(directory, index, address);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
        std::perror("test pipe");
        std::abort();
    }
    if (foreign) {
        const pid_t other = fork();
        if (other == 0) {
            _exit(listen(fd, backlog) == 0 ? 0 : 1);
        }
        int status = 0;
        if (other < 0 || waitpid(other, &status, 0) != other || status != 0) {
            std::abort();
        }
    } else if (listen(fd, backlog) != 0) {
        std::perror("test pipe");
        std::abort();
    }
    return fd;
}

int connectdecoy(const std::string& directory, int index) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address;
    const socklen_t length = pipeaddress(directory, index, address);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
        std::perror("decoy client");
        std::abort();
    }
    return fd;
}

// The connection the probe made, if any, and what it wrote before closing.
void takeverdict(int pipe, pid_t child, proberun& run) {
    for (;;) {
        ownedfd connection(accept4(pipe, nullptr, nullptr, SOCK_CLOEXEC));
        if (connection.get() < 0) {
            return;
        }
        ucred peer{};
        socklen_t length = sizeof peer;
        getsockopt(connection.get(), SOL_SOCKET, SO_PEERCRED, &peer, &length);
        if (peer.pid != child) {
            continue; // the decoy of a taken pipe
        }
        // The probe may connect to a foreign pipe before it sees whose it
        // is; what counts is that it writes nothing there.
        run.connected = true;
        run.peeristheprobe = true;
        char chunk[512];
        ssize_t n;
        while ((n = read(connection.get(), chunk, sizeof chunk)) > 0) {
            run.pipebytes.append(chunk, static_cast<std::size_t>(n));
        }
    }
}

} // namespace

proberun runprobe(const proberequest& request) {
    // A private directory for the pipes of one run, as the monitor makes one.
    const tempdir directory;
    ownedfd pipe;
    ownedfd decoy;
    if (request.mode != pipemode::absent) {
        pipe.reset(makepipe(directory.path(), request.pipeindex,
                            request.mode == pipemode::taken ? 0 : 4,
                            request.mode == pipemode::foreign));
    }
    if (request.mode == pipemode::closed) {
        pipe.reset();
    }
    if (request.mode == pipemode::taken) {
        decoy.reset(connectdecoy(directory.path(), request.pipeindex));
    }
    std::vector<std::string> env = environmentwithout({"QUORVEL_PIPES", "ICMPECHO_STANDIN"});
    if (request.mode != pipemode::unnamed) {
        env.push_back("QUORVEL_PIPES=" + directory.path());
    }
    if (!request.standinscript.empty()) {
        env.push_back("ICMPECHO_STANDIN=" + request.standinscript);
    }
    std::vector<std::string> argv{request.program};
    argv.insert(argv.end(), request.args.begin(), request.args.end());
    ChildProcess child(argv, env, true);
    const pid_t pid = child.pid();
    proberun run;
    child.finish(proberunlimit);
    run.printed = child.out();
    run.exitcode = child.exited() ? child.status() : -1;
    if (pipe.get() >= 0) {
        takeverdict(pipe.get(), pid, run);
    }
    return run;
}

standinlog::standinlog() {
    char name[] = "/tmp/zendrik-standin-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) {
        std::abort();
    }
    close(fd);
    path_ = name;
}

standinlog::~standinlog() {
    unlink(path_.c_str());
}

std::string standinlog::calls() const {
    std::ifstream file(path_);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}
