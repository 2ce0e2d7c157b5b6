// SPDX-License-Identifier: GPL-3.0-or-later
// Whole cycles of multiprcfuncwin with stand-in probes: the exact trace, the
// results and what is left behind.
#include "multiprcfuncwin.h"
#include "platformfacts.h"
#include "testsupport.h"

#include <chrono>
#include <climits>
#include <functional>
#include <gtest/gtest.h>

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

const std::string notstarted = "CloseHandle(hThread)";
const std::string waitfailed = std::string("wait result=WAIT_FAILED") + fatalline;

class Cycle : public ::testing::Test {
  protected:
    void SetUp() override { multiprcsetechotimeout(200); }
};

TEST_F(Cycle, TwoHostsAlive) {
    const auto out = runcycle({standin(0, "say alive"), standin(1, "say alive")}, 20);
    EXPECT_EQ(0, out.returned);
    EXPECT_EQ(started + started + "PipeServer: alive\nPipeServer: alive\n" + exited0 + exited0,
              out.trace);
    EXPECT_EQ((std::vector<int>{1, 1}), out.results);
    ASSERT_EQ(2u, out.pids.size());
    EXPECT_NE(out.pids[0], out.pids[1]);
}

// One row per kind of probe; all rows run as the hosts of one cycle, so that
// they also show that no host's fate touches another's.
struct hostcase {
    std::string behaviour; // "" for a probe program that does not exist
    std::string read;      // the read phase's text
    int result;
    std::string reap; // the reap phase's text
    long exitcode;    // as multiprclastexitcode hands it to the monitor
};

const std::vector<hostcase> hostcases = {
    {"say dead", "PipeServer: dead\n", 0, exited0, 0},
    {"say alive\\0more", "PipeServer: alive\n", 1, exited0, 0},
    {"say alive\\n", "PipeServer: alive\n\n", 0, exited0, 0},
    {"say Alive", "PipeServer: Alive\n", 0, exited0, 0},
    {"say aliv", "PipeServer: aliv\n", 0, exited0, 0},
    {"say alivee", "PipeServer: alivee\n", 0, exited0, 0},
    {"fill 256 x", "PipeServer: " + std::string(256, 'x') + "\n", 0, exited0, 0},
    {"fill 1048576 y", "PipeServer: " + std::string(256, 'y') + "\n", 0, exited0, 0},
    {"silent", "PipeServer: \n", 0, exited0, 0},
    {"exit 1", "PipeServer: \n", 0, "wait result=WAIT_OBJECT_0\nexitCode=1/1\n", 1},
    {"exit 5", "PipeServer: \n", 0, "wait result=WAIT_OBJECT_0\nexitCode=5/5\n", 5},
    {"-x 3 say alive", "PipeServer: alive\n", 1, "wait result=WAIT_OBJECT_0\nexitCode=3/3\n", 3},
    {"crash", "PipeServer: \n", 0, std::string("wait result=WAIT_OBJECT_0\n") + crashedprobe().line,
     crashedprobe().exitcode},
    {"", "PipeServer: \n", 0, waitfailed, -1},
    {"late 400 alive", "PipeServer: alive\n", 1, exited0, 0},
};

TEST_F(Cycle, EveryKindOfProbeInOneCycle) {
    std::vector<std::string> lines;
    std::string starts, reads, reaps;
    std::vector<int> results;
    std::vector<long> exitcodes;
    for (const hostcase& host : hostcases) {
        const int i = static_cast<int>(lines.size());
        lines.push_back(host.behaviour.empty() ? "nosuchprobe.exe -i " + std::to_string(i)
                                               : standin(i, host.behaviour));
        starts += host.behaviour.empty() ? notstarted : started;
        reads += host.read;
        reaps += host.reap;
        results.push_back(host.result);
        exitcodes.push_back(host.exitcode);
    }
    const auto out = runcycle(lines, 0);
    EXPECT_EQ(0, out.returned);
    EXPECT_EQ(starts + reads + reaps, out.trace);
    EXPECT_EQ(results, out.results);
    EXPECT_EQ(exitcodes, out.exitcodes);
    EXPECT_EQ(-1, multiprclastexitcode(static_cast<int>(lines.size())))
        << "a host that took no part in the cycle has no exit code";
    for (const int outside : {-1, multiprcmaxhosts, INT_MAX}) {
        EXPECT_EQ(-1, multiprclastexitcode(outside)) << outside;
    }
}

// The exit codes are the last cycle's alone: a cycle that ends early or has no
// hosts must not leave the monitor looking at an earlier cycle's codes.
TEST_F(Cycle, ExitCodesOfAnEarlierCycleDoNotOutliveTheNext) {
    struct Case {
        const char* name;
        std::function<cycleoutcome()> cycle;
    };
    const std::vector<Case> cases = {
        {"no hosts", [] { return runcycle({standin(0, "exit 5")}, 0, 0); }},
        {"pipe creation failed",
         [] {
             const pipecreationfault fault(1);
             return runcycle({standin(0, "exit 5"), standin(1, "exit 5")}, 0);
         }},
    };
    for (const Case& c : cases) {
        const auto before = runcycle({standin(0, "exit 5"), standin(1, "exit 5")}, 0);
        ASSERT_EQ((std::vector<long>{5, 5}), before.exitcodes);
        c.cycle();
        EXPECT_EQ(-1, multiprclastexitcode(0)) << c.name;
        EXPECT_EQ(-1, multiprclastexitcode(1)) << c.name;
    }
}

// The probe at index 0 is read first, before any other pipe; a probe that
// answers late must still be waited for there.
TEST_F(Cycle, LateProbeAtIndexZeroStillCountsAlive) {
    const auto out = runcycle({standin(0, "late 500 alive"), standin(1, "say dead")}, 0);
    EXPECT_EQ(started + started + "PipeServer: alive\nPipeServer: dead\n" + exited0 + exited0,
              out.trace);
    EXPECT_EQ((std::vector<int>{1, 0}), out.results);
}

TEST_F(Cycle, ProgramMissingEveryHostFailsButTheCycleEnds) {
    const int pause = 100;
    const auto begin = steady_clock::now();
    const auto out = runcycle({"nosuchprobe.exe -i 0", "nosuchprobe.exe -i 1"}, pause);
    const auto took = steady_clock::now() - begin;
    EXPECT_EQ(0, out.returned);
    EXPECT_EQ(notstarted + notstarted + "PipeServer: \nPipeServer: \n" + waitfailed + waitfailed,
              out.trace);
    EXPECT_EQ((std::vector<int>{0, 0}), out.results);
    EXPECT_GE(took, milliseconds(2 * pause)) << "the pause must follow a failed start too";
}

TEST_F(Cycle, PipeCreationFailingAtHost2Of5ReleasesTheFirstTwoAndStartsNothing) {
    const pipecreationfault fault(2);
    ASSERT_TRUE(fault.armed());
    const int before = countdescriptors();
    std::vector<std::string> lines;
    lines.reserve(5);
    for (int i = 0; i < 5; ++i) {
        lines.push_back(standin(i, "say alive"));
    }
    const auto out = runcycle(lines, 0);
    EXPECT_EQ(-1, out.returned);
    EXPECT_EQ("", out.trace);
    EXPECT_EQ(std::vector<int>(5, 7), out.results);
    EXPECT_EQ(0, countchildren());
    EXPECT_EQ(before, countdescriptors());
    for (const std::string& released : {resultpipename(0), resultpipename(1)}) {
        const pipeslot again(pipeservercreate(released.c_str()));
        EXPECT_NE(invalidpipehandle, again.get()) << released << " was not released";
    }
}

TEST_F(Cycle, NoHostsMeansNothingHappens) {
    for (const int count : {0, -1, INT_MIN}) {
        const auto out = runcycle({standin(0, "say alive")}, 20, count);
        EXPECT_EQ(0, out.returned);
        EXPECT_EQ("", out.trace);
        EXPECT_EQ(std::vector<int>{7}, out.results);
    }
}

TEST_F(Cycle, MoreThan32HostsAreCutTo32) {
    std::vector<std::string> lines;
    lines.reserve(33);
    for (int i = 0; i < 33; ++i) {
        lines.push_back(standin(i, "say alive"));
    }
    const auto out = runcycle(lines, 0);
    EXPECT_EQ(0, out.returned);
    EXPECT_EQ(32u, out.pids.size());
    std::vector<int> expected(32, 1);
    expected.push_back(7);
    EXPECT_EQ(expected, out.results);
}

TEST_F(Cycle, NegativePauseDoesNotStall) {
    const auto out = runcycle({standin(0, "say alive")}, -1);
    EXPECT_EQ(started + "PipeServer: alive\n" + exited0, out.trace);
}

// A process that is not the probe must not be able to speak for a host.
TEST_F(Cycle, ForgedAliveIsRefusedAndTheProbesDeadCounts) {
    const pinnedpipes pin;
    const long forger = startforger(0, "alive");
    const auto out = runcycle({standin(0, "late 300 dead")}, 0);
    EXPECT_EQ(0, forgerexitcode(forger)) << "the forger never got its word in";
    EXPECT_EQ(started + "PipeServer: dead\n" + exited0, out.trace);
    EXPECT_EQ(std::vector<int>{0}, out.results);
}

TEST_F(Cycle, ForgedAliveIsRefusedWhenTheProbeNeverReports) {
    const pinnedpipes pin;
    const long forger = startforger(0, "alive");
    // The pause keeps the pipe open long enough for the forger to connect.
    const auto out = runcycle({standin(0, "never 100")}, 300);
    EXPECT_EQ(0, forgerexitcode(forger)) << "the forger never got its word in";
    EXPECT_EQ(started + "PipeServer: \n" + exited0, out.trace);
    EXPECT_EQ(std::vector<int>{0}, out.results);
}

// Every way of waiting that the platform has: on Linux on a pidfd, and by
// looking at short intervals as on kernels without one.
class DeadlineCycle : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        usewaitingmode(GetParam());
        multiprcsetechotimeout(0);
    }
    void TearDown() override { usewaitingmode(waitingmodes().front()); }
};

TEST_P(DeadlineCycle, HungProbeIsKilledAtTheDeadline) {
    const auto begin = steady_clock::now();
    const auto out = runcycle({standin(0, "hang"), standin(1, "say alive")}, 0);
    const auto took = steady_clock::now() - begin;
    EXPECT_EQ(0, out.returned);
    EXPECT_EQ(started + started + "PipeServer: \nPipeServer: alive\n" +
                  "wait result=WAIT_TIMEOUT\n" + fatalline + exited0,
              out.trace);
    EXPECT_EQ((std::vector<int>{0, 1}), out.results);
    EXPECT_EQ((std::vector<long>{-1, 0}), out.exitcodes) << "a killed probe has no exit code";
    // The deadline is count x pause + time-out + 4 s: here just the 4 s.
    EXPECT_GE(took, milliseconds(4000));
    ASSERT_EQ(2u, out.pids.size());
    EXPECT_FALSE(processexists(out.pids[0])) << "the hung probe is still there";
    EXPECT_EQ(0, countchildren());
}

TEST_P(DeadlineCycle, LateProbeStillCountsAlive) {
    const auto out = runcycle({standin(0, "late 300 alive"), standin(1, "silent")}, 0);
    EXPECT_EQ(started + started + "PipeServer: alive\nPipeServer: \n" + exited0 + exited0,
              out.trace);
}

INSTANTIATE_TEST_SUITE_P(WaitingOn, DeadlineCycle, ::testing::ValuesIn(waitingmodes()),
                         [](const auto& info) { return info.param; });

} // namespace
