// SPDX-License-Identifier: GPL-3.0-or-later
// The parts of the probe cycle and of the wake-up that need no window: the
// estimate, the probe command lines, the magic packet and where it goes.
#include "cycle.h"
#include "hostlist.h"
#include "udpmagicsend_funcwg.h"

#include <arpa/inet.h>
#include <array>
#include <cerrno>
#include <climits>
#include <cstring>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

HostEntry host(const char* name, std::array<std::uint8_t, 4> ip, std::array<std::uint8_t, 6> mac) {
    HostEntry row{};
    std::strncpy(row.hostname, name, sizeof row.hostname - 1);
    row.ip = ip;
    row.mac = mac;
    return row;
}

TEST(Estimate, RoundsTheCycleUpToWholeSecondsPlusFour) {
    struct Case {
        int count, pause, timeout, seconds;
    };
    for (const Case& c : {
             Case{32, 20, 1000, 6}, // the defaults with a full table
             Case{0, 20, 1000, 5},  // no host: the time-out alone
             Case{10, 100, 500, 6}, // 1.5 s rounds to 2
             Case{1, 0, 499, 4},    // 0.999 truncates to 0
             Case{0, 0, -3000, 2},  // -2.5 truncates toward zero, to -2
         }) {
        EXPECT_EQ(estimatecyclesec(c.count, c.pause, c.timeout), c.seconds)
            << c.count << " hosts, pause " << c.pause << ", time-out " << c.timeout;
    }
}

TEST(Estimate, StaysAnIntWhateverTheOptions) {
    // The product of count and pause does not fit an int here: computed in
    // int it would wrap and announce a negative time.
    EXPECT_EQ(estimatecyclesec(32, INT_MAX, INT_MAX), 70866964);
    EXPECT_EQ(estimatecyclesec(32, INT_MIN, INT_MIN), -70866955);
    EXPECT_EQ(estimatecyclesec(INT_MAX, INT_MAX, 0), INT_MAX);
}

TEST(ProbeCommand, NamesTheHostByIndexAddressAndTimeout) {
    char line[probecommandsize];
    formatprobecommand(3, host("pc", {127, 0, 1, 20}, {}), 1000, line);
    EXPECT_STREQ(line, "zendrik.exe -i 3 -h 127.0.1.20 -t 1000");
    formatprobecommand(31, host("pc", {127, 255, 255, 255}, {}), -5, line);
    EXPECT_STREQ(line, "zendrik.exe -i 31 -h 127.255.255.255 -t -5");
    // Leading zeros written in the host list are gone: the probe compares
    // its reply's address with exactly this text.
    formatprobecommand(0, host("pc", {127, 0, 0, 7}, {}), 300, line);
    EXPECT_STREQ(line, "zendrik.exe -i 0 -h 127.0.0.7 -t 300");
}

TEST(MagicPacket, IsSixFFsThenTheHardwareAddressSixteenTimes) {
    const unsigned char mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    const auto packet = makemagicpacket(mac);
    ASSERT_EQ(packet.size(), 102u);
    for (int k = 0; k < 6; ++k) {
        EXPECT_EQ(packet[k], 0xFF) << k;
    }
    for (std::size_t copy = 0; copy < 16; ++copy) {
        EXPECT_EQ(0, std::memcmp(packet.data() + 6 + 6 * copy, mac, 6)) << "copy " << copy;
    }
}

// A UDP receiver on port 9 of a loopback "broadcast" address 127.0.n.255, and
// a host table whose host 1 lives on that network. ctest runs these tests side
// by side, each in a process of its own, so each takes a network of its own.
// Binding port 9 needs root.
class WakeOnLan : public testing::Test {
  protected:
    void TearDown() override {
        if (receiver_ >= 0) {
            close(receiver_);
        }
        hostnum = 0;
    }

    // False, with the reason in skipreason, when port 9 is not ours to bind.
    bool listenon(std::uint8_t network) {
        receiver_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (receiver_ < 0) {
            ADD_FAILURE() << "socket: " << std::strerror(errno);
            return false;
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(9);
        address.sin_addr.s_addr = htonl(0x7f0000ffu | network << 8);
        if (bind(receiver_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            if (errno != EACCES && errno != EPERM) {
                ADD_FAILURE() << "bind 127.0." << int{network}
                              << ".255:9: " << std::strerror(errno);
            }
            skipreason = std::string("cannot bind UDP port 9 (") + std::strerror(errno) +
                         "); run as root to test the wake-up send";
            return false;
        }
        for (HostEntry& row : dolist) {
            row = HostEntry{};
        }
        dolist[0] = host("first", {127, 0, 8, 1}, {1, 2, 3, 4, 5, 6});
        dolist[1] = host("second", {127, 0, network, 20}, {0x00, 0x11, 0x22, 0x33, 0x44, 0x55});
        hostnum = 2;
        return true;
    }

    // Every datagram that has arrived.
    std::vector<std::string> received() {
        std::vector<std::string> out;
        for (int k = 0; k < 16; ++k) {
            char bytes[2048];
            const ssize_t n = recv(receiver_, bytes, sizeof bytes, 0);
            if (n < 0) {
                break;
            }
            out.emplace_back(bytes, static_cast<std::size_t>(n));
        }
        return out;
    }

    std::string skipreason;

  private:
    int receiver_ = -1;
};

TEST_F(WakeOnLan, OneClickSendsOneMagicPacketToPortNineOfTheNetworksLastAddress) {
    if (!listenon(9)) {
        GTEST_SKIP() << skipreason;
    }
    const HostEntry before = dolist[1];
    EXPECT_EQ(ponfunc(nullptr, GINT_TO_POINTER(1)), 1);
    const auto datagrams = received();
    ASSERT_EQ(datagrams.size(), 1u);
    const unsigned char mac[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    const auto expected = makemagicpacket(mac);
    EXPECT_EQ(datagrams[0], std::string(expected.begin(), expected.end()));
    // The table keeps the host's own address for the next cycle.
    EXPECT_STREQ(before.hostname, dolist[1].hostname);
    EXPECT_EQ(before.ip, dolist[1].ip);
    EXPECT_EQ(before.mac, dolist[1].mac);
}

TEST_F(WakeOnLan, TwoClicksSendTwo) {
    if (!listenon(10)) {
        GTEST_SKIP() << skipreason;
    }
    EXPECT_EQ(ponfunc(nullptr, GINT_TO_POINTER(1)), 1);
    EXPECT_EQ(ponfunc(nullptr, GINT_TO_POINTER(1)), 1);
    EXPECT_EQ(received().size(), 2u);
}

TEST_F(WakeOnLan, AnIndexThatNamesNoHostSendsNothing) {
    if (!listenon(11)) {
        GTEST_SKIP() << skipreason;
    }
    for (int index : {-1, 2, 3, 31, 299}) {
        EXPECT_EQ(ponfunc(nullptr, GINT_TO_POINTER(index)), 0) << index;
    }
    EXPECT_TRUE(received().empty());
}

TEST(WakeOnLanSender, GoesOnWhenNoSocketCanBeOpened) {
    // With no descriptor to spare the socket is refused; the sender must
    // neither crash nor hang, and still return after its wait.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit none{0, 0};
        setrlimit(RLIMIT_NOFILE, &none);
        unsigned char address[4] = {127, 0, 9, 1};
        const unsigned char mac[6] = {1, 2, 3, 4, 5, 6};
        const int result = udpmagicsend(address, mac);
        _exit(result == 0 && address[3] == 255 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
