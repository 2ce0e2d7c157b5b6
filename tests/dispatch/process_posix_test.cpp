// SPDX-License-Identifier: GPL-3.0-or-later
// The process layer where only POSIX has the fault: a child reaped by
// someone else, and signals that interrupt a pause.
#include "process.h"
#include "testsupport.h"

#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/time.h>
#include <sys/wait.h>

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using std::chrono::steady_clock;

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
