// SPDX-License-Identifier: GPL-3.0-or-later
// Another local process attacks the monitor's result pipes while real cycles
// run: it connects before the probes, keeps every pipe's queue full and
// writes "alive" into whatever it reaches, or takes the pipes' names first.
// As the same user and, when the test runs as root, as the user nobody.
// Every host must keep the verdict its own probe gave; the same user's
// attack must really have hit the pipes, and another user's must have been
// refused by the system before it reached any.
#include "childprocess.h"
#include "multiprcfuncwin.h"
#include "testsupport.h"

#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int nobody = 65534;

struct attack {
    const char* name;
    bool asnobody;
    const char* word; // written into every connection; "-" for none; "squat"
};

void PrintTo(const attack& a, std::ostream* os) {
    *os << a.name;
}

// The flooder, copied where any user may run it: the build tree may sit
// below a directory that only its owner can enter.
class flooderprogram {
  public:
    flooderprogram() {
        std::filesystem::permissions(dir_.path(), std::filesystem::perms(0755));
        std::filesystem::copy_file(FLOODER, path_);
        std::filesystem::permissions(path_, std::filesystem::perms(0755));
    }
    const std::string& path() const { return path_; }

  private:
    tempdir dir_;
    std::string path_ = dir_.path() + "/flooder";
};

std::vector<std::string> flooderargv(const attack& a, const std::string& program,
                                     const std::string& directory, int count) {
    std::vector<std::string> argv;
    if (a.asnobody) {
        argv = {"/usr/bin/setpriv", "--reuid=" + std::to_string(nobody),
                "--regid=" + std::to_string(nobody), "--clear-groups", "--"};
    }
    argv.push_back(program);
    argv.push_back(directory);
    argv.push_back(std::to_string(getpid()));
    argv.push_back(std::to_string(count));
    argv.push_back(a.word);
    return argv;
}

class Hostile : public testing::TestWithParam<attack> {
  protected:
    void SetUp() override {
        if (GetParam().asnobody && geteuid() != 0) {
            GTEST_SKIP() << "running the attacker as another user needs root";
        }
        multiprcsetechotimeout(1000);
    }
};

// The probes report late, well after the attacker has filled the queues; the
// pauses and the reads are the monitor's only chance to clear them.
TEST_P(Hostile, RealVerdictsStandWhileAnotherProcessFloodsThePipes) {
    constexpr int hosts = 8;
    constexpr int cycles = 4;
    std::vector<std::string> lines;
    std::vector<int> expected;
    for (int i = 0; i < hosts; ++i) {
        const bool alive = i % 2 == 0;
        lines.push_back(standin(i, alive ? "late 150 alive" : "late 150 dead"));
        expected.push_back(alive ? 1 : 0);
    }
    const flooderprogram program;
    const pinnedpipes pin;
    ChildProcess flooder(flooderargv(GetParam(), program.path(), pin.directory(), hosts),
                         environmentwithout({}));
    ASSERT_EQ("ready\n", flooder.readstdout(6, std::chrono::seconds(30)))
        << "the attacker did not start: " << flooder.err();
    // With a pause the monitor clears the queues while it waits after each
    // start; without one, only while it reads.
    for (int cycle = 0; cycle < cycles; ++cycle) {
        const int pause = cycle % 2 == 0 ? 20 : 0;
        const cycleoutcome out = runcycle(lines, pause);
        EXPECT_EQ(expected, out.results) << "cycle " << cycle << "\n" << out.trace;
        EXPECT_EQ(std::string::npos, out.trace.find("exitCode=1/1"))
            << "a probe could not open its pipe in cycle " << cycle << "\n"
            << out.trace;
    }
    ASSERT_TRUE(flooder.finish(std::chrono::seconds(30)));
    long connections = 0;
    long full = 0;
    long denied = 0;
    long squatted = 0;
    ASSERT_EQ(4, std::sscanf(flooder.out().c_str(),
                             "ready\nconnections=%ld full=%ld denied=%ld squatted=%ld",
                             &connections, &full, &denied, &squatted))
        << flooder.out();
    // Without this the test would prove nothing: the same user's attack must
    // have reached the pipes and found their queues full; another user's must
    // have tried and been turned away by the system itself.
    if (std::string(GetParam().word) == "squat") {
        EXPECT_EQ(hosts, squatted) << "only the names nobody uses any more can be had";
        EXPECT_GT(denied, 0);
    } else if (GetParam().asnobody) {
        EXPECT_EQ(0, connections);
        EXPECT_GT(denied, 0);
    } else {
        EXPECT_GT(connections, 0);
        EXPECT_GT(full, 0);
    }
    std::printf("%s: %ld connections refused, queue found full %ld times, %ld attempts denied\n",
                GetParam().name, connections, full, denied);
}

INSTANTIATE_TEST_SUITE_P(Attackers, Hostile,
                         testing::Values(attack{"SameUserFills", false, "-"},
                                         attack{"SameUserWritesAlive", false, "alive"},
                                         attack{"NobodyFills", true, "-"},
                                         attack{"NobodyWritesAlive", true, "alive"},
                                         attack{"NobodySquatsTheNames", true, "squat"}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
