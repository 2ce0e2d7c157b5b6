// SPDX-License-Identifier: GPL-3.0-or-later
// A monitor whose probes cannot join its job: on Windows 7, which nests no
// jobs, whenever the monitor itself runs inside one; on later systems and
// under Wine when the monitor is put into a job after its job has taken its
// place outside it. The probes then run outside the job, each host keeps
// its verdict, and a probe that hangs is still killed at the deadline. Its
// own program: this process ends up inside a job for good.
#include "multiprcfuncwin.h"
#include "testsupport.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A process of the stand-in, started suspended outside the dispatcher; its
// handle, closed and the process killed at scope end.
class suspendedchild {
  public:
    suspendedchild() {
        std::string line = standin(0, "exit 0");
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE,
                           CREATE_SUSPENDED | CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                           &info) != FALSE) {
            CloseHandle(info.hThread);
            process_ = info.hProcess;
        }
    }
    ~suspendedchild() {
        if (process_ != nullptr) {
            TerminateProcess(process_, 1);
            WaitForSingleObject(process_, INFINITE);
            CloseHandle(process_);
        }
    }
    suspendedchild(const suspendedchild&) = delete;
    suspendedchild& operator=(const suspendedchild&) = delete;
    HANDLE get() const { return process_; }

  private:
    HANDLE process_ = nullptr;
};

TEST(JobNesting, ProbesThatCannotJoinTheJobRunOutsideItAndAreStillKilledAtTheDeadline) {
    multiprcsetechotimeout(0);
    // The monitor's job takes its place with its first probe, outside any
    // job; so does this one, which shows what the monitor's job meets below.
    const HANDLE alike = CreateJobObjectA(nullptr, nullptr);
    ASSERT_NE(nullptr, alike);
    {
        const suspendedchild early;
        ASSERT_NE(FALSE, AssignProcessToJobObject(alike, early.get()));
    }
    const auto before = runcycle({standin(0, "say alive")}, 0);
    ASSERT_EQ(started + "PipeServer: alive\n" + exited0, before.trace);

    // Now the monitor runs inside a job, and every probe is born in it.
    const HANDLE outer = CreateJobObjectA(nullptr, nullptr);
    ASSERT_NE(nullptr, outer);
    ASSERT_NE(FALSE, AssignProcessToJobObject(outer, GetCurrentProcess()));
    {
        const suspendedchild late;
        ASSERT_EQ(FALSE, AssignProcessToJobObject(alike, late.get()))
            << "this system lets the probe join: the test proves nothing here";
    }

    const auto out = runcycle({standin(0, "say alive"), standin(1, "hang")}, 0);
    EXPECT_EQ(0, out.returned);
    EXPECT_EQ(started + started + "PipeServer: alive\nPipeServer: \n" + exited0 +
                  "wait result=WAIT_TIMEOUT\n" + fatalline,
              out.trace);
    EXPECT_EQ((std::vector<int>{1, 0}), out.results);
    ASSERT_EQ(2u, out.pids.size());
    EXPECT_FALSE(processexists(out.pids[1])) << "the hung probe outside the job is still there";
    EXPECT_EQ(0, countchildren());
    CloseHandle(alike);
    CloseHandle(outer);
}

} // namespace
