// SPDX-License-Identifier: GPL-3.0-or-later
// The hint on privileges after real cycles of the dispatcher with stand-in
// probes (dispatchstandin, found beside this test as the monitor finds zendrik).
#include "multiprcfuncwin.h"
#include "probehint.h"
#include "testsupport.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

// One cycle whose probe i runs behaviour i; what the hint then writes, if
// anything. The cycle's own trace is not this test's business.
std::string cycleandhint(const std::vector<std::string>& behaviours, int count) {
    std::vector<std::string> commandlines;
    for (std::size_t i = 0; i < behaviours.size(); ++i) {
        commandlines.push_back(standin(static_cast<int>(i), behaviours[i]));
    }
    multiprcsetechotimeout(200);
    runcycle(commandlines, 0);
    std::FILE* hint = std::tmpfile();
    hintprobeprivileges(count, hint);
    std::string text(4096, '\0');
    std::rewind(hint);
    text.resize(std::fread(text.data(), 1, text.size(), hint));
    std::fclose(hint);
    return text;
}

// The steps depend on each other: the hint is once per process, so the
// cycles that must stay silent come first.
TEST(ProbeHint, OnlyExitCodeFiveOfAHostInTheCycleGivesItAndOnlyOnce) {
    EXPECT_EQ("", cycleandhint({"say alive", "exit 1", "exit 4", "crash", "exit 3"}, 5))
        << "other failures say nothing about privileges";
    EXPECT_EQ("", cycleandhint({"say alive", "exit 5"}, 1)) << "only the hosts of the cycle count";

    const std::string hint = cycleandhint({"say alive", "exit 5", "exit 5"}, 3);
    EXPECT_NE(hint.find("could not open an ICMP socket"), std::string::npos) << hint;
    EXPECT_NE(hint.find("setcap cap_net_raw+p "), std::string::npos) << hint;
    EXPECT_NE(hint.find("net.ipv4.ping_group_range"), std::string::npos) << hint;
    EXPECT_NE(hint.find("quorvel(1)"), std::string::npos) << hint;
    EXPECT_EQ(hint.back(), '\n');

    EXPECT_EQ("", cycleandhint({"exit 5"}, 1)) << "a second hint in the same run";
}

} // namespace
