// The monitor and the probe map a pipe name onto a local address separately;
// they must agree byte for byte, or no verdict ever arrives.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

socklen_t pipeclientaddress(const char* pipename, long monitorpid, sockaddr_un* address);
socklen_t pipeserveraddress(const char* pipename, long monitorpid, sockaddr_un* address);
std::intptr_t pipeclientopen(const char* pipename, int waitmsec);
long pipeclientwrite(std::intptr_t pipe, const void* bytes, std::size_t count);
bool pipeclientclose(std::intptr_t pipe);
std::intptr_t pipeservercreate(const char* pipename);
void pipeserverclose(std::intptr_t pipe);

namespace {

std::string pipename(int index) {
    char name[256];
    std::snprintf(name, sizeof name, "\\\\.\\pipe\\mypipe%d", index);
    name[255] = '\0';
    return name;
}

TEST(PipeName, BothSidesFormTheSameAddress) {
    for (long pid : {1L, 4242L, 4194304L}) {
        for (int index : {0, 3, 10, 31, 99, -1, 2147483647}) {
            sockaddr_un client, server;
            const std::string name = pipename(index);
            const socklen_t cl = pipeclientaddress(name.c_str(), pid, &client);
            const socklen_t sl = pipeserveraddress(name.c_str(), pid, &server);
            ASSERT_GT(cl, 0u) << name;
            ASSERT_EQ(cl, sl) << name;
            EXPECT_EQ(0, std::memcmp(&client, &server, cl)) << name;
            EXPECT_EQ('\0', client.sun_path[0]) << "the name must stay off the file system";
        }
    }
}

TEST(PipeName, DifferentMonitorsAndHostsNeverShareAnAddress) {
    sockaddr_un a, b;
    const socklen_t la = pipeserveraddress(pipename(1).c_str(), 100, &a);
    const socklen_t lb = pipeserveraddress(pipename(1).c_str(), 1001, &b);
    EXPECT_FALSE(la == lb && std::memcmp(&a, &b, la) == 0);
    const socklen_t lc = pipeserveraddress(pipename(1).c_str(), 100, &a);
    const socklen_t ld = pipeserveraddress(pipename(10).c_str(), 100, &b);
    EXPECT_FALSE(lc == ld && std::memcmp(&a, &b, lc) == 0);
}

// A child of this process is the client: it finds the pipe of its parent.
TEST(PipeName, ChildReachesItsParentsPipe) {
    const std::string name = pipename(7);
    const std::intptr_t server = pipeservercreate(name.c_str());
    ASSERT_NE(server, -1);
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
    pipeserverclose(server);

    // Once the server end is closed, the name is gone.
    const pid_t late = fork();
    ASSERT_GE(late, 0);
    if (late == 0) {
        _exit(pipeclientopen(name.c_str(), 1000) == -1 ? 0 : 1);
    }
    ASSERT_EQ(late, waitpid(late, &status, 0));
    EXPECT_EQ(0, WEXITSTATUS(status));
}

} // namespace
