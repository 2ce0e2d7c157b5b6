// SPDX-License-Identifier: GPL-3.0-or-later
// Runs one program once and reports how long it took from its start to its
// end and the most memory it held:
//
//   runmeter PROGRAM [ARG...]    ->  "ms=… rss_kb=… exit=…" on stdout
//
// The program's own output goes to /dev/null. The peak is the child's
// ru_maxrss. A child started with posix_spawnp shares this process's memory
// until its exec, and the kernel may count what this process held then into
// the child's peak; runmeter is linked statically and kept small so that this
// floor stays far below the programs it compares (an empty static program
// measures about 0.5 MB here).
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

extern char** environ;

namespace {

double nowms() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

int usage() {
    std::fputs("usage: runmeter PROGRAM [ARG...]\n", stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return usage();
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const double start = nowms();
    pid_t pid = 0;
    const int failed = posix_spawnp(&pid, argv[1], &actions, nullptr, argv + 1, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed != 0) {
        std::fprintf(stderr, "runmeter: cannot start %s (error %d)\n", argv[1], failed);
        return 1;
    }
    int status = 0;
    rusage usage{};
    pid_t ended;
    do {
        ended = wait4(pid, &status, 0, &usage);
    } while (ended < 0 && errno == EINTR);
    const double took = nowms() - start;
    if (ended != pid) {
        std::fprintf(stderr, "runmeter: lost %s\n", argv[1]);
        return 1;
    }
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::printf("ms=%.3f rss_kb=%ld exit=%d\n", took, usage.ru_maxrss, code);
    return 0;
}
