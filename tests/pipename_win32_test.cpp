// A Windows pipe's full name holds a secret that only the probes' environment
// carries.
#include "pipepath.h"
#include "pipeserver_win32.h"
#include "resultpipe.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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

// The pipes of one set share one secret; the next set gets another.
TEST(PipeName, EachSetOfPipesHasAFreshSecretOnlyInTheEnvironment) {
    ASSERT_EQ(nullptr, pipeserverenvironment());
    const pipehandle first = pipeservercreate(pipename(0).c_str());
    const pipehandle second = pipeservercreate(pipename(1).c_str());
    ASSERT_NE(first, invalidpipehandle);
    ASSERT_NE(second, invalidpipehandle);
    const std::string secret = pipeserversecret();
    EXPECT_EQ(32u, secret.size());
    EXPECT_EQ("QUORVEL_PIPES=" + secret, pipeserverenvironment());

    // The name without the secret names no pipe; the full name names ours,
    // and a second pipe of that name cannot be made.
    EXPECT_EQ(FALSE, WaitNamedPipeA(pipename(0).c_str(), 0));
    std::array<char, 256> full{};
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
    EXPECT_EQ(nullptr, pipeserverenvironment());
    const pipehandle again = pipeservercreate(pipename(0).c_str());
    ASSERT_NE(again, invalidpipehandle);
    EXPECT_NE(secret, pipeserversecret());
    pipeserverclose(again);
}

} // namespace
