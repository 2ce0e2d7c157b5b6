// SPDX-License-Identifier: GPL-3.0-or-later
// The host list reader: single lines, whole files and the file itself.
#include "hostlist.h"
#include "settings.h"
#include "workdir.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

using Octets4 = std::array<std::uint8_t, 4>;
using Octets6 = std::array<std::uint8_t, 6>;

struct AcceptedLine {
    std::string line;
    std::string hostname;
    Octets4 ip;
    Octets6 mac;
};

// Test names show the start of the line, with its control characters escaped.
std::string shown(const std::string& line) {
    std::string out;
    for (const char c : line.substr(0, 40)) {
        out += c == '\n'   ? "\\n"
               : c == '\r' ? "\\r"
               : c == '\t' ? "\\t"
               : c == '\0' ? "\\0"
                           : std::string(1, c);
    }
    return line.size() > 40 ? out + "..." : out;
}

void PrintTo(const AcceptedLine& c, std::ostream* os) {
    *os << '"' << shown(c.line) << '"';
}

class Accepted : public testing::TestWithParam<AcceptedLine> {};

TEST_P(Accepted, YieldsTheRowOfItsLine) {
    const AcceptedLine& c = GetParam();
    HostEntry row{};
    ASSERT_TRUE(parsehostline(c.line, row)) << c.line;
    EXPECT_STREQ(row.hostname, c.hostname.c_str());
    EXPECT_EQ(row.ip, c.ip);
    EXPECT_EQ(row.mac, c.mac);
}

const Octets6 mac001122 = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};

INSTANTIATE_TEST_SUITE_P(
    Lines, Accepted,
    testing::Values(
        AcceptedLine{"pc1 127.0.1.10 00:11:22:33:44:55\n", "pc1", {127, 0, 1, 10}, mac001122},
        AcceptedLine{"printer 127.0.0.2 AA-BB-CC-DD-EE-FF\n",
                     "printe.",
                     {127, 0, 0, 2},
                     {0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff}},
        AcceptedLine{"fileserver\t127.0.0.3\taa:bb:cc:dd:ee:0f # attic\n",
                     "filese.",
                     {127, 0, 0, 3},
                     {0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0x0f}},
        AcceptedLine{"pc13 127.0.1.5 ab:cd:ef:01:23:45\n",
                     "pc13",
                     {127, 0, 1, 5},
                     {0xab, 0xcd, 0xef, 0x01, 0x23, 0x45}},
        // Leading zeros are still decimal.
        AcceptedLine{"pc14 127.000.010.007 0a:0B:0c:0D:0e:0F\n",
                     "pc14",
                     {127, 0, 10, 7},
                     {0x0a, 0x0b, 0x0c, 0x0d, 0x0e, 0x0f}},
        // Each number keeps its low eight bits.
        AcceptedLine{"pc5 127.0.1.300 00:11:22:33:44:55\n", "pc5", {127, 0, 1, 44}, mac001122},
        AcceptedLine{"pc5 383.0.1.256 00:11:22:33:44:55\n", "pc5", {127, 0, 1, 0}, mac001122},
        // Any single character separates the numbers of the address.
        AcceptedLine{"pc10 127,0,1,100 00:11:22:33:44:55\n", "pc10", {127, 0, 1, 100}, mac001122},
        AcceptedLine{"pc9 127.0.1.90x 00:11:22:33:44:55\n", "pc9", {127, 0, 1, 90}, mac001122},
        // A seventh number and a trailing separator are ignored.
        AcceptedLine{"pc8 127.0.1.80 00-11-22-33-44-55-66\n", "pc8", {127, 0, 1, 80}, mac001122},
        AcceptedLine{"pc16 127.0.1.160 00:11:22:33:44:55:\n", "pc16", {127, 0, 1, 160}, mac001122},
        AcceptedLine{"pc 127.0.0.1 00:11:22:33:44:55 \n", "pc", {127, 0, 0, 1}, mac001122},
        AcceptedLine{"pc 127.0.0.1 00:11:22:33:44:55:zz\n", "pc", {127, 0, 0, 1}, mac001122},
        // Blanks and tabs in any number around the tokens.
        AcceptedLine{
            "  \t pc \t\t 127.0.0.1 \t  00:11:22:33:44:55\n", "pc", {127, 0, 0, 1}, mac001122},
        // The last line of a file may lack its newline; a CRLF line end is ignored.
        AcceptedLine{"pc 127.0.0.1 00:11:22:33:44:55", "pc", {127, 0, 0, 1}, mac001122},
        AcceptedLine{"pc 127.0.0.1 00:11:22:33:44:55\r\n", "pc", {127, 0, 0, 1}, mac001122},
        // The label is stored verbatim and cut at seven characters.
        AcceptedLine{"#pc12 127.0.1.120 00:11:22:33:44:55\n", "#pc12", {127, 0, 1, 120}, mac001122},
        AcceptedLine{"pc%d 127.0.0.1 00:11:22:33:44:55\n", "pc%d", {127, 0, 0, 1}, mac001122},
        AcceptedLine{"R&D<x> 127.0.0.1 00:11:22:33:44:55\n", "R&D<x>", {127, 0, 0, 1}, mac001122},
        AcceptedLine{"sixsix 127.0.0.1 00:11:22:33:44:55\n", "sixsix", {127, 0, 0, 1}, mac001122},
        AcceptedLine{"seven77 127.0.0.1 00:11:22:33:44:55\n", "seven7.", {127, 0, 0, 1}, mac001122},
        // Nine digits still fit the number text. Hexadecimal values stop at
        // 7FFFFFFF, whose low byte is FF.
        AcceptedLine{"pc 000000127.0.0.1 7fffff12:11:22:33:44:123456789\n",
                     "pc",
                     {127, 0, 0, 1},
                     {0x12, 0x11, 0x22, 0x33, 0x44, 0xff}},
        AcceptedLine{"pc 127.0.0.1 80000000:0000000ab:22:33:44:55\n",
                     "pc",
                     {127, 0, 0, 1},
                     {0xff, 0xab, 0x22, 0x33, 0x44, 0x55}}));

struct RejectedLine {
    RejectedLine(std::string text) : line(std::move(text)) {}
    RejectedLine(const char* text) : line(text) {}
    std::string line;
};

void PrintTo(const RejectedLine& c, std::ostream* os) {
    *os << '"' << shown(c.line) << '"';
}

class Rejected : public testing::TestWithParam<RejectedLine> {};

TEST_P(Rejected, GivesNoRow) {
    HostEntry row{};
    EXPECT_FALSE(parsehostline(GetParam().line, row)) << shown(GetParam().line);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, Rejected,
    testing::ValuesIn(std::vector<RejectedLine>{
        "pc2 127.0.1 00:11:22:33:44:55\n",       // three numbers
        "pc11 127..0.1 00:11:22:33:44:55\n",     // two separators in a row
        "pc11 x127.0.0.1 00:11:22:33:44:55\n",   // address not beginning with a digit
        "pc3 127.0.1.30 00:11:22:33:44\n",       // five numbers
        "pc4 127.0.1.40 0:11:22:33:44:55\n",     // a number of one digit
        "pc4 127.0.1.40 00:11:22:33:44:5g\n",    // g is no hex digit
        "pc7 127.0.1.70 0011.2233.4455\n",       // three numbers of four digits
        "pc17 127.0.1.170 :00:11:22:33:44:55\n", // begins with a separator
        "pc6 127.0.1.60\n",                      // no third token
        "pc6 127.0.1.60 \n", "label\n", "\n", "", " \t \n", "# office hosts\n",
        // Ten characters do not fit the number text: refused, not cut.
        "pc 0000000127.0.0.1 00:11:22:33:44:55\n", "pc 127.0.0.1 00:11:22:33:44:000000000a\n",
        "pc 127.0.0.1 000000000a:11:22:33:44:55\n",
        "pc 127.0.0." + std::string(300, '1') + " 00:11:22:33:44:55\n",
        "pc 127.0.0.1 " + std::string(300, 'f') + ":11:22:33:44:55\n",
        // A NUL byte ends the line, as it ends any C string.
        std::string("pc 127.0.0.1\0 00:11:22:33:44:55\n", 32)}));

class HostTable : public testing::Test {
  protected:
    void SetUp() override {
        for (HostEntry& row : dolist) {
            row = HostEntry{};
        }
        hostnum = 0;
    }

    static int readtext(const std::string& text) {
        std::istringstream in(text);
        return readlistfrom(in);
    }

    static std::string hostline(int i) {
        return "h" + std::to_string(i) + " 127.0.0." + std::to_string(i + 1) +
               " 02:00:00:00:00:" + std::to_string(10 + i) + "\n";
    }
};

TEST_F(HostTable, MixedLinesGiveConsecutiveRowsInFileOrder) {
    const std::string file = "# office hosts\n"
                             "alpha 127.0.0.1 00:11:22:33:44:01\n"
                             "\n"
                             "broken 127.0.0 00:11:22:33:44:02\n"
                             "beta 127.0.0.2 00:11:22:33:44:03\n"
                             "label-only\n"
                             "gamma 127.0.0.3 00:11:22:33:44\n"
                             "delta 127.0.0.4 00:11:22:33:44:04\n";
    EXPECT_EQ(readtext(file), 1);
    ASSERT_EQ(hostnum, 3);
    const std::array<const char*, 3> names{"alpha", "beta", "delta"};
    const std::array<std::uint8_t, 3> lastoctet{1, 2, 4};
    const std::array<std::uint8_t, 3> lastmac{0x01, 0x03, 0x04};
    for (int i = 0; i < 3; ++i) {
        EXPECT_STREQ(dolist[i].hostname, names[i]);
        EXPECT_EQ(dolist[i].ip[3], lastoctet[i]);
        EXPECT_EQ(dolist[i].mac[5], lastmac[i]);
    }
}

TEST_F(HostTable, RejectedLineLeavesNothingOfItselfInTheNextRow) {
    // The rejected line writes a long label and an address into row 0 before
    // its hardware address fails; the accepted line must replace all of it.
    readtext("longerlabel 127.9.9.9 00:11\n"
             "pc 127.0.0.1 aa:bb:cc:dd:ee:ff\n");
    ASSERT_EQ(hostnum, 1);
    EXPECT_STREQ(dolist[0].hostname, "pc");
    EXPECT_EQ(dolist[0].ip, (Octets4{127, 0, 0, 1}));
    EXPECT_EQ(dolist[0].mac, (Octets6{0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff}));
}

TEST_F(HostTable, FortyHostsGiveThirtyTwoRowsAndTheRestIsNotRead) {
    std::string file;
    std::size_t after32 = 0;
    for (int i = 0; i < 40; ++i) {
        file += hostline(i);
        if (i == 31) {
            after32 = file.size();
        }
    }
    std::istringstream in(file);
    EXPECT_EQ(readlistfrom(in), 1);
    ASSERT_EQ(hostnum, 32);
    EXPECT_STREQ(dolist[0].hostname, "h0");
    EXPECT_STREQ(dolist[31].hostname, "h31");
    EXPECT_EQ(dolist[31].ip[3], 32);
    EXPECT_EQ(dolist[32].hostname[0], '\0') << "a row past the 32nd was written";
    EXPECT_EQ(static_cast<std::size_t>(in.tellg()), after32);
}

TEST_F(HostTable, FileWithoutAcceptableLineGivesNoRow) {
    EXPECT_EQ(readtext("# hosts\n\npc6 127.0.1.60\nlabel\n"), 1);
    EXPECT_EQ(hostnum, 0);
    EXPECT_EQ(readtext(""), 1);
    EXPECT_EQ(hostnum, 0);
}

TEST_F(HostTable, OverlongLineIsReadInPiecesOf999Characters) {
    // 999 characters of one line are one piece; what follows on the same
    // line is read as a line of its own.
    const std::string filler(999, 'x');
    readtext(filler + "pc 127.0.0.5 00:11:22:33:44:55\n");
    ASSERT_EQ(hostnum, 1);
    EXPECT_STREQ(dolist[0].hostname, "pc");
    EXPECT_EQ(dolist[0].ip[3], 5);

    // A host line padded to exactly 999 characters is still one line, and
    // its newline then stands alone.
    std::string padded = "pa 127.0.0.6 00:11:22:33:44:55";
    padded.resize(999, ' ');
    readtext(padded + "\npb 127.0.0.7 00:11:22:33:44:55\n");
    ASSERT_EQ(hostnum, 2);
    EXPECT_STREQ(dolist[0].hostname, "pa");
    EXPECT_STREQ(dolist[1].hostname, "pb");

    // A very long line of junk costs no row of its own beyond its pieces.
    readtext(std::string(200'000, '7') + "\npc 127.0.0.8 00:11:22:33:44:55\n");
    ASSERT_EQ(hostnum, 1);
    EXPECT_EQ(dolist[0].ip[3], 8);

    // A host line 200 pieces into a line of 200,000 characters is a row of
    // its own, between the rows of the lines around it.
    const std::string hidden = hostline(9);
    std::string line = filler;
    for (int piece = 1; piece < 200; ++piece) {
        line += filler;
    }
    line += " " + hidden.substr(0, hidden.size() - 1) + " # ";
    line.resize(200'000, 'y');
    readtext(hostline(0) + line + "\n" + hostline(1));
    ASSERT_EQ(hostnum, 3);
    EXPECT_STREQ(dolist[0].hostname, "h0");
    EXPECT_STREQ(dolist[1].hostname, "h9");
    EXPECT_STREQ(dolist[2].hostname, "h1");
}

TEST_F(HostTable, CrlfFileReadsLikeLfFile) {
    std::string crlf;
    std::string lf;
    for (int i = 0; i < 5; ++i) {
        std::string line = hostline(i);
        lf += line;
        line.insert(line.size() - 1, "\r");
        crlf += line;
    }
    readtext(crlf);
    ASSERT_EQ(hostnum, 5);
    std::array<HostEntry, 5> fromcrlf;
    std::copy(dolist, dolist + 5, fromcrlf.begin());
    readtext(lf);
    ASSERT_EQ(hostnum, 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_STREQ(fromcrlf[i].hostname, dolist[i].hostname);
        EXPECT_EQ(fromcrlf[i].ip, dolist[i].ip);
        EXPECT_EQ(fromcrlf[i].mac, dolist[i].mac);
    }
}

TEST_F(HostTable, ReaderNeverWritesStatus) {
    dolist[0].status = 1;
    readtext(hostline(0));
    ASSERT_EQ(hostnum, 1);
    EXPECT_EQ(dolist[0].status, 1);
}

// readlist() itself, on real files in a directory of the test's own.
class HostListFile : public HostTable {
    workdir dir_;
};

TEST_F(HostListFile, ReadsTheHostListOfTheWorkingDirectory) {
    std::ofstream("hostlist") << hostline(0) << "junk\n" << hostline(1);
    EXPECT_EQ(readlist(), 1);
    ASSERT_EQ(hostnum, 2);
    EXPECT_STREQ(dolist[1].hostname, "h1");
}

TEST_F(HostListFile, MissingFileLeavesTheTableAsItWas) {
    EXPECT_EQ(readlist(), -1);
    EXPECT_EQ(hostnum, 0);
    EXPECT_EQ(dolist[0].hostname[0], '\0');
}

// The host lists that ship with quorvel, read as quorvel reads them.
class ShippedHostList : public testing::Test {
  protected:
    void SetUp() override {
        for (HostEntry& row : dolist) {
            row = HostEntry{};
        }
        hostnum = 0;
    }
    static void read(const char* relative) {
        std::ifstream in(std::string(QUORVEL_SOURCE_DIR) + "/" + relative);
        ASSERT_TRUE(in) << relative;
        readlistfrom(in);
    }
};

// Trying quorvel out with the sample must never send a packet off this
// machine: every host in it is a loopback address.
TEST_F(ShippedHostList, SampleHoldsLoopbackHostsOnly) {
    read("examples/hostlist");
    ASSERT_EQ(hostnum, 5);
    const std::array<const char*, 5> labels{"router", "nas", "printe.", "desk", "laptop"};
    for (int i = 0; i < hostnum; ++i) {
        EXPECT_STREQ(dolist[i].hostname, labels[static_cast<std::size_t>(i)]);
        EXPECT_EQ(dolist[i].ip[0], 127) << dolist[i].hostname;
    }
}

// The launcher gives a new user this file to fill in; until then it must
// give no host at all, its example line included.
TEST_F(ShippedHostList, TemplateGivesNoHost) {
    read("packaging/hostlist.template");
    EXPECT_EQ(hostnum, 0);
}

} // namespace
