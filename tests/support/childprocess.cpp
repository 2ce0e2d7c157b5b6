// SPDX-License-Identifier: GPL-3.0-or-later
#include "childprocess.h"

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

std::array<int, 2> makepipe() {
    std::array<int, 2> ends{};
    if (pipe2(ends.data(), O_CLOEXEC) != 0) {
        throw std::runtime_error(std::string("pipe2: ") + std::strerror(errno));
    }
    return ends;
}

std::vector<char*> cwords(const std::vector<std::string>& words) {
    std::vector<char*> out;
    out.reserve(words.size() + 1);
    for (const std::string& w : words) {
        out.push_back(const_cast<char*>(w.c_str()));
    }
    out.push_back(nullptr);
    return out;
}

} // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv,
                           const std::vector<std::string>& env, bool merged) {
    const std::array<int, 2> in = makepipe();
    const std::array<int, 2> out = makepipe();
    const std::array<int, 2> err = merged ? out : makepipe();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> args = cwords(argv);
    std::vector<char*> envp = cwords(env);
    const int rc = posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    in_ = in[1];
    outfd_ = out[0];
    if (!merged) {
        close(err[1]);
        errfd_ = err[0];
    }
    if (rc != 0) {
        pid_ = -1;
        throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
    }
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    closefd(in_);
    closefd(outfd_);
    closefd(errfd_);
}

void ChildProcess::closefd(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

// Moves whatever the child wrote into out_ and err_ until the deadline, until
// both streams are closed (untilclosed) or until out_ holds `want` bytes.
bool ChildProcess::pump(std::chrono::steady_clock::time_point deadline, bool untilclosed,
                        std::size_t want) {
    while (outfd_ >= 0 || errfd_ >= 0) {
        if (!untilclosed && out_.size() >= want) {
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        std::array<pollfd, 2> fds{{{outfd_, POLLIN, 0}, {errfd_, POLLIN, 0}}};
        if (poll(fds.data(), fds.size(), static_cast<int>(left.count())) < 0 && errno != EINTR) {
            return false;
        }
        drain(fds[0], outfd_, out_);
        drain(fds[1], errfd_, err_);
    }
    return untilclosed || out_.size() >= want;
}

void ChildProcess::drain(const pollfd& ready, int& fd, std::string& text) {
    if (fd < 0 || (ready.revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
        return;
    }
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
        text.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
        closefd(fd);
    }
}

const std::string& ChildProcess::readstdout(std::size_t want, std::chrono::milliseconds timeout) {
    pump(std::chrono::steady_clock::now() + timeout, false, want);
    return out_;
}

bool ChildProcess::finish(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    closefd(in_);
    if (pump(deadline, true, 0)) {
        for (;;) {
            int wstatus = 0;
            if (waitpid(pid_, &wstatus, WNOHANG) == pid_) {
                exited_ = WIFEXITED(wstatus);
                status_ = exited_ ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
                pid_ = -1;
                return true;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                break;
            }
            usleep(10'000);
        }
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    return false;
}

std::vector<std::string> environmentwithout(const std::vector<std::string>& names) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string word = *e;
        bool drop = false;
        for (const std::string& name : names) {
            drop = drop || word.rfind(name + "=", 0) == 0;
        }
        if (!drop) {
            env.push_back(word);
        }
    }
    return env;
}
