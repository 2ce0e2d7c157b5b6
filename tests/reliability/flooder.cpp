// A hostile local process for the reliability tests: it attacks the result
// pipes of one monitor, as any program of any user on the machine could.
//
//   flooder MONITORPID COUNT WORD
//
// Tries the pipes 0 to COUNT-1 of that monitor over and over. On every pipe
// that exists it connects without waiting, again and again until the pipe's
// queue takes no more, and closes each connection at once: the connection
// stays queued until the monitor takes it, so the queue is kept full. WORD,
// unless it is "-", is written into every connection first (for example
// "alive", to speak for a host). Prints "ready" once it runs, and stops when
// its standard input ends or after 60 s, whichever comes first; then prints
// "connections=N full=M", M counting the times a queue was found full.
#include "pipeserver.h"

#include <cerrno>
#include <chrono>
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
            return false;
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: flooder MONITORPID COUNT WORD\n");
        return 2;
    }
    const long monitor = std::atol(argv[1]);
    const int count = std::atoi(argv[2]);
    const std::string_view word = std::string_view(argv[3]) == "-" ? "" : argv[3];
    std::vector<sockaddr_un> addresses(static_cast<std::size_t>(count));
    std::vector<socklen_t> lengths(static_cast<std::size_t>(count));
    for (int k = 0; k < count; ++k) {
        char name[256];
        std::snprintf(name, sizeof name, "\\\\.\\pipe\\mypipe%d", k);
        lengths[k] = pipeserveraddress(name, monitor, &addresses[k]);
    }
    std::printf("ready\n");
    std::fflush(stdout);
    tally counts;
    const auto end = std::chrono::steady_clock::now() + longestrun;
    while (std::chrono::steady_clock::now() < end && !inputended()) {
        bool anypipe = false;
        for (int k = 0; k < count; ++k) {
            anypipe = fill(addresses[k], lengths[k], word, counts) || anypipe;
        }
        if (!anypipe) {
            usleep(200); // no cycle running: look again soon
        }
    }
    std::printf("connections=%ld full=%ld\n", counts.connections, counts.full);
    return 0;
}
