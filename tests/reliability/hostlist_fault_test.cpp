// SPDX-License-Identifier: GPL-3.0-or-later
// Host list files that are not what a host list should be: endless, huge,
// not a file at all, unreadable, or changing while they are read. Start-up
// must always get past the reading, with whatever rows could be read.
#include "hostlist.h"
#include "settings.h"
#include "workdir.h"

#include <array>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <gtest/gtest.h>
#include <sstream>
#include <streambuf>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr uid_t nobody = 65534;

std::string hostline(const char* label, int octet) {
    return std::string(label) + " 127.0.3." + std::to_string(octet) +
           " 02:00:00:00:03:" + (octet < 16 ? "0" : "") +
           [octet] {
               char hex[8];
               std::snprintf(hex, sizeof hex, "%x", octet);
               return std::string(hex);
           }() +
           "\n";
}

// Runs check in a child process that a timer ends after `seconds`, so a read
// that never ends fails the test instead of hanging it. The child's status:
// 0 when check held, 1 when it did not, 128 + signal when it was ended.
int inchild(const std::function<bool()>& check, unsigned seconds) {
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        alarm(seconds);
        _exit(check() ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

class HostListFault : public testing::Test {
    workdir dir_;
};

// One host line, then junk lines for ever.
class endlessjunk : public std::streambuf {
  public:
    endlessjunk() : text_(hostline("first", 1)) {
        setg(text_.data(), text_.data(), text_.data() + text_.size());
    }

  protected:
    int_type underflow() override {
        text_ = "junk junk junk\n";
        setg(text_.data(), text_.data(), text_.data() + text_.size());
        return traits_type::to_int_type(text_[0]);
    }

  private:
    std::string text_;
};

TEST_F(HostListFault, EndlessInputIsReadOnlyUpTo16MiB) {
    const int status = inchild(
        [] {
            endlessjunk junk;
            std::istream in(&junk);
            return readlistfrom(in) == 1 && hostnum == 1 &&
                   std::strcmp(dolist[0].hostname, "first") == 0;
        },
        120);
    EXPECT_EQ(0, status) << "14 means the reading never ended";
}

struct bigfile {
    const char* name;
    std::size_t junkbytes; // before the one host line
    int hosts;
};

void PrintTo(const bigfile& f, std::ostream* os) {
    *os << f.name;
}

class BigHostList : public HostListFault, public testing::WithParamInterface<bigfile> {};

TEST_P(BigHostList, IsReadUpTo16MiB) {
    {
        std::ofstream file("hostlist", std::ios::binary);
        const std::string junk(999, 'x');
        for (std::size_t written = 0; written < GetParam().junkbytes; written += junk.size() + 1) {
            file << junk << '\n';
        }
        file << hostline("last", 9);
    }
    EXPECT_EQ(1, readlist());
    EXPECT_EQ(GetParam().hosts, hostnum);
}

INSTANTIATE_TEST_SUITE_P(Sizes, BigHostList,
                         testing::Values(bigfile{"TenMegabytes", 10'000'000, 1},
                                         bigfile{"Past16MiB", 17'000'000, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

// Neither a FIFO without a writer nor an endless device may hold up the
// start-up: neither is a host list.
TEST_F(HostListFault, FifoOrDeviceNamedHostlistIsNotRead) {
    ASSERT_EQ(0, mkfifo("hostlist", 0644));
    EXPECT_EQ(0, inchild([] { return readlist() == -1 && hostnum == 0; }, 20));
    std::filesystem::remove("hostlist");
    std::filesystem::create_symlink("/dev/zero", "hostlist");
    EXPECT_EQ(0, inchild([] { return readlist() == -1 && hostnum == 0; }, 20));
}

// The name flips between a host list and a FIFO without a writer while it is
// read again and again: whatever the name holds at the moment of the open is
// what is judged, so no read may ever wait on the FIFO.
TEST_F(HostListFault, FifoSwappedInAtAnyMomentNeverHoldsUpTheRead) {
    std::ofstream("list") << hostline("real", 4);
    ASSERT_EQ(0, mkfifo("fifo", 0644));
    // The swapper is a process of its own: a thread would be copied, half
    // alive, into the reader's child.
    std::fflush(nullptr);
    const pid_t swapper = fork();
    if (swapper == 0) {
        alarm(30);
        // Each rename swaps the two atomically; the name is never missing.
        for (int round = 0; round < 2000000; ++round) {
            link(round % 2 == 0 ? "fifo" : "list", "next");
            rename("next", "hostlist");
        }
        _exit(0);
    }
    const int status = inchild(
        [] {
            for (int reads = 0; reads < 30000; ++reads) {
                const int result = readlist();
                if (result == 1 ? hostnum != 1 : result != -1) {
                    return false;
                }
            }
            return true;
        },
        20);
    kill(swapper, SIGKILL);
    waitpid(swapper, nullptr, 0);
    EXPECT_EQ(0, status) << "a read hung on the FIFO (14 is the alarm) or read wrongly";
}

TEST_F(HostListFault, DirectoryNamedHostlistCannotBeOpened) {
    std::filesystem::create_directory("hostlist");
    EXPECT_EQ(-1, readlist());
    EXPECT_EQ(0, hostnum);
}

TEST_F(HostListFault, LinkToAHostListIsRead) {
    std::ofstream("real") << hostline("linked", 2);
    std::filesystem::create_symlink("real", "hostlist");
    EXPECT_EQ(1, readlist());
    ASSERT_EQ(1, hostnum);
    EXPECT_STREQ("linked", dolist[0].hostname);
}

// Root reads any file, so the reader is the user nobody when the test runs
// as root.
TEST_F(HostListFault, FileWithoutReadPermissionGivesNoRow) {
    std::ofstream("hostlist") << hostline("secret", 3);
    ASSERT_EQ(0, chmod("hostlist", geteuid() == 0 ? 0600 : 0000));
    const int status = inchild(
        [] {
            if (geteuid() == 0 &&
                (setgroups(0, nullptr) != 0 || setresgid(nobody, nobody, nobody) != 0 ||
                 setresuid(nobody, nobody, nobody) != 0)) {
                return false;
            }
            return readlist() == -1 && hostnum == 0;
        },
        20);
    EXPECT_EQ(0, status);
}

// Another thread rewrites the file again and again while it is read. A line
// may then be read half from one version and half from the next, but every
// row is made of bytes of the file: a known label, the hosts' network, their
// hardware prefix, and never more rows than a version holds. The two
// versions' lines are equally long and alike in shape, so that a line torn at
// any column is still made of a known label, address and hardware address:
// lines of different lengths, torn, would shift fields into each other.
TEST_F(HostListFault, FileRewrittenWhileReadGivesOnlyRowsOfItsBytes) {
    std::string first, second;
    for (int k = 0; k < 10; ++k) {
        first += hostline(("a" + std::to_string(k)).c_str(), 10 + k);
        second += hostline(("b" + std::to_string(k)).c_str(), 20 + k);
    }
    std::atomic<bool> stop = false;
    std::thread writer([&] {
        for (int round = 0; !stop && round < 200000; ++round) {
            std::ofstream file("hostlist", std::ios::trunc);
            const std::string& text = round % 2 == 0 ? first : second;
            for (std::size_t at = 0; at < text.size(); at += 7) {
                file << text.substr(at, 7) << std::flush;
            }
        }
    });
    int reads = 0;
    for (; reads < 2000; ++reads) {
        readlist();
        ASSERT_LE(hostnum, 10);
        for (int i = 0; i < hostnum; ++i) {
            const HostEntry& row = dolist[i];
            const std::string label = row.hostname;
            EXPECT_NE(std::string::npos, (first + second).find(label + " 127.0.3.")) << label;
            EXPECT_EQ((std::array<std::uint8_t, 3>{127, 0, 3}),
                      (std::array<std::uint8_t, 3>{row.ip[0], row.ip[1], row.ip[2]}));
            EXPECT_EQ(0, std::memcmp(row.mac.data(), "\x02\0\0\0\x03", 5)) << label;
        }
    }
    stop = true;
    writer.join();
}

} // namespace
