// SPDX-License-Identifier: GPL-3.0-or-later
// The dispatcher tests' helpers that look at Linux itself: /proc, fork and the
// pipe directory.
#include "testsupport.h"

#include "pipepath_linux.h"
#include "pipeserver_linux.h"
#include "process_posix.h"

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

int countdescriptors() {
    int n = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/fd")) {
        ++n;
    }
    return n - 1; // the iterator's own descriptor
}

int countchildren() {
    int n = 0;
    const std::string me = std::to_string(getpid());
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line)) {
            continue;
        }
        // pid (comm) state ppid ...: comm may hold spaces, so start after ')'.
        const auto close = line.rfind(')');
        char state = 0;
        long ppid = 0;
        if (close != std::string::npos &&
            std::sscanf(line.c_str() + close + 1, " %c %ld", &state, &ppid) == 2 &&
            std::to_string(ppid) == me) {
            ++n;
        }
    }
    return n;
}

bool processexists(long pid) {
    return std::filesystem::exists("/proc/" + std::to_string(pid));
}

std::vector<std::string> waitingmodes() {
    return {"pidfd", "polling"};
}

void usewaitingmode(const std::string& mode) {
    processforcepolling(mode == "polling");
}

crashoutcome crashedprobe() {
    static_assert(SIGABRT == 6, "the line below is written for SIGABRT 6");
    return {128 + SIGABRT, "exitCode=134/86\n"};
}

long startforger(int index, std::string_view word) {
    const std::string name = resultpipename(index);
    sockaddr_un address;
    const char* directory = pipeserverdirectory();
    const socklen_t length =
        directory != nullptr ? pipeaddress(directory, name.c_str(), &address) : 0;
    const std::string bytes(word);
    const pid_t pid = fork();
    if (pid != 0) {
        return pid;
    }
    for (int attempt = 0; attempt < 3000; ++attempt) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0) {
            // The monitor may refuse the stranger before its word is sent;
            // either way the forger did get through to the pipe.
            send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            close(fd);
            _exit(0);
        }
        close(fd);
        usleep(1000);
    }
    _exit(1);
}

int forgerexitcode(long pid) {
    int status = 0;
    if (waitpid(static_cast<pid_t>(pid), &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

pinnedpipes::pinnedpipes() : pipe_(pipeservercreate(resultpipename(31).c_str())) {}

pinnedpipes::~pinnedpipes() {
    pipeserverclose(pipe_);
}

std::string pinnedpipes::directory() const {
    const char* directory = pipeserverdirectory();
    return directory != nullptr ? directory : "";
}
