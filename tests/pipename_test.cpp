// The monitor and the probe map a pipe name onto a local address separately;
// they must agree byte for byte, or no verdict ever arrives.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

// The two layers' headers cannot both be included (each names its own pipe
// handle); their declarations are repeated here instead.
socklen_t pipeclientaddress(const char* directory, const char* pipename, sockaddr_un* address);
socklen_t pipeserveraddress(const char* directory, const char* pipename, sockaddr_un* address);
std::intptr_t pipeclientopen(const char* pipename, int waitmsec);
long pipeclientwrite(std::intptr_t pipe, const void* bytes, std::size_t count);
bool pipeclientclose(std::intptr_t pipe);
std::intptr_t pipeservercreate(const char* pipename);
void pipeserverclose(std::intptr_t pipe);
const char* pipeserverdirectory();
const char* pipeserverenvironment();

namespace {

std::string pipename(int index) {
    char name[256];
    std::snprintf(name, sizeof name, "\\\\.\\pipe\\mypipe%d", index);
    name[255] = '\0';
    return name;
}

TEST(PipeName, BothSidesFormTheSameAddress) {
    for (const char* directory : {"/tmp/quorvel-AbC123", "/run/user/1000/quorvel-zz9_Q0"}) {
        for (int index : {0, 3, 10, 31, 99, -1, 2147483647}) {
            sockaddr_un client, server;
            const std::string name = pipename(index);
            const socklen_t cl = pipeclientaddress(directory, name.c_str(), &client);
            const socklen_t sl = pipeserveraddress(directory, name.c_str(), &server);
            ASSERT_GT(cl, 0u) << name;
            ASSERT_EQ(cl, sl) << name;
            EXPECT_EQ(0, std::memcmp(&client, &server, cl)) << name;
        }
    }
    sockaddr_un address;
    EXPECT_EQ(0u, pipeclientaddress(nullptr, pipename(0).c_str(), &address))
        << "a probe that is not told where the pipes are has none";
    EXPECT_EQ(0u, pipeclientaddress("relative", pipename(0).c_str(), &address));
}

// The pipes live in a directory that only this user can enter, named in the
// probe's environment and in no command line.
TEST(PipeName, PipesLiveInAPrivateDirectoryThatGoesWithTheLastPipe) {
    ASSERT_EQ(nullptr, pipeserverdirectory());
    const std::intptr_t first = pipeservercreate(pipename(0).c_str());
    const std::intptr_t second = pipeservercreate(pipename(1).c_str());
    ASSERT_NE(first, -1);
    ASSERT_NE(second, -1);
    const std::string directory = pipeserverdirectory();
    struct stat info;
    ASSERT_EQ(0, lstat(directory.c_str(), &info));
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(0700u, info.st_mode & 07777);
    EXPECT_EQ(geteuid(), info.st_uid);
    EXPECT_EQ("QUORVEL_PIPES=" + directory, pipeserverenvironment());
    EXPECT_EQ(0, lstat((directory + "/" + pipename(1)).c_str(), &info));
    pipeserverclose(second);
    EXPECT_NE(0, lstat((directory + "/" + pipename(1)).c_str(), &info))
        << "a closed pipe's name stays behind";
    pipeserverclose(first);
    EXPECT_NE(0, lstat(directory.c_str(), &info)) << "the directory outlived its pipes";
    EXPECT_EQ(nullptr, pipeserverenvironment());
}

// A child of this process is the client: it finds the pipe of its parent.
TEST(PipeName, ChildReachesItsParentsPipe) {
    const std::string name = pipename(7);
    const std::intptr_t server = pipeservercreate(name.c_str());
    ASSERT_NE(server, -1);
    setenv("QUORVEL_PIPES", pipeserverdirectory(), 1);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const std::intptr_t pipe = pipeclientopen(name.c_str(), 1000);
        if (pipe == -1) {
            _exit(2);
        }
        const long n = pipeclientwrite(pipe, "alive", 5);
        pipeclientclose(pipe);
        _exit(n == 5 ? 0 : 3);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(0, WEXITSTATUS(status));
    // The child has exited; its bytes wait on the queued connection.
    const int connection = accept(static_cast<int>(server), nullptr, nullptr);
    ASSERT_GE(connection, 0);
    char bytes[16] = {};
    EXPECT_EQ(5, read(connection, bytes, sizeof bytes));
    EXPECT_STREQ("alive", bytes);
    close(connection);
    // Still open here, the pipe is no pipe for this process itself: it is
    // not its own parent.
    EXPECT_EQ(-1, pipeclientopen(name.c_str(), 0));
    pipeserverclose(server);

    // Once the server end is closed, the name is gone.
    const pid_t late = fork();
    ASSERT_GE(late, 0);
    if (late == 0) {
        _exit(pipeclientopen(name.c_str(), 1000) == -1 ? 0 : 1);
    }
    ASSERT_EQ(late, waitpid(late, &status, 0));
    EXPECT_EQ(0, WEXITSTATUS(status));
    unsetenv("QUORVEL_PIPES");
}

} // namespace
