// SPDX-License-Identifier: GPL-3.0-or-later
// A result pipe whose queue other processes have filled: the probe's open
// waits for room (and only then), and the monitor's guard makes that room by
// refusing everyone but the probe.
#include "multiprcfuncwin.h"
#include "pipepath_linux.h"
#include "pipeserver_linux.h"
#include "testsupport.h"

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

// The probe's client end, declared here because its header and the server's
// both name the handle type.
std::intptr_t pipeclientopen(const char* pipename, int waitmsec);

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

const std::string pipe5name = resultpipename(5);
const char* const pipe5 = pipe5name.c_str();

// Connects to this process's pipe until its queue takes no more; returns how
// many connections it queued (each closed at once, yet still queued).
int fillqueue(const char* name) {
    sockaddr_un address;
    const socklen_t length = pipeaddress(pipeserverdirectory(), name, &address);
    int queued = 0;
    for (int attempt = 0; attempt < 4096; ++attempt) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const int rc = connect(fd, reinterpret_cast<const sockaddr*>(&address), length);
        close(fd);
        if (rc != 0) {
            break;
        }
        ++queued;
    }
    return queued;
}

// In a child of this process: it is told where the pipes are, as a probe is.
void becomeprobe() {
    if (const char* directory = pipeserverdirectory()) {
        setenv("QUORVEL_PIPES", directory, 1);
    }
}

// A child of this process opens the pipe as a probe would; its exit status
// tells whether the open succeeded (0) or failed (1).
struct openattempt {
    int status = -1;
    milliseconds took{0};
};

openattempt openaschild(const char* name, int waitmsec) {
    std::fflush(nullptr);
    const auto begin = steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        becomeprobe();
        const std::intptr_t pipe = pipeclientopen(name, waitmsec);
        _exit(pipe == -1 ? 1 : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    openattempt attempt;
    attempt.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    attempt.took = std::chrono::duration_cast<milliseconds>(steady_clock::now() - begin);
    return attempt;
}

// However long a probe may wait for room, a pipe that is not there, or no
// longer there, fails its open without waiting.
TEST(PipeClient, MissingOrClosedPipeFailsWithoutWaiting) {
    constexpr int wait = 20000;
    const pinnedpipes pin;
    const openattempt missing = openaschild(pipe5, wait);
    EXPECT_EQ(1, missing.status);
    pipeslot pipe(pipeservercreate(pipe5));
    ASSERT_NE(invalidpipehandle, pipe.get());
    pipe.reset();
    const openattempt closed = openaschild(pipe5, wait);
    EXPECT_EQ(1, closed.status);
    EXPECT_LT(missing.took + closed.took, milliseconds(wait / 2)) << "an open waited for nothing";
}

TEST(PipeClient, FullQueueThatNobodyClearsFailsAfterTheWait) {
    const pipeslot pipe(pipeservercreate(pipe5));
    ASSERT_GT(fillqueue(pipe5), 0);
    EXPECT_EQ(1, openaschild(pipe5, 300).status);
    EXPECT_EQ(1, openaschild(pipe5, 0).status) << "without a wait a full queue fails at once";
}

// A probe waiting for room learns at once that the monitor has closed the
// pipe (at the cycle's deadline at the latest), however long it may wait.
TEST(PipeClient, ClosingACrowdedPipeEndsTheWait) {
    constexpr int wait = 20000;
    pipeslot pipe(pipeservercreate(pipe5));
    ASSERT_GT(fillqueue(pipe5), 0);
    std::fflush(nullptr);
    const auto begin = steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        // A probe is a program of its own and holds no copy of the pipe.
        close(static_cast<int>(pipe.get()));
        becomeprobe();
        _exit(pipeclientopen(pipe5, wait) == -1 ? 1 : 0);
    }
    usleep(300 * 1000);
    pipe.reset();
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    EXPECT_LT(steady_clock::now() - begin, milliseconds(wait / 2)) << "the wait went on";
}

// Intruders fill the queue before the probe starts; the guard refuses them,
// the probe gets in, and its connection is kept for the read.
TEST(PipeGuard, KeepsTheProbesConnectionAndRefusesEveryoneElse) {
    const pipeslot pipe(pipeservercreate(pipe5));
    ASSERT_NE(invalidpipehandle, pipe.get());
    const int intruders = fillqueue(pipe5);
    ASSERT_GT(intruders, 0);
    childprocess probe;
    ASSERT_TRUE(processstart(standin(5, "say alive").c_str(), probe, pipeserverenvironment()));
    pipeconnection taken;
    pipeserverguard(std::span(&pipe, 1), std::span(&probe, 1), std::span(&taken, 1),
                    steady_clock::now() + milliseconds(1500));
    ASSERT_NE(invalidpipehandle, taken.get()) << "the probe's connection was not kept";
    char text[16] = {};
    EXPECT_EQ(5, pipeserverread(taken.get(), text, sizeof text - 1,
                                steady_clock::now() + milliseconds(1000)));
    EXPECT_STREQ("alive", text);
    // Every intruder is gone: the queue takes as many again.
    EXPECT_EQ(intruders, fillqueue(pipe5));
}

// A slot without a process (its start failed, or it has not started yet)
// has no one to speak for it: everyone is refused.
TEST(PipeGuard, PipeWithoutAProbeRefusesEveryone) {
    const pipeslot pipe(pipeservercreate(pipe5));
    const int intruders = fillqueue(pipe5);
    ASSERT_GT(intruders, 0);
    const childprocess none;
    pipeconnection taken;
    pipeserverguard(std::span(&pipe, 1), std::span(&none, 1), std::span(&taken, 1),
                    steady_clock::now() + milliseconds(200));
    EXPECT_EQ(invalidpipehandle, taken.get());
    EXPECT_EQ(intruders, fillqueue(pipe5));
}

} // namespace
