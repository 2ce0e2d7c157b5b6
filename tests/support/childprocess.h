// SPDX-License-Identifier: GPL-3.0-or-later
// Runs a program of the build as a child process with its standard streams on
// pipes, for tests that must see what a real process prints and how it ends.
// Every wait is bounded; a child still running at the end is killed.
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

class ChildProcess {
  public:
    // Starts argv[0] with exactly the given environment ("NAME=value" words).
    // With `merged`, standard error goes where standard output goes, so that
    // out() keeps the order in which the child wrote its lines.
    ChildProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                 bool merged = false);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Reads standard output until it holds at least `want` bytes, it ends, or
    // the time is up; returns everything read so far.
    const std::string& readstdout(std::size_t want, std::chrono::milliseconds timeout);

    // Closes the child's standard input, reads both outputs to their end and
    // waits for the child. Returns false when that took longer than allowed
    // (the child is then killed).
    bool finish(std::chrono::milliseconds timeout);

    // After finish: the exit status, or 128 + the signal that ended the child.
    int status() const { return status_; }
    // After finish: whether the child ended by exit, not by a signal.
    bool exited() const { return exited_; }
    pid_t pid() const { return pid_; }
    const std::string& out() const { return out_; }
    const std::string& err() const { return err_; }

  private:
    bool pump(std::chrono::steady_clock::time_point deadline, bool untilclosed, std::size_t want);
    void drain(const struct pollfd& ready, int& fd, std::string& text);
    void closefd(int& fd);

    pid_t pid_ = -1;
    int in_ = -1;
    int outfd_ = -1;
    int errfd_ = -1;
    int status_ = -1;
    bool exited_ = false;
    std::string out_;
    std::string err_;
};

// The environment of this process, less the variables named.
std::vector<std::string> environmentwithout(const std::vector<std::string>& names);
