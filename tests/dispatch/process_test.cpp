// The process layer on its own: that a failed start is known, exit codes,
// waits bounded by a deadline, and that a slot never leaves a process behind.
#include "pipeserver.h"
#include "process.h"
#include "testsupport.h"

#include <chrono>
#include <gtest/gtest.h>

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using std::chrono::steady_clock;

TEST(ProcessStart, FailuresAreKnownAndLeaveTheSlotEmpty) {
    const tempdir dir;
    const std::string plain = dir.file("plain", "#!/bin/sh\nexit 0\n", 0644);
    const std::string garbage = dir.file("garbage", "\x01\x02 not a program\n", 0755);
    for (const std::string& line :
         {std::string(), std::string("   "), std::string("nosuchprobe.exe -i 0"),
          std::string("/nonexistent/zendrik -i 0"), plain, garbage, dir.path(),
          std::string("\"\" -i 0")}) {
        childprocess slot;
        EXPECT_FALSE(processstart(line.c_str(), slot)) << line;
        EXPECT_TRUE(slot.empty()) << line;
    }
    EXPECT_EQ(0, countchildren());
}

class ProcessWait : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override { usewaitingmode(GetParam()); }
    void TearDown() override { usewaitingmode(waitingmodes().front()); }
    static deadline far() { return steady_clock::now() + seconds(30); }
};

TEST_P(ProcessWait, ExitCodesIncludingDeathBySignal) {
    const struct {
        const char* behaviour;
        long code;
    } cases[] = {
        {"exit 0", 0}, {"exit 1", 1}, {"exit 255", 255}, {"crash", crashedprobe().exitcode}};
    for (const auto& c : cases) {
        childprocess slot;
        ASSERT_TRUE(processstart(standin(0, c.behaviour).c_str(), slot)) << c.behaviour;
        EXPECT_EQ(waitoutcome::ended, processwait(slot, far())) << c.behaviour;
        EXPECT_TRUE(processended(slot));
        long code = -1;
        EXPECT_TRUE(processexitcode(slot, code)) << c.behaviour;
        EXPECT_EQ(c.code, code) << c.behaviour;
        EXPECT_TRUE(slot.empty());
    }
    EXPECT_EQ(0, countchildren());
}

TEST_P(ProcessWait, WaitEndsAtTheDeadlineAndReleaseKills) {
    childprocess slot;
    ASSERT_TRUE(processstart(standin(0, "hang").c_str(), slot));
    const long pid = slot.id();
    const auto begin = steady_clock::now();
    EXPECT_EQ(waitoutcome::timedout, processwait(slot, begin + milliseconds(200)));
    EXPECT_GE(steady_clock::now() - begin, milliseconds(200));
    EXPECT_FALSE(processended(slot));
    processrelease(slot);
    EXPECT_TRUE(slot.empty());
    EXPECT_FALSE(processexists(pid));
    EXPECT_EQ(0, countchildren());
}

TEST_P(ProcessWait, EmptySlotFailsAtOnce) {
    childprocess slot;
    EXPECT_EQ(waitoutcome::failed, processwait(slot, far()));
    long code = 0;
    EXPECT_FALSE(processexitcode(slot, code));
}

INSTANTIATE_TEST_SUITE_P(WaitingOn, ProcessWait, ::testing::ValuesIn(waitingmodes()),
                         [](const auto& info) { return info.param; });

TEST(ProcessSlot, GoingOutOfScopeKillsAndReaps) {
    long pid = 0;
    {
        childprocess slot;
        ASSERT_TRUE(processstart(standin(0, "hang").c_str(), slot));
        pid = slot.id();
        EXPECT_TRUE(processexists(pid));
    }
    EXPECT_FALSE(processexists(pid));
    EXPECT_EQ(0, countchildren());
}

} // namespace
