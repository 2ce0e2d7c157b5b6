// SPDX-License-Identifier: GPL-3.0-or-later
// A test of the monitor runs in a fresh directory of its own, as quorvel
// runs in the directory that holds its host list, and starts from an empty
// host table and the default settings, whatever the test before it left.
#pragma once

#include <filesystem>

class workdir {
  public:
    workdir();
    ~workdir();
    workdir(const workdir&) = delete;
    workdir& operator=(const workdir&) = delete;
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
    std::filesystem::path previous_;
};
