// SPDX-License-Identifier: GPL-3.0-or-later
// The real echo library, loaded by name as zendrik loads it, against
// loopback: the reply record, the copy of the data, and the failures a caller
// can cause.
#include "icmpapi.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <dlfcn.h>
#include <fstream>
#include <grp.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

std::uint32_t address(const char* dotted) {
    in_addr in{};
    inet_pton(AF_INET, dotted, &in);
    return in.s_addr;
}

class EchoLibrary : public testing::Test {
  protected:
    void SetUp() override {
        library_ = dlopen(ECHO_LIBRARY_REAL, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(nullptr, library_) << dlerror();
        create_ = reinterpret_cast<icmpcreatefilefn>(dlsym(library_, "IcmpCreateFile"));
        close_ = reinterpret_cast<icmpclosehandlefn>(dlsym(library_, "IcmpCloseHandle"));
        send_ = reinterpret_cast<icmpsendechofn>(dlsym(library_, "IcmpSendEcho"));
        ASSERT_TRUE(create_ && close_ && send_);
        handle_ = create_();
        if (handle_ == icmpinvalidhandle()) {
            GTEST_SKIP() << "no ICMP socket for this user (needs a ping group or CAP_NET_RAW)";
        }
    }
    void TearDown() override {
        if (handle_ != nullptr && handle_ != icmpinvalidhandle()) {
            EXPECT_EQ(1, close_(handle_));
        }
        if (library_ != nullptr) {
            dlclose(library_);
        }
    }

    // One echo of size bytes; the buffer gets the reply, or stays untouched.
    std::uint32_t echo(const char* to, std::size_t size, std::vector<std::uint8_t>& buffer,
                       std::uint32_t timeout = 2000) {
        request_.resize(size);
        for (std::size_t k = 0; k < size; ++k) {
            request_[k] = static_cast<std::uint8_t>(k * 7 + 1);
        }
        IP_OPTION_INFORMATION options{};
        options.Ttl = 64;
        return send_(handle_, address(to), request_.data(), static_cast<std::uint16_t>(size),
                     &options, buffer.data(), static_cast<std::uint32_t>(buffer.size()), timeout);
    }

    void* library_ = nullptr;
    icmpcreatefilefn create_ = nullptr;
    icmpclosehandlefn close_ = nullptr;
    icmpsendechofn send_ = nullptr;
    icmphandle handle_ = nullptr;
    std::vector<std::uint8_t> request_;
};

ICMP_ECHO_REPLY recordof(const std::vector<std::uint8_t>& buffer) {
    ICMP_ECHO_REPLY record;
    std::memcpy(&record, buffer.data(), sizeof record);
    return record;
}

int defaultttl() {
    std::ifstream file("/proc/sys/net/ipv4/ip_default_ttl");
    int ttl = 64;
    file >> ttl;
    return ttl;
}

TEST_F(EchoLibrary, ReplyRecordAndDataLandInTheBuffer) {
    struct loopcase {
        const char* to;
        std::size_t size;
    };
    for (const loopcase c :
         {loopcase{"127.0.0.1", 32}, loopcase{"127.0.0.2", 32}, loopcase{"127.0.0.1", 0},
          loopcase{"127.0.0.1", 1}, loopcase{"127.0.0.1", 1000}}) {
        std::vector<std::uint8_t> buffer(8232, 0xAA);
        ASSERT_EQ(1u, echo(c.to, c.size, buffer)) << c.to << " " << c.size << " errno " << errno;
        const ICMP_ECHO_REPLY record = recordof(buffer);
        EXPECT_EQ(address(c.to), record.Address);
        EXPECT_EQ(0u, record.Status);
        EXPECT_EQ(c.size, record.DataSize);
        EXPECT_EQ(buffer.data() + sizeof(ICMP_ECHO_REPLY), record.Data);
        EXPECT_EQ(defaultttl(), record.Options.Ttl);
        EXPECT_TRUE(
            std::equal(request_.begin(), request_.end(), buffer.begin() + sizeof(ICMP_ECHO_REPLY)));
        EXPECT_EQ(0xAA, buffer[sizeof(ICMP_ECHO_REPLY) + c.size]) << "nothing after the data";
    }
}

TEST_F(EchoLibrary, OneHandleServesManyEchoes) {
    std::vector<std::uint8_t> buffer(8232);
    for (int k = 0; k < 20; ++k) {
        ASSERT_EQ(1u, echo("127.0.0.1", 32, buffer)) << k;
        EXPECT_EQ(address("127.0.0.1"), recordof(buffer).Address);
    }
}

TEST_F(EchoLibrary, ReplyBufferMustHoldRecordDataAndAnErrorsWorth) {
    const std::size_t least = sizeof(ICMP_ECHO_REPLY) + 32 + 8;
    std::vector<std::uint8_t> small(least - 1, 0x55);
    errno = 0;
    EXPECT_EQ(0u, echo("127.0.0.1", 32, small));
    EXPECT_EQ(static_cast<int>(ipstatus::buftoosmall), errno);
    EXPECT_EQ(std::vector<std::uint8_t>(least - 1, 0x55), small) << "buffer left untouched";

    std::vector<std::uint8_t> enough(least);
    EXPECT_EQ(1u, echo("127.0.0.1", 32, enough));
    EXPECT_EQ(32, recordof(enough).DataSize);
}

TEST_F(EchoLibrary, RefusesTheAllZeroAddress) {
    std::vector<std::uint8_t> buffer(8232);
    errno = 0;
    EXPECT_EQ(0u, echo("0.0.0.0", 32, buffer));
    EXPECT_EQ(static_cast<int>(ipstatus::baddestination), errno);
}

TEST_F(EchoLibrary, BadHandleOrBufferIsAnInvalidParameter) {
    std::vector<std::uint8_t> buffer(8232);
    char data[32] = {};
    for (icmphandle bad : {static_cast<icmphandle>(nullptr), icmpinvalidhandle()}) {
        errno = 0;
        EXPECT_EQ(0u,
                  send_(bad, address("127.0.0.1"), data, 32, nullptr, buffer.data(), 8232, 100));
        EXPECT_EQ(static_cast<int>(errorinvalidparameter), errno);
        errno = 0;
        EXPECT_EQ(0, close_(bad));
        EXPECT_EQ(static_cast<int>(errorinvalidparameter), errno);
    }
    errno = 0;
    EXPECT_EQ(0u, send_(handle_, address("127.0.0.1"), data, 32, nullptr, nullptr, 8232, 100));
    EXPECT_EQ(static_cast<int>(errorinvalidparameter), errno);
    errno = 0;
    EXPECT_EQ(0u,
              send_(handle_, address("127.0.0.1"), nullptr, 32, nullptr, buffer.data(), 8232, 100));
    EXPECT_EQ(static_cast<int>(errorinvalidparameter), errno);
}

TEST_F(EchoLibrary, WithoutOptionsTheSystemDefaultsApply) {
    std::vector<std::uint8_t> buffer(8232);
    char data[32] = {};
    ASSERT_EQ(1u,
              send_(handle_, address("127.0.0.1"), data, 32, nullptr, buffer.data(), 8232, 2000));
    EXPECT_EQ(0u, recordof(buffer).Status);
}

// A probe may hold CAP_NET_RAW as a permitted capability only, as the install
// grants it: the library must raise it for its raw socket and lower it again.
// Each case runs in a child that becomes user nobody in a network namespace of
// its own, where ping sockets are refused as by the kernel's default.
struct privilegecase {
    const char* name;
    bool permitted; // CAP_NET_RAW permitted (never effective) before the call
    int outcome;    // handlebit | effectivebit | permittedbit, seen after the call
};

constexpr int handlebit = 1;    // IcmpCreateFile gave a valid handle
constexpr int effectivebit = 2; // CAP_NET_RAW effective after the call
constexpr int permittedbit = 4; // CAP_NET_RAW still permitted after the call

bool capabilities(__user_cap_data_struct (&data)[_LINUX_CAPABILITY_U32S_3], bool set) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    return syscall(set ? SYS_capset : SYS_capget, &header, data) == 0;
}

[[noreturn]] void createasnobody(bool permitted) {
    void* library = dlopen(ECHO_LIBRARY_REAL, RTLD_NOW | RTLD_LOCAL);
    const auto create =
        reinterpret_cast<icmpcreatefilefn>(library ? dlsym(library, "IcmpCreateFile") : nullptr);
    const gid_t nogroup = 65534;
    const uid_t nobody = 65534;
    if (create == nullptr || unshare(CLONE_NEWNET) != 0 || prctl(PR_SET_KEEPCAPS, 1) != 0 ||
        setgroups(0, nullptr) != 0 || setresgid(nogroup, nogroup, nogroup) != 0 ||
        setresuid(nobody, nobody, nobody) != 0) {
        _exit(100);
    }
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (permitted) {
        data[CAP_TO_INDEX(CAP_NET_RAW)].permitted = CAP_TO_MASK(CAP_NET_RAW);
    }
    if (!capabilities(data, true)) {
        _exit(101);
    }
    const icmphandle handle = create();
    if (!capabilities(data, false)) {
        _exit(102);
    }
    const auto& word = data[CAP_TO_INDEX(CAP_NET_RAW)];
    const std::uint32_t bit = CAP_TO_MASK(CAP_NET_RAW);
    _exit((handle != icmpinvalidhandle() ? handlebit : 0) |
          ((word.effective & bit) != 0 ? effectivebit : 0) |
          ((word.permitted & bit) != 0 ? permittedbit : 0));
}

TEST(EchoLibraryPrivilege, RaisesAPermittedNetRawForTheSocketAloneAndLowersItAgain) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "needs root to become user nobody with chosen capabilities";
    }
    for (const privilegecase& c : {
             privilegecase{"permitted only", true, handlebit | permittedbit},
             privilegecase{"not permitted", false, 0},
         }) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            createasnobody(c.permitted);
        }
        int status = 0;
        ASSERT_EQ(child, waitpid(child, &status, 0));
        ASSERT_TRUE(WIFEXITED(status)) << c.name;
        EXPECT_EQ(c.outcome, WEXITSTATUS(status)) << c.name;
    }
}

} // namespace
