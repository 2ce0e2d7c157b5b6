// SPDX-License-Identifier: GPL-3.0-or-later
// The zendrik binary as its monitor sees it: exit code, the bytes in the
// result pipe, and silence on standard output and standard error. The echo
// library beside each copy of zendrik is a scripted stand-in, so nothing here
// leaves the machine; the last tests use the real library on loopback.
#include "probechild.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <vector>

namespace {

const std::string testbeds = TESTBEDS;

std::string zendrikin(const std::string& bed) {
    return testbeds + "/" + bed + "/zendrik";
}

struct programcase {
    const char* name;
    std::string bed; // directory holding this zendrik and its library
    std::vector<std::string> args;
    std::string script;
    int exitcode;
    std::string pipebytes; // empty: the probe must not connect at all
    bool echoattempted;    // the stand-in saw an echo request
};

void PrintTo(const programcase& c, std::ostream* os) {
    *os << c.name;
}

class Program : public testing::TestWithParam<programcase> {};

TEST_P(Program, ReportsThroughExitCodeAndPipeOnly) {
    const programcase& c = GetParam();
    standinlog calls;
    proberequest request;
    request.program = zendrikin(c.bed);
    request.args = c.args;
    request.pipeindex = 6;
    request.standinscript = c.script + (c.script.empty() ? "" : ";") + calls.scriptitem();
    const proberun run = runprobe(request);
    EXPECT_EQ(c.exitcode, run.exitcode);
    EXPECT_EQ("", run.printed);
    EXPECT_EQ(!c.pipebytes.empty(), run.connected);
    EXPECT_EQ(c.pipebytes, run.pipebytes);
    EXPECT_EQ(c.echoattempted, calls.calls().find("send ") != std::string::npos) << calls.calls();
}

const std::vector<std::string> probeargs = {"-i", "6", "-h", "127.0.0.1", "-t", "500"};

std::vector<std::string> withhost(const std::string& host) {
    return {"-i", "6", "-h", host, "-t", "500"};
}

INSTANTIATE_TEST_SUITE_P(
    Outcomes, Program,
    testing::Values(
        programcase{"alive", "probe-standin", probeargs, "", 0, "alive", true},
        programcase{"no reply", "probe-standin", probeargs, "replies=0;error=11010", 0, "dead",
                    true},
        programcase{"host unreachable", "probe-standin", probeargs, "status=11003", 0, "dead",
                    true},
        programcase{"reply from another address", "probe-standin", probeargs, "from=127.0.0.2", 0,
                    "dead", true},
        programcase{"wrong size", "probe-standin", probeargs, "size=31", 0, "dead", true},
        programcase{"close fails", "probe-standin", probeargs, "close=fail:6", 0, "dead", true},
        programcase{"leading zeros", "probe-standin", withhost("127.000.000.001"), "", 0, "dead",
                    true},
        programcase{"limited broadcast", "probe-standin", withhost("255.255.255.255"), "", 0,
                    "alive", true},
        programcase{"options written with slashes",
                    "probe-standin",
                    {"/t", "500", "/h", "127.0.0.1", "/i", "6"},
                    "",
                    0,
                    "alive",
                    true},
        programcase{"echo handle fails", "probe-standin", probeargs, "create=fail:13", 5, "",
                    false},
        programcase{"echo handle fails with a status", "probe-standin", probeargs,
                    "create=fail:11050", 5, "", false},
        programcase{"IcmpCreateFile missing", "probe-nocreate", probeargs, "", 4, "", false},
        programcase{"IcmpCloseHandle missing", "probe-noclose", probeargs, "", 4, "", false},
        programcase{"IcmpSendEcho missing", "probe-nosend", probeargs, "", 4, "", false},
        programcase{"word without prefix", "probe-standin", {"5"}, "", 1, "", false},
        programcase{"skipped option then a bare word",
                    "probe-standin",
                    {"-x", "5", "-i", "6", "-h", "127.0.0.1"},
                    "",
                    1,
                    "",
                    false},
        programcase{"empty word", "probe-standin", {"-i", "6", ""}, "", 1, "", false},
        programcase{
            "option without value", "probe-standin", {"-h", "127.0.0.1", "-i"}, "", 1, "", false},
        programcase{"host text of 16 characters",
                    "probe-standin",
                    {"-i", "6", "-h", "127.000.000.0001"},
                    "",
                    1,
                    "",
                    false}));

TEST(Program, LibraryMissingEverywhere) {
    // Exit code 3 needs the library to be absent from the system's search
    // path too; an installed copy would be found and used.
    if (void* installed = dlopen("libicmpecho.so", RTLD_NOW | RTLD_LOCAL)) {
        dlclose(installed);
        GTEST_SKIP() << "a libicmpecho.so is installed on this system";
    }
    proberequest request;
    request.program = zendrikin("probe-nolib");
    request.args = probeargs;
    request.pipeindex = 6;
    const proberun run = runprobe(request);
    EXPECT_EQ(3, run.exitcode);
    EXPECT_FALSE(run.connected);
    EXPECT_EQ("", run.printed);
}

struct pipecase {
    const char* name;
    std::vector<std::string> args;
    int serverindex;
    pipemode mode;
    int exitcode;
    std::string pipebytes;
};

void PrintTo(const pipecase& c, std::ostream* os) {
    *os << c.name;
}

class ResultPipe : public testing::TestWithParam<pipecase> {};

TEST_P(ResultPipe, CarriesExactlyTheVerdictWord) {
    const pipecase& c = GetParam();
    proberequest request;
    request.program = zendrikin("probe-standin");
    request.args = c.args;
    request.pipeindex = c.serverindex;
    request.mode = c.mode;
    const proberun run = runprobe(request);
    EXPECT_EQ(c.exitcode, run.exitcode);
    EXPECT_EQ("", run.printed);
    EXPECT_EQ(c.pipebytes, run.pipebytes);
    if (c.mode != pipemode::foreign) {
        EXPECT_EQ(!c.pipebytes.empty(), run.connected);
    }
    if (run.connected) {
        EXPECT_TRUE(run.peeristheprobe);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Pipes, ResultPipe,
    testing::Values(
        pipecase{
            "alive, 5 bytes", {"-i", "3", "-h", "127.0.0.1"}, 3, pipemode::listening, 0, "alive"},
        pipecase{"pipe 0", {"-i", "0", "-h", "127.0.0.1"}, 0, pipemode::listening, 0, "alive"},
        pipecase{"pipe 31", {"-i", "31", "-h", "127.0.0.1"}, 31, pipemode::listening, 0, "alive"},
        pipecase{
            "negative index", {"-i", "-1", "-h", "127.0.0.1"}, -1, pipemode::listening, 0, "alive"},
        pipecase{"default index 99", {"-h", "127.0.0.1"}, 99, pipemode::listening, 0, "alive"},
        pipecase{
            "-index", {"-index", "12", "-h", "127.0.0.1"}, 12, pipemode::listening, 0, "alive"},
        pipecase{
            "another pipe's index", {"-i", "4", "-h", "127.0.0.1"}, 3, pipemode::listening, 1, ""},
        pipecase{"no pipe", {"-i", "3", "-h", "127.0.0.1"}, 3, pipemode::absent, 1, ""},
        pipecase{"pipe closed by its monitor",
                 {"-i", "3", "-h", "127.0.0.1"},
                 3,
                 pipemode::closed,
                 1,
                 ""},
        pipecase{"pipe taken", {"-i", "3", "-h", "127.0.0.1"}, 3, pipemode::taken, 1, ""},
        pipecase{"pipe of a process other than the parent",
                 {"-i", "3", "-h", "127.0.0.1"},
                 3,
                 pipemode::foreign,
                 1,
                 ""},
        pipecase{"started without being told where the pipes are",
                 {"-i", "3", "-h", "127.0.0.1"},
                 3,
                 pipemode::unnamed,
                 1,
                 ""}));

TEST(ResultPipe, DeadIsFourBytes) {
    proberequest request;
    request.program = zendrikin("probe-standin");
    request.args = {"-i", "2", "-h", "127.0.0.1"};
    request.pipeindex = 2;
    request.standinscript = "replies=0";
    const proberun run = runprobe(request);
    EXPECT_EQ(0, run.exitcode);
    EXPECT_EQ(std::string("dead", 4), run.pipebytes);
    EXPECT_EQ("", run.printed);
}

// The real echo library on loopback, beside the real zendrik.
TEST(RealLoopback, VerdictsOfTheRealLibrary) {
    struct loopcase {
        const char* host;
        const char* word;
    };
    for (const loopcase c : {loopcase{"127.0.0.1", "alive"}, loopcase{"127.0.0.2", "alive"},
                             loopcase{"127.000.000.001", "dead"}, loopcase{"127.1", "dead"}}) {
        proberequest request;
        request.program = ZENDRIK_REAL;
        request.args = {"-i", "9", "-h", c.host, "-t", "2000"};
        request.pipeindex = 9;
        const proberun run = runprobe(request);
        if (run.exitcode == 5) {
            GTEST_SKIP() << "no ICMP socket for this user (needs a ping group or CAP_NET_RAW)";
        }
        EXPECT_EQ(0, run.exitcode) << c.host;
        EXPECT_EQ(c.word, run.pipebytes) << c.host;
        EXPECT_EQ("", run.printed) << c.host;
    }
}

// Every probe pays for each library it loads, once per host and cycle: the
// C++ runtime (libstdc++, libm, libgcc_s) must not be among them.
TEST(RealBinary, NeedsOnlyTheCLibrary) {
    if (QUORVEL_SANITIZED) {
        GTEST_SKIP() << "the sanitizers bring their own runtime";
    }
    FILE* dynamic = popen("readelf -d " ZENDRIK_REAL, "r");
    ASSERT_NE(nullptr, dynamic);
    std::string needed;
    char line[512];
    while (std::fgets(line, sizeof line, dynamic) != nullptr) {
        if (const char* name = std::strstr(line, "(NEEDED)")) {
            needed += std::strchr(name, '[');
        }
    }
    ASSERT_EQ(0, pclose(dynamic));
    EXPECT_EQ("[libc.so.6]\n", needed);
}

} // namespace
