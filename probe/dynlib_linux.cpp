// SPDX-License-Identifier: GPL-3.0-or-later
// The program's own directory comes first, as the Windows loader looks in the
// program's directory first: a probe installed beside its echo library uses
// that one, whatever else the system holds.
//
// A program that runs with more rights than its user (the kernel's secure
// execution: zendrik with its file capability) trusts neither its own
// directory nor the library path. Anyone may hard-link the installed program
// into a directory of their own, beside a library of their own, and the
// program's directory then names theirs. Such a program loads its library
// from the directory fixed at install time alone, and only when root keeps
// that directory and file out of every other user's reach.
#include "dynlib.h"
#include "selfpath.h"
#include "uniquefd.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/auxv.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The library file beside the program, when there is one.
std::array<char, 4096> pathbeside(const char* filename) {
    const std::array<char, selfpathsize> directory = programdirectory();
    std::array<char, 4096> path{};
    if (directory[0] == '\0') {
        return path;
    }
    const int n = std::snprintf(path.data(), path.size(), "%s%s", directory.data(), filename);
    if (n < 0 || static_cast<std::size_t>(n) >= path.size() || access(path.data(), F_OK) != 0) {
        return {};
    }
    return path;
}

// Root's, and writable by no one else: what another user cannot change.
bool rootonly(const struct stat& status) {
    return status.st_uid == 0 && (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Each check is made on the very file that is then loaded: the directory and
// the library are opened first and judged through their descriptors, and
// dlopen reads the library through its descriptor's name in /proc, so nothing
// can be swapped in between. The library itself must not be a symbolic link,
// which would lead out of the directory that was checked.
dynlibhandle loadinstalled(const char* filename) {
    if (std::strchr(filename, '/') != nullptr) {
        return nullptr;
    }
    const uniquefd directory(
        open(QUORVEL_INSTALLED_LIBRARY_DIR, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat status {};
    if (directory.get() < 0 || fstat(directory.get(), &status) != 0 || !rootonly(status)) {
        return nullptr;
    }
    // Non-blocking, so that a special file in its place cannot hold the
    // probe; it is refused below.
    const uniquefd library(
        openat(directory.get(), filename, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (library.get() < 0 || fstat(library.get(), &status) != 0 || !S_ISREG(status.st_mode) ||
        !rootonly(status)) {
        return nullptr;
    }
    std::array<char, 64> path{};
    const int n = std::snprintf(path.data(), path.size(), "/proc/self/fd/%d", library.get());
    if (n < 0 || static_cast<std::size_t>(n) >= path.size()) {
        return nullptr;
    }
    return dlopen(path.data(), RTLD_NOW | RTLD_LOCAL);
}

} // namespace

dynlibhandle dynlibload(const char* filename) {
    if (getauxval(AT_SECURE) != 0) {
        return loadinstalled(filename);
    }
    // A library found beside the program is the one to use; when it cannot be
    // loaded, another one from elsewhere is no substitute.
    if (const std::array<char, 4096> beside = pathbeside(filename); beside[0] != '\0') {
        return dlopen(beside.data(), RTLD_NOW | RTLD_LOCAL);
    }
    // A name without a slash makes dlopen search the system's library path.
    if (std::strchr(filename, '/') != nullptr) {
        return nullptr;
    }
    return dlopen(filename, RTLD_NOW | RTLD_LOCAL);
}

void* dynlibsymbol(dynlibhandle library, const char* name) {
    return dlsym(library, name);
}

bool dynlibfree(dynlibhandle library) {
    return dlclose(library) == 0;
}
