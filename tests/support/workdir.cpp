// SPDX-License-Identifier: GPL-3.0-or-later
#include "workdir.h"

#include "hostlist.h"
#include "settings.h"

#include <cstdlib>
#include <unistd.h>

workdir::workdir() {
    char pattern[] = "/tmp/quorvel-test-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::abort();
    }
    path_ = pattern;
    // Readable by others, so that a test may read its files as another user.
    std::filesystem::permissions(path_, std::filesystem::perms(0755));
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(path_);
    for (HostEntry& row : dolist) {
        row = HostEntry{};
    }
    hostnum = 0;
    setdefaults();
}

workdir::~workdir() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(path_, ignored);
}
