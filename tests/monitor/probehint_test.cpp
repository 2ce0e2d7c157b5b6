// The hint on privileges after real cycles of the dispatcher with stand-in
// probes (dispatchstandin, found beside this test as the monitor finds zendrik).
#include "multiprcfuncwin.h"
#include "probehint.h"

#include <array>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// One cycle whose probe i runs behaviour i; what the hint then writes, if anything.
std::string cycleandhint(const std::vector<std::string>& behaviours, int count) {
    std::array<char[256], multiprcmaxhosts> lines{};
    for (std::size_t i = 0; i < behaviours.size(); ++i) {
        std::snprintf(lines[i], sizeof lines[i], "dispatchstandin.exe -i %zu %s", i,
                      behaviours[i].c_str());
    }
    std::array<int, multiprcmaxhosts> results{};
    multiprcsetechotimeout(200);
    // The cycle's trace is not this test's business: it goes to /dev/null.
    std::fflush(stdout);
    const int saved = dup(1);
    const int sink = open("/dev/null", O_WRONLY | O_CLOEXEC);
    dup2(sink, 1);
    multiprcfuncwin(lines.data(), 0, static_cast<int>(behaviours.size()), results.data());
    std::fflush(stdout);
    dup2(saved, 1);
    close(saved);
    close(sink);
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
