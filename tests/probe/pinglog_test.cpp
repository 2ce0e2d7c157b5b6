// SPDX-License-Identifier: GPL-3.0-or-later
// The echo step's ping log and the verdict read from it. This test runs from
// the directory of the scripted stand-in echo library, so zendrik's own code,
// in this process, loads the stand-in and sends nothing anywhere.
#include "pingonece_funcwin.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

// The stand-in's own record of the calls zendrik made, one line per call.
class standinscript {
  public:
    explicit standinscript(const std::string& script) {
        char name[] = "/tmp/zendrik-standin-XXXXXX";
        const int fd = mkstemp(name);
        EXPECT_GE(fd, 0);
        close(fd);
        path_ = name;
        setenv("ICMPECHO_STANDIN", (script + ";log=" + path_).c_str(), 1);
    }
    ~standinscript() {
        unsetenv("ICMPECHO_STANDIN");
        unlink(path_.c_str());
    }
    std::string calls() const {
        std::ifstream file(path_);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

  private:
    std::string path_;
};

std::string echodatahex() {
    std::string hex;
    char two[3];
    for (int k = 0; k < 32; ++k) {
        std::snprintf(two, sizeof two, "%02x", 0x20 + k);
        hex += two;
    }
    return hex;
}

std::string sendline(const std::string& destination, unsigned timeout) {
    return "send destination=" + destination + " data=" + echodatahex() +
           " ttl=64 tos=0 flags=0 optionssize=0 replysize=8232 timeout=" + std::to_string(timeout);
}

struct logcase {
    const char* name;
    const char* hosttext;
    std::string script;
    std::string destination; // as the echo library was asked
    std::string log;         // the whole ping log
    int verdict;
};

void PrintTo(const logcase& c, std::ostream* os) {
    *os << c.name;
}

class PingLog : public testing::TestWithParam<logcase> {};

TEST_P(PingLog, RecordsEveryMessageAndJudgesByThem) {
    const logcase& c = GetParam();
    standinscript script(c.script);
    pinglogbuffer pinglog{};
    EXPECT_EQ(0, icmp_funcwin(c.hosttext, 700, pinglog));
    EXPECT_EQ(c.log, pinglog.data());
    EXPECT_EQ("create\n" + sendline(c.destination, 700) + "\nclose\n", script.calls());
    EXPECT_EQ(c.verdict, pingonece_funcwin(c.hosttext, 700, 0));
}

const std::string header = "\nPinging to 127.0.0.1\n\n";
const std::string goodreply = "Got Ping-Reply from 127.0.0.1:  (32 Bytes)\n";

INSTANTIATE_TEST_SUITE_P(
    Outcomes, PingLog,
    testing::Values(
        logcase{"good reply", "127.0.0.1", "", "127.0.0.1", header + goodreply, 1},
        logcase{"timed out", "127.0.0.1", "replies=0;error=11010", "127.0.0.1",
                header + "failed(5) err(5)\nerr(301)\n", 0},
        logcase{"failure outside the status codes", "127.0.0.1", "replies=0;error=11050",
                "127.0.0.1", header + "failed(5) err(5)\nerr(300)\n", 0},
        logcase{"failure with a system error", "127.0.0.1", "replies=0;error=1", "127.0.0.1",
                header + "failed(5) err(5)\nerr(300)\n", 0},
        logcase{"host unreachable reported by the host", "127.0.0.1", "status=11003", "127.0.0.1",
                header + goodreply + "err(301)\n", 0},
        logcase{"host unreachable reported by a router", "127.0.0.1",
                "status=11003;from=127.0.0.254", "127.0.0.1",
                header + "Got Ping-Reply from 127.0.0.254:  (32 Bytes)\nerr(301)\n", 0},
        logcase{"status beyond the first 22", "127.0.0.1", "status=11050", "127.0.0.1",
                header + goodreply + "err(300)\n", 0},
        logcase{"reply from another address", "127.0.0.1", "from=127.0.0.2", "127.0.0.1",
                header + "Got Ping-Reply from 127.0.0.2:  (32 Bytes)\n", 0},
        logcase{"reply from an address that begins like ours", "127.0.0.1", "from=127.0.0.10",
                "127.0.0.1", header + "Got Ping-Reply from 127.0.0.10:  (32 Bytes)\n", 0},
        logcase{"31 bytes back", "127.0.0.1", "size=31", "127.0.0.1",
                header + "Got Ping-Reply from 127.0.0.1:  (31 Bytes)\n", 0},
        logcase{"33 bytes back", "127.0.0.1", "size=33", "127.0.0.1",
                header + "Got Ping-Reply from 127.0.0.1:  (33 Bytes)\n", 0},
        logcase{"320 bytes back", "127.0.0.1", "size=320", "127.0.0.1",
                header + "Got Ping-Reply from 127.0.0.1:  (320 Bytes)\n", 0},
        logcase{"no bytes back", "127.0.0.1", "size=0", "127.0.0.1",
                header + "Got Ping-Reply from 127.0.0.1:  (0 Bytes)\n", 0},
        logcase{"two replies, the first one counts", "127.0.0.1", "replies=2", "127.0.0.1",
                header + goodreply, 1},
        logcase{"close fails after a good reply", "127.0.0.1", "close=fail:6", "127.0.0.1",
                header + goodreply + "err(200)\nerr(300)\n", 0},
        logcase{"close fails with a status code", "127.0.0.1", "close=fail:11010", "127.0.0.1",
                header + goodreply + "err(200)\nerr(301)\n", 0},
        logcase{"leading zeros in the host text", "127.000.000.001", "", "127.0.0.1",
                header + goodreply, 0},
        logcase{"short form of the address", "127.1", "", "127.0.0.1", header + goodreply, 0},
        logcase{"limited broadcast", "255.255.255.255", "", "255.255.255.255",
                "\nPinging to 255.255.255.255\n\nGot Ping-Reply from 255.255.255.255:  (32 "
                "Bytes)\n",
                1},
        logcase{"limited broadcast answered by a host", "255.255.255.255", "from=127.0.0.7",
                "255.255.255.255",
                "\nPinging to 255.255.255.255\n\nGot Ping-Reply from 127.0.0.7:  (32 Bytes)\n", 0},
        // inet_addr reads 0.0.0.0 as 0, which sends the text to the name
        // lookup (numeric, so nothing leaves the machine); the header then
        // shows a name record.
        logcase{"all-zero address goes through the name lookup", "0.0.0.0", "", "0.0.0.0",
                "\nPinging to 0.0.0.0:0.0.0.0\n\nGot Ping-Reply from 0.0.0.0:  (32 Bytes)\n", 1}));

TEST(PingLog, NegativeTimeOutDoesNotWait) {
    struct timeoutcase {
        std::int32_t given;
        unsigned passed;
    };
    for (const timeoutcase c :
         {timeoutcase{-1, 0}, timeoutcase{-2147483647 - 1, 0}, timeoutcase{0, 0}, timeoutcase{1, 1},
          timeoutcase{2147483647, 2147483647u}}) {
        standinscript script("replies=0");
        pinglogbuffer pinglog{};
        icmp_funcwin("127.0.0.1", c.given, pinglog);
        EXPECT_NE(std::string::npos, script.calls().find(sendline("127.0.0.1", c.passed) + "\n"))
            << "time-out " << c.given << ": " << script.calls();
    }
}

TEST(PIcmpErr, ClassesTheFirst22StatusCodesApart) {
    struct classcase {
        std::uint32_t code;
        const char* appended;
    };
    for (const classcase c :
         {classcase{0, "err(300)\n"}, classcase{1, "err(300)\n"}, classcase{11000, "err(300)\n"},
          classcase{11001, "err(301)\n"}, classcase{11003, "err(301)\n"},
          classcase{11010, "err(301)\n"}, classcase{11022, "err(301)\n"},
          classcase{11023, "err(300)\n"}, classcase{11050, "err(300)\n"},
          classcase{0xFFFFFFFFu, "err(300)\n"}}) {
        pinglogbuffer pinglog{};
        pinglogappend(pinglog, "before\n");
        PIcmpErr(c.code, pinglog);
        EXPECT_EQ(std::string("before\n") + c.appended, pinglog.data()) << c.code;
    }
}

TEST(PingLogAppend, CutsAt4095Characters) {
    pinglogbuffer pinglog{};
    pinglogappend(pinglog, "%s", std::string(4090, 'x').c_str());
    pinglogappend(pinglog, "failed(5) err(5)\n");
    EXPECT_EQ(std::string(4090, 'x') + "faile", pinglog.data());
    EXPECT_EQ('\0', pinglog[4095]);

    // A full log stays as it is.
    PIcmpErr(11010, pinglog);
    EXPECT_EQ(4095u, std::strlen(pinglog.data()));
    EXPECT_EQ(std::string(4090, 'x') + "faile", pinglog.data());
}

TEST(PingLogAppend, OneOverlongMessageIsCutToo) {
    pinglogbuffer pinglog;
    pinglog.fill('#');
    pinglog[0] = '\0';
    pinglogappend(pinglog, "%s", std::string(6000, 'y').c_str());
    EXPECT_EQ(std::string(4095, 'y'), pinglog.data());
}

// The verdict on logs the echo step cannot produce with a reply from the
// stand-in, but could with a name record or an odd reply.
TEST(PingLogVerdict, NeedsTheExactReplyLineAndNoFailureWord) {
    struct verdictcase {
        const char* log;
        const char* hosttext;
        bool alive;
    };
    const std::string good = "Got Ping-Reply from 10.0.0.1:  (32 Bytes)\n";
    for (const verdictcase c : {
             verdictcase{"", "10.0.0.1", false},
             verdictcase{"\nPinging to 10.0.0.1\n\nGot Ping-Reply from 10.0.0.1:  (32 Bytes)\n",
                         "10.0.0.1", true},
             verdictcase{"Got Ping-Reply from 10.0.0.1:  (32 Bytes)", "10.0.0.1", true},
             verdictcase{"Got Ping-Reply from 10.0.0.1:  (32 Bytes)\nerr(301)\n", "10.0.0.1",
                         false},
             verdictcase{"\nPinging to ferry:10.0.0.1\n\nGot Ping-Reply from 10.0.0.1:  (32 "
                         "Bytes)\n",
                         "10.0.0.1", false},
             verdictcase{"invalid\nGot Ping-Reply from 10.0.0.1:  (32 Bytes)\n", "10.0.0.1", false},
             verdictcase{"failed\nGot Ping-Reply from 10.0.0.1:  (32 Bytes)\n", "10.0.0.1", false},
             verdictcase{"Got Ping-Reply from 10.0.0.1:  (320 Bytes)\n", "10.0.0.1", false},
             verdictcase{"Got Ping-Reply from 10.0.0.1:  (32 Bytes)\n", "10.0.0.", false},
             verdictcase{"Got Ping-Reply from 110.0.0.1:  (32 Bytes)\n", "10.0.0.1", false},
             verdictcase{"Got Ping-Reply from 10.0.0.1: (32 Bytes)\n", "10.0.0.1", false},
         }) {
        pinglogbuffer pinglog{};
        pinglogappend(pinglog, "%s", c.log);
        EXPECT_EQ(c.alive, pinglogsaysalive(pinglog, c.hosttext)) << c.log;
    }
}

TEST(PingOnce, PrintsOnlyWhenVerbose) {
    struct verbosecase {
        const char* script;
        std::int32_t verbose;
        const char* printed;
    };
    for (const verbosecase c : {
             verbosecase{"", 0, ""},
             verbosecase{"replies=0", 0, ""},
             verbosecase{"", 1,
                         "Ping once with timeout: Done\n --> Got a valid reply. He's alive.\n"},
             verbosecase{"replies=0", 1, "Ping once with timeout: Done\n"},
         }) {
        standinscript script(c.script);
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        pingonece_funcwin("127.0.0.1", 100, c.verbose);
        EXPECT_EQ(c.printed, testing::internal::GetCapturedStdout()) << c.script;
        EXPECT_EQ("", testing::internal::GetCapturedStderr());
    }
}

} // namespace
