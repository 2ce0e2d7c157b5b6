// SPDX-License-Identifier: GPL-3.0-or-later
// The result pipe on POSIX is a Unix stream socket, bound as a file in a
// directory that only this process's user can enter.
//
// Why this mechanism: a name in the abstract namespace (or any name that is
// known from the monitor's process id) can be bound first, connected to or
// flooded by every local user. Here each cycle's pipes live in a fresh
// directory of mode 0700 made with mkdtemp in a parent of the user's that
// holds nothing else: $XDG_RUNTIME_DIR/quorvel when the runtime directory is
// private to the user, else /tmp/quorvel-<uid>. The cycle directory's path
// reaches the probes in their environment (pipeserverenvironment), never on
// a command line, and no other user can enter it to bind, connect or fill
// anything. Within the user, SO_PEERCRED tells who connected, and only the
// probe started for a host is heard (pipeacceptable). A connect to a name
// nobody listens on fails at once (the probe's open fails when the monitor
// has closed its pipe); bytes written before the monitor reads stay queued
// on the connection even after the probe has ended.
//
// Nothing stays on disk: each socket file goes with its pipe and the cycle
// directory with the last pipe. The cycle directory is locked (flock) while
// it is in use, so that the directory of a monitor that was killed, which
// the kernel unlocks, is swept away by the next monitor of the user, once,
// at its first cycle. The sweep looks only into the parent, which is made
// for nothing else, and removes nothing but socket files and the directories
// they leave empty: a directory of the user's own that happens to look like
// ours keeps every file. The parent is checked after it is opened (the
// user's, mode 0700, no link): when someone else holds its name in /tmp, the
// monitor makes a fresh parent of its own with mkdtemp for this run and
// sweeps nothing. The rest of /tmp is never read, so what other users put
// there costs a cycle nothing.
#include "pipeserver_linux.h"

#include "pipeaccept.h"
#include "pipepath_linux.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <string_view>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
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

// A cycle directory's name: the prefix and mkdtemp's six characters.
constexpr std::string_view directoryprefix = "pipes-";
constexpr std::size_t directorynamelength = directoryprefix.size() + 6;

// A directory younger than this is never swept: its maker may not have
// locked it yet.
constexpr time_t sweepafterseconds = 10;

// The parent of this run's cycle directories, chosen at the first cycle.
struct pipeparent {
    std::string path;
    bool sweep = false; // the user's own parent, shared with the user's other monitors
    bool chosen = false;
};
pipeparent parent;

// The directory that holds the pipes that exist now, and how many they are.
struct pipedirectory {
    std::string path;
    std::string environment;
    int lock = -1;
    int pipes = 0;
};
pipedirectory current;

// Whether every pipe's path under a parent of that length fits an address.
bool fitsaddress(std::size_t parentlength) {
    return parentlength + 1 + directorynamelength + 1 + longestpipename <
           sizeof(sockaddr_un::sun_path);
}

// Only this user may enter it, and it is the directory itself, not a link.
bool privatedirectory(int fd) {
    struct stat info;
    return fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == geteuid() &&
           (info.st_mode & 077) == 0;
}

bool privatepath(const char* path) {
    const int fd = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const bool ok = fd >= 0 && privatedirectory(fd);
    if (fd >= 0) {
        close(fd);
    }
    return ok;
}

// $XDG_RUNTIME_DIR/quorvel when the runtime directory is the user's own and
// no one else's; else /tmp/quorvel-<uid>; else, when that name is taken by
// someone else (or is not a private directory), a fresh one for this run.
pipeparent chooseparent() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    constexpr std::string_view ours = "/quorvel";
    std::string named;
    if (runtime != nullptr && runtime[0] == '/' && fitsaddress(std::strlen(runtime) + ours.size()) &&
        privatepath(runtime)) {
        named = std::string(runtime) + std::string(ours);
    } else {
        named = "/tmp/quorvel-" + std::to_string(geteuid());
    }
    if ((mkdir(named.c_str(), 0700) == 0 || errno == EEXIST) && privatepath(named.c_str())) {
        return {named, true, true};
    }
    std::string fresh = "/tmp/quorvel-XXXXXX";
    if (mkdtemp(fresh.data()) == nullptr) {
        return {};
    }
    return {fresh, false, true};
}

// Removes the socket files in a directory of ours that no one holds, then
// the directory when nothing else is left in it.
void removedirectory(int base, const char* name, int directory) {
    const int listing = dup(directory);
    DIR* entries = listing >= 0 ? fdopendir(listing) : nullptr;
    if (entries == nullptr) {
        if (listing >= 0) {
            close(listing);
        }
        return;
    }
    while (const dirent* entry = readdir(entries)) {
        struct stat info;
        if (fstatat(directory, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISSOCK(info.st_mode)) {
            unlinkat(directory, entry->d_name, 0);
        }
    }
    closedir(entries);
    unlinkat(base, name, AT_REMOVEDIR); // fails, as it should, on anything left
}

// Sweeps away the cycle directories that monitors of this user left when
// they were killed: their lock went with them.
void sweep(const std::string& base) {
    const int basefd = open(base.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (basefd < 0 || !privatedirectory(basefd)) {
        if (basefd >= 0) {
            close(basefd);
        }
        return;
    }
    const int listing = dup(basefd);
    DIR* entries = listing >= 0 ? fdopendir(listing) : nullptr;
    if (entries == nullptr) {
        if (listing >= 0) {
            close(listing);
        }
        close(basefd);
        return;
    }
    const time_t now = std::time(nullptr);
    while (const dirent* entry = readdir(entries)) {
        const std::string_view name = entry->d_name;
        struct stat info;
        if (name.size() != directorynamelength || !name.starts_with(directoryprefix) ||
            fstatat(basefd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISDIR(info.st_mode) || info.st_uid != geteuid() ||
            now - info.st_mtime < sweepafterseconds) {
            continue;
        }
        const int directory =
            openat(basefd, entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (directory < 0) {
            continue;
        }
        if (flock(directory, LOCK_EX | LOCK_NB) == 0) {
            removedirectory(basefd, entry->d_name, directory);
        }
        close(directory);
    }
    closedir(entries);
    close(basefd);
}

// Makes the directory for the pipes to come, locked while it is in use. The
// parent is chosen, and swept, once per run.
bool makedirectory() {
    if (!parent.chosen) {
        parent = chooseparent();
        if (parent.sweep) {
            sweep(parent.path);
        }
    }
    if (parent.path.empty() || !fitsaddress(parent.path.size())) {
        parent = pipeparent{}; // looked for again at the next cycle
        return false;
    }
    std::string path = parent.path + "/" + std::string(directoryprefix) + "XXXXXX";
    if (mkdtemp(path.data()) == nullptr) {
        parent = pipeparent{}; // gone meanwhile: chosen and made again next time
        return false;
    }
    const int lock = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (lock < 0 || flock(lock, LOCK_EX) != 0) {
        if (lock >= 0) {
            close(lock);
        }
        rmdir(path.c_str());
        return false;
    }
    current.environment = std::string(pipeenvironmentname) + "=" + path;
    current.path = std::move(path);
    current.lock = lock;
    return true;
}

void releasedirectory() {
    if (--current.pipes > 0) {
        return;
    }
    const int basefd =
        open(parent.path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (basefd >= 0) {
        removedirectory(basefd, current.path.c_str() + parent.path.size() + 1, current.lock);
        close(basefd);
    }
    close(current.lock);
    current = pipedirectory{};
}

// Takes the pending connections one by one and returns the first that
// pipeacceptable takes for a host whose probe is `probepid`, closing the
// others unread. -1 when the queue holds none; `broken` tells a failing
// listener from an empty queue.
int acceptfrom(int listener, long probepid, bool taken, deadline until, bool& broken) {
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
        ucred credentials{};
        socklen_t length = sizeof credentials;
        if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) == 0 &&
            pipeacceptable({credentials.pid, static_cast<long>(credentials.uid)}, probepid,
                           static_cast<long>(geteuid()), taken)) {
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

const char* pipeserverdirectory() {
    return current.pipes > 0 ? current.path.c_str() : nullptr;
}

const char* pipeserverenvironment(pipehandle /*pipe*/) {
    // Every pipe of the cycle lies in the one cycle directory.
    return current.pipes > 0 ? current.environment.c_str() : nullptr;
}

pipehandle pipeservercreate(const char* pipename) {
    if (std::strchr(pipename, '/') != nullptr || (current.pipes == 0 && !makedirectory())) {
        return invalidpipehandle;
    }
    ++current.pipes;
    sockaddr_un address;
    const socklen_t length = pipeaddress(current.path.c_str(), pipename, &address);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (length == 0 || fd < 0 ||
        bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 ||
        listen(fd, acceptqueue) != 0) {
        if (fd >= 0) {
            close(fd);
        }
        releasedirectory();
        return invalidpipehandle;
    }
    return fd;
}

void pipeserverclose(pipehandle pipe) {
    if (pipe == invalidpipehandle) {
        return;
    }
    // The socket file goes first, so that no probe finds a name that no one
    // listens on any more; then the directory, with the last pipe.
    sockaddr_un address{};
    socklen_t length = sizeof address;
    const int fd = static_cast<int>(pipe);
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
        length > offsetof(sockaddr_un, sun_path) && address.sun_path[0] == '/') {
        address.sun_path[sizeof address.sun_path - 1] = '\0';
        unlink(address.sun_path);
    }
    close(fd);
    if (current.pipes > 0) {
        releasedirectory();
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
        const int connection = acceptfrom(listener, client.id(), false, until, broken);
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
            bool broken = false;
            const int connection = acceptfrom(events[k].fd, clients[k].id(),
                                              taken[k].get() != invalidpipehandle, until, broken);
            if (connection >= 0) {
                taken[k].reset(connection);
            }
            if (broken) {
                events[k].fd = -1; // a listener that fails is not looked at again
            }
        }
    }
}
