// SPDX-License-Identifier: GPL-3.0-or-later
// Probes that fail in ways the dispatcher's own tests leave out, each between
// two probes that work: the cycle ends by its deadline, both neighbours keep
// their verdicts, the failing host counts as not alive, and nothing of the
// cycle is left behind (descriptors, children, zombies).
#include "multiprcfuncwin.h"
#include "testsupport.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr int echotimeout = 200;
constexpr int pause = 10;
// The cycle's deadline for three hosts: pauses, echo time-out, 4 s allowance.
constexpr milliseconds deadline{3 * pause + echotimeout + 4000};
// What the machine may add to it: starting and reaping a few processes.
constexpr milliseconds slack{3000};


struct probefault {
    const char* name;
    std::string commandline; // of host 1; "%FILES%" stands for a directory of the test's
    bool starts;
    std::string reap; // the reap phase's text for host 1
};

void PrintTo(const probefault& f, std::ostream* os) {
    *os << f.name;
}

std::string replaced(std::string text, const std::string& word, const std::string& by) {
    for (auto at = text.find(word); at != std::string::npos; at = text.find(word)) {
        text.replace(at, word.size(), by);
    }
    return text;
}

class ProbeFault : public testing::TestWithParam<probefault> {
  protected:
    void SetUp() override { multiprcsetechotimeout(echotimeout); }
};

TEST_P(ProbeFault, CycleEndsInTimeNeighboursKeepTheirVerdictsNothingLeaks) {
    const probefault& fault = GetParam();
    const tempdir files;
    // A probe program that is there but may not be run.
    files.file("zendrik", "#!/bin/sh\nexit 0\n", 0644);
    const std::vector<std::string> lines = {standin(0, "say alive"),
                                            replaced(fault.commandline, "%FILES%", files.path()),
                                            standin(2, "late 100 alive")};
    const int descriptors = countdescriptors();
    const auto begin = steady_clock::now();
    const cycleoutcome out = runcycle(lines, pause);
    const auto took = steady_clock::now() - begin;

    EXPECT_EQ(0, out.returned);
    EXPECT_EQ((std::vector<int>{1, 0, 1}), out.results);
    const std::string expected = started + (fault.starts ? started : "CloseHandle(hThread)") +
                                 started + "PipeServer: alive\nPipeServer: \nPipeServer: alive\n" +
                                 exited0 + fault.reap + exited0;
    EXPECT_EQ(expected, out.trace);
    EXPECT_LE(took, deadline + slack);
    EXPECT_EQ(descriptors, countdescriptors());
    EXPECT_EQ(0, countchildren()) << "a probe or a zombie outlived its cycle";
    for (const long pid : out.pids) {
        EXPECT_FALSE(processexists(pid)) << pid;
    }
}

const std::string waitfailed = std::string("wait result=WAIT_FAILED") + fatalline;

INSTANTIATE_TEST_SUITE_P(
    Faults, ProbeFault,
    testing::Values(probefault{"ProgramNotExecutable", "%FILES%/zendrik -i 1 -h 127.0.0.1 -t 100",
                               false, waitfailed},
                    // zendrik itself, beside no echo library: it ends during its set-up
                    // with exit code 3 and never opens its pipe.
                    probefault{"EchoLibraryMissing",
                               std::string(TESTBEDS) +
                                   "/probe-nolib/zendrik -i 1 -h 127.0.0.1 -t 100",
                               true, "wait result=WAIT_OBJECT_0\nexitCode=3/3\n"},
                    // Crashes while the monitor waits on its pipe, after host 0 was read.
                    probefault{"CrashesMidCycle", R"(/bin/sh -c "sleep 0.3; kill -SEGV $$")", true,
                               "wait result=WAIT_OBJECT_0\nexitCode=139/8b\n"},
                    // Connects and never writes: the read gives up at the deadline, and
                    // the probe is killed rather than waited for.
                    probefault{"ConnectsAndNeverWrites", standin(1, "hold 20000"), true,
                               std::string("wait result=WAIT_TIMEOUT\n") + fatalline}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
