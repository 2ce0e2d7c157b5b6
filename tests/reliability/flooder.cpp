// SPDX-License-Identifier: GPL-3.0-or-later
// A hostile local process for the reliability tests: it attacks the result
// pipes of one monitor, as any program of any user on the machine could.
//
//   flooder DIRECTORY MONITORPID COUNT WORD
//
// Tries the pipes 0 to COUNT-1 in the monitor's pipe directory over and over.
// On every pipe that exists it connects without waiting, again and again
// until the pipe's queue takes no more, and closes each connection at once:
// the connection stays queued until the monitor takes it, so the queue is
// kept full. WORD, unless it is "-", is written into every connection first
// (for example "alive", to speak for a host). WORD "squat" instead takes the
// pipes' names before the monitor does, wherever it can: in the directory,
// and under the abstract names that hold only the monitor's process id,
// which is all that any user can know of them. Prints "ready" once it runs,
// and stops when its standard input ends or after 60 s, whichever comes
// first; then prints "connections=N full=M denied=D squatted=S", M counting
// the times a queue was found full, D the attempts that the system refused
// for want of permission and S the names taken.
#include "pipename.h"

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <string_view>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr auto longestrun = std::chrono::seconds(60);

struct tally {
    long connections = 0;
    long full = 0;
    long denied = 0;
    long squatted = 0;
};

bool inputended() {
    pollfd in{0, POLLIN, 0};
    return poll(&in, 1, 0) > 0; // readable here means end of input: nobody writes to it
}

// Fills one pipe's queue; false when the pipe does not exist (yet or any more).
bool fill(const sockaddr_un& address, socklen_t length, std::string_view word, tally& counts) {
    for (int attempt = 0; attempt < 4096; ++attempt) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            return true;
        }
        const int rc = connect(fd, reinterpret_cast<const sockaddr*>(&address), length);
        const int error = errno;
        if (rc == 0) {
            ++counts.connections;
            if (!word.empty()) {
                send(fd, word.data(), word.size(), MSG_NOSIGNAL);
            }
        }
        close(fd);
        if (rc != 0) {
            if (error == EAGAIN) {
                ++counts.full;
                return true;
            }
            counts.denied += error == EACCES || error == EPERM;
            return false;
        }
    }
    return true;
}

// Binds the name and keeps it; false when it cannot be had.
bool squat(const sockaddr_un& address, socklen_t length, std::vector<int>& held, tally& counts) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0 || listen(fd, 1) != 0) {
        counts.denied += errno == EACCES || errno == EPERM;
        close(fd);
        return false;
    }
    held.push_back(fd);
    ++counts.squatted;
    return true;
}

socklen_t fileaddress(const char* directory, const char* name, sockaddr_un& address) {
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    const int n =
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s/%s", directory, name);
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + n + 1);
}

socklen_t abstractaddress(long monitor, const char* name, sockaddr_un& address) {
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    const int n = std::snprintf(address.sun_path + 1, sizeof address.sun_path - 1, "quorvel/%ld/%s",
                                monitor, name);
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + n);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: flooder DIRECTORY MONITORPID COUNT WORD\n");
        return 2;
    }
    const char* directory = argv[1];
    const long monitor = std::atol(argv[2]);
    const int count = std::atoi(argv[3]);
    const std::string_view word = std::string_view(argv[4]) == "-" ? "" : argv[4];
    const bool squatting = word == "squat";
    std::vector<sockaddr_un> addresses(static_cast<std::size_t>(count));
    std::vector<socklen_t> lengths(static_cast<std::size_t>(count));
    std::vector<int> held;
    tally counts;
    for (int k = 0; k < count; ++k) {
        const std::string pipe = resultpipename(k);
        const char* const name = pipe.c_str();
        lengths[k] = fileaddress(directory, name, addresses[k]);
        if (squatting) {
            sockaddr_un abstract;
            const socklen_t length = abstractaddress(monitor, name, abstract);
            squat(abstract, length, held, counts);
        }
    }
    std::printf("ready\n");
    std::fflush(stdout);
    const auto end = std::chrono::steady_clock::now() + longestrun;
    while (std::chrono::steady_clock::now() < end && !inputended()) {
        bool anypipe = false;
        for (int k = 0; k < count; ++k) {
            if (squatting) {
                squat(addresses[k], lengths[k], held, counts);
            } else {
                anypipe = fill(addresses[k], lengths[k], word, counts) || anypipe;
            }
        }
        if (!anypipe) {
            usleep(200); // no cycle running: look again soon
        }
    }
    for (const int fd : held) {
        close(fd);
    }
    std::printf("connections=%ld full=%ld denied=%ld squatted=%ld\n", counts.connections,
                counts.full, counts.denied, counts.squatted);
    return 0;
}
