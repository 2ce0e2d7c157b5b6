// The process layer on its own: that a failed start is known, exit codes,
// waits bounded by a deadline, and that a slot never leaves a process behind.
#include "pipeserver.h"
#include "process_posix.h"
#include "testsupport.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/time.h>
#include <sys/wait.h>

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

class ProcessWait : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override { processforcepolling(GetParam()); }
    void TearDown() override { processforcepolling(false); }
    static deadline far() { return steady_clock::now() + seconds(30); }
};

TEST_P(ProcessWait, ExitCodesIncludingDeathBySignal) {
    const struct {
        const char* behaviour;
        long code;
    } cases[] = {{"exit 0", 0}, {"exit 1", 1}, {"exit 255", 255}, {"crash", 128 + SIGABRT}};
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

INSTANTIATE_TEST_SUITE_P(WaitingOn, ProcessWait, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "polling" : "pidfd"; });

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

// Someone else reaped the probe (a careless SIGCHLD handler, say): the slot
// must report the failure and never signal that pid again.
TEST(ProcessSlot, ReapedBehindItsBackFailsWithoutKillingAnything) {
    childprocess slot;
    ASSERT_TRUE(processstart(standin(0, "exit 0").c_str(), slot));
    int status = 0;
    ASSERT_EQ(slot.id(), waitpid(static_cast<pid_t>(slot.id()), &status, 0));
    EXPECT_EQ(waitoutcome::failed, processwait(slot, steady_clock::now() + seconds(5)));
    long code = 0;
    EXPECT_FALSE(processexitcode(slot, code));
    EXPECT_TRUE(slot.empty());
}

// The pause between probe starts sleeps until a moment. A signal that
// interrupts it (the monitor's process gets SIGCHLD from every probe that
// ends) must not end the pause early.
TEST(ProcessSleep, UntilAMomentEvenWhenSignalsInterrupt) {
    struct sigaction onalarm {};
    onalarm.sa_handler = [](int) {};
    struct sigaction before {};
    ASSERT_EQ(0, sigaction(SIGALRM, &onalarm, &before)); // no SA_RESTART
    itimerval every5ms{{0, 5000}, {0, 5000}};
    ASSERT_EQ(0, setitimer(ITIMER_REAL, &every5ms, nullptr));
    const auto begin = steady_clock::now();
    processsleepuntil(begin + milliseconds(60));
    const auto woke = steady_clock::now();
    itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &before, nullptr);
    EXPECT_GE(woke - begin, milliseconds(60));

    // A moment that has passed, or the clock's very start, is no pause.
    processsleepuntil(begin);
    processsleepuntil(deadline{});
    EXPECT_LT(steady_clock::now() - woke, seconds(5));
}

} // namespace
