// SPDX-License-Identifier: GPL-3.0-or-later
// The process layer on its own: that a failed start is known, exit codes,
// waits bounded by a deadline, and that a slot never leaves a process behind.
#include "pipeserver.h"
#include "platformfacts.h"
#include "process.h"
#include "selfpath.h"
#include "testsupport.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

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

// The working directory and PATH of this process, put back at scope end.
class searchplaces {
  public:
    searchplaces() : cwd_(std::filesystem::current_path()) {
        const char* path = std::getenv("PATH");
        path_ = path != nullptr ? path : "";
    }
    ~searchplaces() {
        std::error_code ignored;
        std::filesystem::current_path(cwd_, ignored);
        setenv("PATH", path_.c_str(), 1);
    }
    searchplaces(const searchplaces&) = delete;
    searchplaces& operator=(const searchplaces&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::filesystem::path cwd_;
    std::string path_;
};

// A probe program is started from the monitor's own folder (every other test
// here finds the stand-in there) or from an absolute entry of PATH, never
// from the working directory or a place relative to it, which whoever
// started the monitor chose. A copy of the stand-in under another name lies
// in a directory of its own and in "sub" below it; the monitor works there.
TEST(ProcessStart, ProgramIsLookedForInTheOwnFolderAndAbsolutePathEntriesOnly) {
    namespace fs = std::filesystem;
    const fs::path standinfile =
        fs::path(programdirectory().data()) / ("dispatchstandin" + std::string(programfileending));
    ASSERT_TRUE(fs::exists(standinfile)) << standinfile;
    const tempdir dir;
    const fs::path work = fs::absolute(dir.path());
    const std::string name = "elsewhere" + std::string(programfileending);
    fs::create_directory(work / "sub");
    for (const fs::path& copy : {work / name, work / "sub" / name}) {
        fs::copy_file(standinfile, copy);
        fs::permissions(copy, fs::perms::owner_all);
    }
    const std::string sep(1, pathlistseparator);
    const struct {
        const char* where;
        std::string pathhead; // put in front of PATH
        bool started;
    } cases[] = {
        {"in the working directory", "", false},
        {"in an empty PATH entry, which means the working directory", sep, false},
        {"in a relative PATH entry", "sub" + sep, false},
        {"in a relative PATH entry that names the working directory", "." + sep, false},
        {"in an absolute PATH entry", (work / "sub").string() + sep, true},
    };
    for (const auto& c : cases) {
        const searchplaces restore;
        fs::current_path(work);
        setenv("PATH", (c.pathhead + restore.path()).c_str(), 1);
        childprocess slot;
        const bool started = processstart("elsewhere.exe -i 0 exit 7", slot);
        EXPECT_EQ(c.started, started) << c.where;
        if (started) {
            ASSERT_EQ(waitoutcome::ended, processwait(slot, steady_clock::now() + seconds(30)));
            long code = -1;
            EXPECT_TRUE(processexitcode(slot, code));
            EXPECT_EQ(7, code) << c.where << ": another program ran";
        }
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
