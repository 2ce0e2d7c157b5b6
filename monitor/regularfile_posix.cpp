// SPDX-License-Identifier: GPL-3.0-or-later
// Opened first, without blocking (a FIFO without a writer would hold the
// open for ever, and one swapped in after a check of the path would slip
// past it), then judged by fstat on what was opened.
#include "regularfile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

std::intptr_t regularfileopen(const char* path, std::string& why) {
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        why = std::generic_category().message(errno);
        return -1;
    }
    struct stat info;
    if (fstat(fd, &info) != 0) {
        why = std::generic_category().message(errno);
        close(fd);
        return -1;
    }
    if (!S_ISREG(info.st_mode)) {
        why = "not a regular file";
        close(fd);
        return -1;
    }
    return fd;
}

long regularfileread(std::intptr_t file, char* into, std::size_t count) {
    ssize_t n;
    do {
        n = read(static_cast<int>(file), into, std::min<std::size_t>(count, INT_MAX));
    } while (n < 0 && errno == EINTR);
    return static_cast<long>(n);
}

void regularfileclose(std::intptr_t file) {
    close(static_cast<int>(file));
}
