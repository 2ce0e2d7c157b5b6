// SPDX-License-Identifier: GPL-3.0-or-later
// Where a result pipe lives on Linux: the address rule both programs use, and
// the directories the monitor keeps its pipes in.
#include "pipepath_linux.h"
#include "pipeserver_linux.h"
#include "resultpipe.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string pipename(int index) {
    char name[protocoltextsize];
    formatpipename(index, name);
    return name;
}

TEST(PipeName, AddressIsTheFileInTheDirectoryOrNone) {
    EXPECT_EQ("\\\\.\\pipe\\mypipe0", pipename(0));
    EXPECT_EQ("\\\\.\\pipe\\mypipe31", pipename(31));
    sockaddr_un address;
    const socklen_t length = pipeaddress("/run/user/1000/quorvel/pipes-zz9_Q0",
                                         pipename(10).c_str(), &address);
    EXPECT_STREQ("/run/user/1000/quorvel/pipes-zz9_Q0/\\\\.\\pipe\\mypipe10", address.sun_path);
    EXPECT_EQ(offsetof(sockaddr_un, sun_path) + std::strlen(address.sun_path) + 1, length);
    const std::string toolong = "/" + std::string(sizeof address.sun_path, 'x');
    const struct {
        const char* directory;
        std::string name;
        const char* why;
    } refused[] = {
        {nullptr, pipename(0), "a probe that is not told where the pipes are has none"},
        {"relative", pipename(0), "a relative directory depends on the working directory"},
        {"/tmp", "../etc/x", "a name with a slash leaves the directory"},
        {toolong.c_str(), pipename(0), "an address that does not fit"},
    };
    for (const auto& c : refused) {
        EXPECT_EQ(0u, pipeaddress(c.directory, c.name.c_str(), &address)) << c.why;
        EXPECT_EQ('\0', address.sun_path[0]) << c.why;
    }
}

// The pipes live in a directory that only this user can enter, inside a
// parent of the user's that holds nothing else, named in the probe's
// environment and in no command line.
TEST(PipeName, PipesLiveInAPrivateDirectoryThatGoesWithTheLastPipe) {
    ASSERT_EQ(nullptr, pipeserverdirectory());
    const pipehandle first = pipeservercreate(pipename(0).c_str());
    const pipehandle second = pipeservercreate(pipename(1).c_str());
    ASSERT_NE(first, invalidpipehandle);
    ASSERT_NE(second, invalidpipehandle);
    const std::string directory = pipeserverdirectory();
    const std::string parent = directory.substr(0, directory.rfind('/'));
    EXPECT_EQ("pipes-", directory.substr(parent.size() + 1, 6));
    for (const std::string& path : {directory, parent}) {
        struct stat info;
        ASSERT_EQ(0, lstat(path.c_str(), &info));
        EXPECT_TRUE(S_ISDIR(info.st_mode)) << path;
        EXPECT_EQ(0700u, info.st_mode & 07777) << path;
        EXPECT_EQ(geteuid(), info.st_uid) << path;
    }
    struct stat info;
    EXPECT_EQ("QUORVEL_PIPES=" + directory, pipeserverenvironment());
    EXPECT_EQ(0, lstat((directory + "/" + pipename(1)).c_str(), &info));
    pipeserverclose(second);
    EXPECT_NE(0, lstat((directory + "/" + pipename(1)).c_str(), &info))
        << "a closed pipe's name stays behind";
    pipeserverclose(first);
    EXPECT_NE(0, lstat(directory.c_str(), &info)) << "the directory outlived its pipes";
    EXPECT_EQ(0, lstat(parent.c_str(), &info)) << "the parent is kept for the next cycle";
    EXPECT_EQ(nullptr, pipeserverenvironment());
}

// A child of this process is the client: it finds the pipe of its parent.
TEST(PipeName, ChildReachesItsParentsPipe) {
    const std::string name = pipename(7);
    const pipehandle server = pipeservercreate(name.c_str());
    ASSERT_NE(server, invalidpipehandle);
    setenv("QUORVEL_PIPES", pipeserverdirectory(), 1);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const pipehandle pipe = pipeclientopen(name.c_str(), 1000);
        if (pipe == invalidpipehandle) {
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
