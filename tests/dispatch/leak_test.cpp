// SPDX-License-Identifier: GPL-3.0-or-later
// Nothing of a cycle may outlive it: after many cycles, with probes that
// report, fail to start, fail and stay silent, this process holds exactly the
// descriptors (handles on Windows) and child processes it held before.
#include "multiprcfuncwin.h"
#include "testsupport.h"

#include <chrono>
#include <gtest/gtest.h>

namespace {

TEST(Leak, TwoHundredCyclesLeaveNoDescriptorAndNoChild) {
    constexpr int cycles = 200;
    const auto giveup = std::chrono::steady_clock::now() + std::chrono::seconds(240);
    multiprcsetechotimeout(0);
    const std::vector<std::string> lines = {standin(0, "say alive"), "nosuchprobe.exe -i 1",
                                            standin(2, "exit 1"), standin(3, "silent")};
    // What the process makes once for its whole life (on Windows the job
    // object of the probes) is made by a first cycle, before the count.
    runcycle(lines, 0);
    const int descriptors = countdescriptors();
    const int children = countchildren();
    int done = 0;
    for (; done < cycles && std::chrono::steady_clock::now() < giveup; ++done) {
        const auto out = runcycle(lines, 0);
        ASSERT_EQ((std::vector<int>{1, 0, 0, 0}), out.results)
            << "cycle " << done << ", exit code of the alive probe " << out.exitcodes[0] << "\n"
            << out.trace;
    }
    EXPECT_EQ(cycles, done) << "gave up after " << done << " cycles";
    EXPECT_EQ(descriptors, countdescriptors());
    EXPECT_EQ(children, countchildren());
    std::printf("after %d cycles: %d descriptors (before %d), %d children (before %d)\n", done,
                countdescriptors(), descriptors, countchildren(), children);
}

} // namespace
