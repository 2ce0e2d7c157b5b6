// SPDX-License-Identifier: GPL-3.0-or-later
// A Windows pipe's full name holds a secret of its own that only its probe's
// environment carries, and no one who sees the pipes can take a name that
// the monitor is about to make.
#include "multiprcfuncwin.h"
#include "pipepath.h"
#include "pipeserver_win32.h"
#include "resultpipe.h"
#include "testsupport.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <windows.h>

namespace {

std::string pipename(int index) {
    char name[256];
    std::snprintf(name, sizeof name, "\\\\.\\pipe\\mypipe%d", index);
    name[255] = '\0';
    return name;
}

TEST(PipeName, FullNameHoldsTheSecret) {
    const char* secret = "0123456789abcdef0123456789abcdef";
    for (int index : {0, 3, 10, 31, 99, -1, 2147483647}) {
        std::array<char, 256> full{};
        const std::string name = pipename(index);
        ASSERT_TRUE(pipefullname(secret, name.c_str(), full)) << name;
        EXPECT_EQ("\\\\.\\pipe\\quorvel-" + std::string(secret) + "-mypipe" + std::to_string(index),
                  full.data());
    }
}

TEST(PipeName, ProbeRefusesASecretThatIsNoneOfOurs) {
    std::array<char, 256> full{};
    const std::string name = pipename(0);
    EXPECT_FALSE(pipefullname(nullptr, name.c_str(), full))
        << "a probe that is not told the secret has no pipe";
    EXPECT_FALSE(pipefullname("", name.c_str(), full));
    EXPECT_FALSE(pipefullname("0123456789abcdef", name.c_str(), full)) << "too short";
    EXPECT_FALSE(pipefullname("0123456789ABCDEF0123456789abcdef", name.c_str(), full));
    EXPECT_FALSE(pipefullname("..\\..\\456789abcdef0123456789abcdef", name.c_str(), full));
    EXPECT_FALSE(pipefullname("0123456789abcdef0123456789abcdef", "mypipe0", full));
}

// Each pipe has a secret of its own, which only its probe is told; the next
// pipe gets another.
TEST(PipeName, EachPipeHasAFreshSecretOnlyInItsProbesEnvironment) {
    EXPECT_EQ(nullptr, pipeserverenvironment());
    const pipehandle first = pipeservercreate(pipename(0).c_str());
    const pipehandle second = pipeservercreate(pipename(1).c_str());
    ASSERT_NE(first, invalidpipehandle);
    ASSERT_NE(second, invalidpipehandle);
    const std::string secret = pipeserversecret(first);
    const std::string othersecret = pipeserversecret(second);
    EXPECT_EQ(32u, secret.size());
    EXPECT_NE(secret, othersecret) << "two pipes share a secret";
    EXPECT_EQ("QUORVEL_PIPES=" + secret, pipeserverenvironment(first));
    EXPECT_EQ("QUORVEL_PIPES=" + othersecret, pipeserverenvironment(second));

    // The name without the secret names no pipe, nor does the name with
    // another pipe's secret; the full name names ours, and a second pipe of
    // that name cannot be made.
    EXPECT_EQ(FALSE, WaitNamedPipeA(pipename(0).c_str(), 0));
    std::array<char, 256> full{};
    ASSERT_TRUE(pipefullname(othersecret.c_str(), pipename(0).c_str(), full));
    EXPECT_EQ(FALSE, WaitNamedPipeA(full.data(), 0));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    ASSERT_TRUE(pipefullname(secret.c_str(), pipename(0).c_str(), full));
    const HANDLE twin =
        CreateNamedPipeA(full.data(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE, 2, 512, 512, 0, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, twin) << "a second instance joined the monitor's pipe";
    if (twin != INVALID_HANDLE_VALUE) {
        CloseHandle(twin);
    }

    // This process is not its own parent: even with the secret, the probe's
    // side does not take this pipe.
    _putenv_s("QUORVEL_PIPES", secret.c_str());
    EXPECT_EQ(-1, pipeclientopen(pipename(0).c_str(), 0));
    _putenv_s("QUORVEL_PIPES", "");

    pipeserverclose(second);
    pipeserverclose(first);
    const pipehandle again = pipeservercreate(pipename(0).c_str());
    ASSERT_NE(again, invalidpipehandle);
    EXPECT_NE(secret, pipeserversecret(again));
    EXPECT_NE(othersecret, pipeserversecret(again));
    pipeserverclose(again);
}

// The secrets that the pipes made from now on are given, one draw at a
// time: what `next` returns, or a random one where it returns "".
class scripteddraws {
  public:
    explicit scripteddraws(std::function<std::string(int draw)> next) {
        script() = std::move(next);
        draws() = 0;
        pipeserversetsecretdraw(drawnext);
    }
    ~scripteddraws() {
        pipeserversetsecretdraw(nullptr);
        script() = nullptr;
    }
    scripteddraws(const scripteddraws&) = delete;
    scripteddraws& operator=(const scripteddraws&) = delete;

  private:
    static std::function<std::string(int)>& script() {
        static std::function<std::string(int)> next;
        return next;
    }
    static int& draws() {
        static int count = 0;
        return count;
    }
    static bool drawnext(std::array<char, pipesecretlength + 1>& secret) {
        const std::string chosen = script()(draws()++);
        if (chosen.empty()) {
            return pipeserverrandomsecret(secret);
        }
        std::snprintf(secret.data(), secret.size(), "%s", chosen.c_str());
        return true;
    }
};

// pipesquatter.exe, beside this test, as another local user's program: it is
// handed the secrets that a listing of the pipes would show it (Wine lists
// none) and says which it has dealt with.
class squatter {
  public:
    explicit squatter(bool oneinstance) {
        const std::filesystem::path here = std::filesystem::absolute(files_.path());
        list_ = (here / "listed").string();
        ack_ = (here / "taken").string();
        std::ofstream(list_).flush();
        const std::string line =
            "pipesquatter.exe \"" + list_ + "\" \"" + ack_ + "\"" + (oneinstance ? " one" : "");
        started_ = processstart(line.c_str(), process_);
    }
    bool started() const { return started_; }

    // Shows it the secret, and returns once it has taken every name with it
    // that is free (false when it has not within 10 s).
    bool hand(const std::string& secret) const {
        std::ofstream(list_, std::ios::app) << secret << "\n";
        for (int k = 0; k < 10000; ++k) {
            std::ifstream taken(ack_);
            for (std::string line; std::getline(taken, line);) {
                if (line == secret) {
                    return true;
                }
            }
            Sleep(1);
        }
        return false;
    }

  private:
    tempdir files_;
    std::string list_;
    std::string ack_;
    childprocess process_; // killed at scope end, and its names go with it
    bool started_ = false;
};

// Hands the squatter a secret that no draw of the system's would give in a
// test's lifetime, and has the monitor draw it for host 1: at its first draw
// only, or at every draw it makes for that host.
std::unique_ptr<scripteddraws> holdhost1(const squatter& s, const std::string& secret,
                                         bool every) {
    EXPECT_TRUE(s.hand(secret));
    return std::make_unique<scripteddraws>([secret, every](int draw) {
        const bool held = draw == 1 || (every && draw >= 1 && draw <= pipecreateattempts);
        return held ? secret : std::string();
    });
}

// A local program that sees the monitor's pipes (every user may list them)
// takes the names that its pipes' secrets would give other pipes, or holds
// names before the monitor draws them. Each host keeps its verdict; a host
// whose every drawn name is held already goes without one, and the other
// hosts keep theirs. Each row runs a cycle of three hosts.
TEST(PipeSquatting, EveryHostKeepsItsVerdictOrOnlyItsOwnIsLost) {
    using held = std::unique_ptr<pipeslot>;
    struct squatcase {
        const char* attack;
        bool oneinstance; // the squatter's pipes take one instance each
        // Readies the attack; returns what must live through the cycle. Where
        // there is none, the squatter holds host 1's names (holdhost1).
        std::function<std::pair<held, std::unique_ptr<scripteddraws>>(const squatter&)> prepare;
        const char* heldsecret;
        bool everydraw;
        bool host1lost;
    };
    const squatcase cases[] = {
        {"a pipe that outlives the cycle is seen; the squatter takes the other indices with "
         "its secret",
         false,
         [](const squatter& s) {
             auto pin = std::make_unique<pipeslot>(pipeservercreate(pipename(31).c_str()));
             EXPECT_TRUE(s.hand(pipeserversecret(pin->get())));
             return std::make_pair(std::move(pin), std::unique_ptr<scripteddraws>());
         },
         nullptr, false, false},
        {"each pipe of the cycle is seen as soon as it exists, and the squatter has taken the "
         "later indices with its secret before the next pipe is made",
         false,
         [](const squatter& s) {
             auto previous = std::make_shared<std::string>();
             auto draws = std::make_unique<scripteddraws>([&s, previous](int) {
                 if (!previous->empty()) {
                     EXPECT_TRUE(s.hand(*previous));
                 }
                 std::array<char, pipesecretlength + 1> secret{};
                 EXPECT_TRUE(pipeserverrandomsecret(secret));
                 *previous = secret.data();
                 return *previous;
             });
             return std::make_pair(held(), std::move(draws));
         },
         nullptr, false, false},
        {"the first name drawn for host 1 is held, with room for more instances", false, nullptr,
         "51ab00000000000000000000000000a1", false, false},
        {"every name drawn for host 1 is held, one instance each", true, nullptr,
         "51ab00000000000000000000000000a2", true, true},
        {"every name drawn for host 1 is held, with room for more instances", false, nullptr,
         "51ab00000000000000000000000000a3", true, true},
    };
    multiprcsetechotimeout(200);
    for (const squatcase& c : cases) {
        const squatter attacker(c.oneinstance);
        ASSERT_TRUE(attacker.started()) << c.attack;
        const auto alive =
            c.prepare ? c.prepare(attacker)
                      : std::make_pair(held(), holdhost1(attacker, c.heldsecret, c.everydraw));
        const auto out =
            runcycle({standin(0, "say alive"), standin(1, "say alive"), standin(2, "say alive")}, 20);
        EXPECT_EQ(0, out.returned) << c.attack;
        const std::string read1 = c.host1lost ? "PipeServer: \n" : "PipeServer: alive\n";
        const std::string reap1 =
            c.host1lost ? "wait result=WAIT_OBJECT_0\nexitCode=1/1\n" : exited0;
        EXPECT_EQ(started + started + started + "PipeServer: alive\n" + read1 +
                      "PipeServer: alive\n" + exited0 + reap1 + exited0,
                  out.trace)
            << c.attack;
        EXPECT_EQ((std::vector<int>{1, c.host1lost ? 0 : 1, 1}), out.results) << c.attack;
    }
}

} // namespace
