// SPDX-License-Identifier: GPL-3.0-or-later
// Whole cycles with stand-in probes, for what only POSIX has: descriptors,
// niceness and the current directory as a probe inherits them.
#include "multiprcfuncwin.h"
#include "testsupport.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// The probe gets the monitor's environment, current directory and niceness,
// and none of its descriptors beyond the standard three.
TEST(PosixCycle, ProbeInheritsEnvironmentDirectoryAndPriorityButNoDescriptors) {
    multiprcsetechotimeout(200);
    const tempdir dir;
    const std::filesystem::path home = std::filesystem::current_path();
    ASSERT_EQ(0, chdir(dir.path().c_str()));
    ASSERT_EQ(0, setenv("QUORVEL_TEST_MARK", "m4rk", 1));
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, 0) + 2;
    ASSERT_EQ(0, setpriority(PRIO_PROCESS, 0, nice));
    const int inheritable = open("/dev/null", O_RDONLY); // deliberately not close-on-exec
    ASSERT_GE(inheritable, 3);
    const auto out = runcycle({standin(0, "report")}, 0);
    close(inheritable);
    std::filesystem::current_path(home);
    const std::string report =
        "fds=3 nice=" + std::to_string(nice) + " cwd=" + dir.path() + " mark=m4rk";
    EXPECT_EQ(started + "PipeServer: " + report + "\n" + exited0, out.trace);
}

} // namespace
