// SPDX-License-Identifier: GPL-3.0-or-later
// The server end's waits: for the connection of one given process, and for
// the first bytes of a connection, each bounded by a deadline.
#include "pipeserver.h"
#include "process.h"
#include "testsupport.h"

#include <chrono>
#include <gtest/gtest.h>
#include <string>

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;
using std::chrono::steady_clock;

const std::string pipe0name = resultpipename(0);
const char* const pipe0 = pipe0name.c_str();

void waituntilended(const childprocess& probe) {
    for (int i = 0; i < 3000 && !processended(probe); ++i) {
        processsleep(1);
    }
}

// The probe connected, wrote and ended before the monitor came to look: its
// word must still be taken, although its end is already visible.
TEST(PipeServer, ProbeThatConnectedWroteAndEndedIsStillHeard) {
    const pipeslot pipe(pipeservercreate(pipe0));
    ASSERT_NE(invalidpipehandle, pipe.get());
    childprocess probe;
    ASSERT_TRUE(processstart(standin(0, "say alive").c_str(), probe,
                             pipeserverenvironment(pipe.get())));
    waituntilended(probe);
    ASSERT_TRUE(processended(probe));
    const auto until = steady_clock::now() + seconds(5);
    const pipeconnection connection(pipeserverawaitclient(pipe.get(), probe, until));
    ASSERT_NE(invalidpipehandle, connection.get());
    char bytes[16] = {};
    EXPECT_EQ(5, pipeserverread(connection.get(), bytes, sizeof bytes - 1, until));
    EXPECT_STREQ("alive", bytes);
}

TEST(PipeServer, WaitForAConnectionEndsWhenTheProbeEndsWithoutOne) {
    const pipeslot pipe(pipeservercreate(pipe0));
    childprocess probe;
    ASSERT_TRUE(processstart(standin(0, "never 100").c_str(), probe,
                             pipeserverenvironment(pipe.get())));
    const auto until = steady_clock::now() + seconds(60);
    EXPECT_EQ(invalidpipehandle, pipeserverawaitclient(pipe.get(), probe, until));
    EXPECT_LT(steady_clock::now() + seconds(30), until) << "it waited for the deadline";
}

TEST(PipeServer, ReadOfASilentConnectionEndsAtTheDeadline) {
    const pipeslot pipe(pipeservercreate(pipe0));
    childprocess probe;
    ASSERT_TRUE(processstart(standin(0, "hold 20000").c_str(), probe,
                             pipeserverenvironment(pipe.get())));
    const auto until = steady_clock::now() + seconds(5);
    const pipeconnection connection(pipeserverawaitclient(pipe.get(), probe, until));
    ASSERT_NE(invalidpipehandle, connection.get());
    const auto begin = steady_clock::now();
    char bytes[8];
    EXPECT_EQ(0, pipeserverread(connection.get(), bytes, sizeof bytes, begin + milliseconds(300)));
    EXPECT_GE(steady_clock::now() - begin, milliseconds(300));
}

TEST(PipeServer, AClosedPipeCannotBeOpened) {
    const pinnedpipes pin; // the directory stays; only the pipe is gone
    pipeslot pipe(pipeservercreate(pipe0));
    ASSERT_NE(invalidpipehandle, pipe.get());
    // What the probe was told while its pipe existed.
    const std::string environment = pipeserverenvironment(pipe.get());
    pipe.reset();
    childprocess probe;
    ASSERT_TRUE(processstart(standin(0, "say alive").c_str(), probe, environment.c_str()));
    ASSERT_EQ(waitoutcome::ended, processwait(probe, steady_clock::now() + seconds(10)));
    long code = 0;
    ASSERT_TRUE(processexitcode(probe, code));
    EXPECT_EQ(1, code) << "the stand-in, like zendrik, ends with 1 when its open fails";
}

} // namespace
