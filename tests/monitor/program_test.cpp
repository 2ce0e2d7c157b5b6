// SPDX-License-Identifier: GPL-3.0-or-later
// The real programs, run as processes: how quorvel ends on its command line,
// and what reaches a pipe while a program is still running.
#include "childprocess.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

// No display at all: a malformed command line must be refused before any
// display is needed.
std::vector<std::string> nodisplay() {
    return environmentwithout({"DISPLAY", "WAYLAND_DISPLAY"});
}

class Malformed : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(Malformed, EndsWithStatusOneAndPrintsNothing) {
    std::vector<std::string> argv{QUORVEL_BINARY};
    argv.insert(argv.end(), GetParam().begin(), GetParam().end());
    ChildProcess quorvel(argv, nodisplay());
    ASSERT_TRUE(quorvel.finish(60s)) << "quorvel did not end within 60 s";
    EXPECT_EQ(quorvel.status(), 1);
    EXPECT_EQ(quorvel.out(), "");
    EXPECT_EQ(quorvel.err(), "");
}

using W = std::vector<std::string>;
INSTANTIATE_TEST_SUITE_P(CommandLines, Malformed,
                         testing::Values(W{"-x", "5"}, W{"hello"}, W{""}, W{"-t"},
                                         W{"-t", "500", "/c"}, W{"/o"},
                                         // GTK's own options are taken out first.
                                         W{"--class", "foo", "hello"}));

TEST(WellFormed, CommandLineGetsAsFarAsOpeningTheDisplay) {
    std::vector<std::string> env = nodisplay();
    // GTK gives up on the missing display by ending the process at once; what
    // it leaves allocated then is no concern of this test.
    env.push_back("ASAN_OPTIONS=detect_leaks=0");
    ChildProcess quorvel({QUORVEL_BINARY, "-t", "500", "/c", "5", "-x", "--class", "foo"}, env);
    ASSERT_TRUE(quorvel.finish(60s)) << "quorvel did not end within 60 s";
    EXPECT_EQ(quorvel.out(), "");
    EXPECT_NE(quorvel.err().find("cannot open display"), std::string::npos) << quorvel.err();
}

TEST(Trace, EveryLineReachesThePipeAtOnceAndInOrder) {
    ChildProcess helper({TRACE_HELPER}, environmentwithout({}));
    const std::string expected = "one\ntwo\nthree\n";
    EXPECT_EQ(helper.readstdout(expected.size(), 20s), expected)
        << "lines still held back while the program runs";
    ASSERT_TRUE(helper.finish(30s));
    EXPECT_EQ(helper.status(), 0);
}

} // namespace
