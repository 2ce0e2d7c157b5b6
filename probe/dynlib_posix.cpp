// The program's own directory comes first, as the Windows loader looks in the
// program's directory first: a probe installed beside its echo library uses
// that one, whatever else the system holds. /proc/self/exe names the program
// even when it was started through a relative path or a symbolic link.
#include "dynlib.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <unistd.h>

namespace {

// The running program's directory with a trailing slash, or an empty text.
std::array<char, 4096> programdirectory() {
    std::array<char, 4096> directory{};
    const ssize_t n = readlink("/proc/self/exe", directory.data(), directory.size() - 1);
    if (n <= 0) {
        return {};
    }
    directory[static_cast<std::size_t>(n)] = '\0';
    char* slash = std::strrchr(directory.data(), '/');
    if (slash == nullptr) {
        return {};
    }
    slash[1] = '\0';
    return directory;
}

// The library file beside the program, when there is one.
std::array<char, 4096> pathbeside(const char* filename) {
    const std::array<char, 4096> directory = programdirectory();
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

} // namespace

dynlibhandle dynlibload(const char* filename) {
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
