// SPDX-License-Identifier: GPL-3.0-or-later
// The owner of one POSIX descriptor, for zendrik and its echo library alike
// (each compiles its own copy; they share no code at run time).
#pragma once

#include <unistd.h>
#include <utility>

class uniquefd {
  public:
    explicit uniquefd(int fd) : fd_(fd) {}
    ~uniquefd() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    uniquefd(const uniquefd&) = delete;
    uniquefd& operator=(const uniquefd&) = delete;
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

  private:
    int fd_;
};
