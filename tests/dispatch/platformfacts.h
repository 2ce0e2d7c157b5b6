// SPDX-License-Identifier: GPL-3.0-or-later
// What the dispatcher's tests need to know of the platform beyond
// testsupport.h: how it writes a search path and a program's file name, and
// how a cycle's pipe creation can be made to fail.
#pragma once

#include <string>

// The separator between two entries of PATH.
extern const char pathlistseparator;

// What a program's file name ends with ("" on Linux, ".exe" on Windows).
extern const char programfileending[];

// While it lives, the creation of result pipe `index` in the next cycle of
// this process fails: on Linux because this process holds that name in the
// cycle's directory already, on Windows because no secret can be drawn for
// its name (a name someone else holds is no failure there: see
// pipeserver.h). Pipes are made in index order; the pipes made before it,
// and those made after the cycle, are not touched.
class pipecreationfault {
  public:
    explicit pipecreationfault(int index);
    ~pipecreationfault();
    pipecreationfault(const pipecreationfault&) = delete;
    pipecreationfault& operator=(const pipecreationfault&) = delete;
    // Whether the fault is in place.
    bool armed() const;

  private:
    long pipe_ = -1;
};
