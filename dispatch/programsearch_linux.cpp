// SPDX-License-Identifier: GPL-3.0-or-later
// What the program search asks of Linux: whether a file can be run, the
// monitor's own directory and the system's default search path.
#include "programsearch.h"
#include "selfpath.h"

#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string exedirectory() {
    return programdirectory().data();
}

} // namespace

bool isprogramfile(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           access(path.c_str(), X_OK) == 0;
}

std::string defaultsearchpath() {
    const std::size_t n = confstr(_CS_PATH, nullptr, 0);
    std::string path(n, '\0');
    if (n == 0 || confstr(_CS_PATH, path.data(), n) == 0) {
        return "/bin:/usr/bin";
    }
    path.resize(n - 1);
    return path;
}

std::vector<std::string> programsearchdirs() {
    return programsearchdirs(exedirectory(), std::getenv("PATH"));
}
