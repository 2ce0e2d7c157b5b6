// SPDX-License-Identifier: GPL-3.0-or-later
// The command line, read in-process.
#include "settings.h"

#include <climits>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Values {
    std::int32_t t, c, o, r;
    std::int32_t n = 0; // notifications of changes
};
constexpr Values defaults{1000, 20, 20, 50};

struct CommandLine {
    std::vector<std::string> words; // after the program name
    bool wellformed;
    Values values; // when well-formed
};

// Parses the words from an argument array of exactly their size, so that a
// read past the end of the list is a fault the address sanitizer reports.
int parse(const std::vector<std::string>& words) {
    std::vector<std::string> all{"quorvel"};
    all.insert(all.end(), words.begin(), words.end());
    const std::unique_ptr<char*[]> args(new char*[all.size()]);
    for (std::size_t i = 0; i < all.size(); ++i) {
        args[i] = all[i].data();
    }
    return parsecommandline({args.get(), all.size()});
}

void PrintTo(const CommandLine& c, std::ostream* os) {
    *os << "quorvel";
    for (const std::string& w : c.words) {
        *os << " '" << w << "'";
    }
}

class Options : public testing::TestWithParam<CommandLine> {
  protected:
    void SetUp() override { setdefaults(); }
};

TEST_P(Options, SetTheirSettingsOrAreRefused) {
    const CommandLine& c = GetParam();
    const int result = parse(c.words);
    if (!c.wellformed) {
        EXPECT_EQ(result, -1);
        return;
    }
    ASSERT_EQ(result, 0);
    EXPECT_EQ(timeoutmsec, c.values.t);
    EXPECT_EQ(cpcintervalmsec, c.values.c);
    EXPECT_EQ(onerecvmsec, c.values.o);
    EXPECT_EQ(recvloops, c.values.r);
    EXPECT_EQ(notifychanges, c.values.n);
}

using W = std::vector<std::string>;

INSTANTIATE_TEST_SUITE_P(
    Words, Options,
    testing::Values(
        CommandLine{{}, true, defaults}, //
        CommandLine{W{"-t", "500", "-c", "100"}, true, {500, 100, 20, 50}},
        CommandLine{W{"-o", "30", "-r", "7"}, true, {1000, 20, 30, 7}},
        // Only the second character counts, and '/' stands for '-'.
        CommandLine{W{"/t", "500"}, true, {500, 20, 20, 50}},
        CommandLine{W{"-tx", "500"}, true, {500, 20, 20, 50}},
        CommandLine{W{"-timeout", "500", "/cpc", "5"}, true, {500, 5, 20, 50}},
        // The last of repeated options wins.
        CommandLine{W{"-t", "500", "-t", "700"}, true, {700, 20, 20, 50}},
        // Values are read as atoi reads them, with no range test.
        CommandLine{W{"-t", "abc"}, true, {0, 20, 20, 50}},
        CommandLine{W{"-t", "12abc"}, true, {12, 20, 20, 50}},
        CommandLine{W{"-t", " 42"}, true, {42, 20, 20, 50}},
        CommandLine{W{"-c", "-5"}, true, {1000, -5, 20, 50}},
        // A value word is taken whatever it looks like.
        CommandLine{W{"-t", "-c"}, true, {0, 20, 20, 50}},
        // Values beyond 32 bits stay at the end of the range.
        CommandLine{W{"-t", "99999999999", "-c", "-99999999999"}, true, {INT_MAX, INT_MIN, 20, 50}},
        // An unknown option is ignored and takes no value.
        CommandLine{W{"-x"}, true, defaults}, CommandLine{W{"-"}, true, defaults},
        CommandLine{W{"-x", "-t", "9"}, true, {9, 20, 20, 50}},
        // Malformed: a word that is no option, or an option without its value.
        // "-n" is a word alone: it turns notifications on and takes no value.
        CommandLine{W{"-n"}, true, {1000, 20, 20, 50, 1}},
        CommandLine{W{"-t", "500", "/notify", "-c", "5"}, true, {500, 5, 20, 50, 1}},
        CommandLine{W{"-n", "5"}, false, {}},
        CommandLine{W{"-x", "5"}, false, {}}, CommandLine{W{"hello"}, false, {}},
        CommandLine{W{""}, false, {}}, CommandLine{W{"+t", "5"}, false, {}},
        CommandLine{W{"-t"}, false, {}}, CommandLine{W{"-t", "500", "/c"}, false, {}},
        CommandLine{W{"-o", "1", "-r"}, false, {}}));

TEST(Settings, DefaultsAndDerivedValue) {
    setdefaults();
    derivesettings();
    EXPECT_STREQ(hostlistfile, "./hostlist");
    EXPECT_EQ(onerecvusec, 20000);
    onerecvmsec = 7;
    derivesettings();
    EXPECT_EQ(onerecvusec, 7000);
}

TEST(Settings, DerivedValueDoesNotOverflow) {
    setdefaults();
    ASSERT_EQ(parse({"-o", "3000000"}), 0);
    derivesettings();
    EXPECT_EQ(onerecvusec, INT_MAX);
    ASSERT_EQ(parse({"-o", "-3000000"}), 0);
    derivesettings();
    EXPECT_EQ(onerecvusec, INT_MIN);
}

} // namespace
