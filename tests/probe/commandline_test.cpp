// SPDX-License-Identifier: GPL-3.0-or-later
// The probe command line, word by word.
#include "commandline.h"

#include <gtest/gtest.h>

#include <climits>
#include <memory>
#include <string>
#include <vector>

namespace {

struct linecase {
    std::vector<std::string> words; // after the program name
    bool accepted;
    std::int32_t pipeindex;
    std::int32_t timeout;
    std::string hosttext;
};

// An argv of exactly argc entries on the heap with no terminating null, so
// that a read past the last word is caught by the address sanitizer.
struct exactargv {
    explicit exactargv(const std::vector<std::string>& words) {
        texts.push_back("zendrik.exe");
        texts.insert(texts.end(), words.begin(), words.end());
        pointers = std::make_unique<const char*[]>(texts.size());
        for (std::size_t k = 0; k < texts.size(); ++k) {
            pointers[k] = texts[k].c_str();
        }
    }
    int argc() const { return static_cast<int>(texts.size()); }
    std::vector<std::string> texts;
    std::unique_ptr<const char*[]> pointers;
};

class CommandLine : public testing::TestWithParam<linecase> {};

TEST_P(CommandLine, ReadsWordsByTheRules) {
    const linecase& c = GetParam();
    exactargv argv(c.words);
    probesettings settings;
    ASSERT_EQ(c.accepted, readcommandline(argv.argc(), argv.pointers.get(), settings));
    if (!c.accepted) {
        return;
    }
    EXPECT_EQ(c.pipeindex, settings.pipeindex);
    EXPECT_EQ(c.timeout, settings.timeout);
    // The whole field: the text, then NUL bytes only, nothing of an earlier value.
    std::array<char, 16> expected{};
    std::copy(c.hosttext.begin(), c.hosttext.end(), expected.begin());
    EXPECT_EQ(expected, settings.hosttext);
}

const std::string defaulthost = "192.168.0.1";

INSTANTIATE_TEST_SUITE_P(
    Lines, CommandLine,
    testing::Values(
        linecase{{}, true, 99, 300, defaulthost},
        linecase{{"-i", "3", "-h", "192.168.1.20", "-t", "1000"}, true, 3, 1000, "192.168.1.20"},
        linecase{{"-t", "1000", "-h", "192.168.1.20", "-i", "3"}, true, 3, 1000, "192.168.1.20"},
        linecase{{"/i", "3", "/h", "192.168.1.20", "/t", "1000"}, true, 3, 1000, "192.168.1.20"},
        linecase{{"-index", "4"}, true, 4, 300, defaulthost},
        linecase{{"-hostname", "10.1.1.1", "/timeout", "7"}, true, 99, 7, "10.1.1.1"},
        linecase{{"-x", "5", "-i", "2"}, false, 0, 0, ""}, linecase{{"5"}, false, 0, 0, ""},
        linecase{{"-i", "1", "5"}, false, 0, 0, ""}, linecase{{""}, false, 0, 0, ""},
        linecase{{"-i", "1", "-i", "2"}, true, 2, 300, defaulthost},
        linecase{{"-t", "abc"}, true, 99, 0, defaulthost},
        linecase{{"-t", " \t-42x"}, true, 99, -42, defaulthost},
        linecase{{"-i", "+7"}, true, 7, 300, defaulthost},
        linecase{{"-t", "99999999999"}, true, 99, INT_MAX, defaulthost},
        linecase{{"-t", "-99999999999"}, true, 99, INT_MIN, defaulthost},
        linecase{{"-t", "-2147483648"}, true, 99, INT_MIN, defaulthost},
        linecase{{"-h", "10.1.1.1"}, true, 99, 300, "10.1.1.1"},
        linecase{{"-h", ""}, true, 99, 300, ""}, linecase{{"-h", "-t"}, true, 99, 300, "-t"},
        linecase{{"-i", "/h"}, true, 0, 300, defaulthost},
        // Unknown option words are skipped; their next word is an option word.
        linecase{{"-I", "5"}, false, 0, 0, ""}, linecase{{"-X"}, true, 99, 300, defaulthost},
        linecase{{"-", "-i", "4"}, true, 4, 300, defaulthost},
        linecase{{"/", "/t", "9"}, true, 99, 9, defaulthost},
        // An option in last place has no value.
        linecase{{"-i"}, false, 0, 0, ""}, linecase{{"-t", "5", "-h"}, false, 0, 0, ""},
        linecase{{"/t"}, false, 0, 0, ""},
        // 15 characters fit the host field; 16 are refused, not cut.
        linecase{{"-h", "123.123.123.123"}, true, 99, 300, "123.123.123.123"},
        linecase{{"-h", "123.123.123.1234"}, false, 0, 0, ""},
        linecase{{"-h", "a-very-long-host-name.example"}, false, 0, 0, ""}));

TEST(CommandLine, NoWordsAtAllKeepTheDefaults) {
    probesettings settings;
    EXPECT_TRUE(readcommandline(0, nullptr, settings));
    EXPECT_EQ(99, settings.pipeindex);
}

TEST(CommandLine, RefusedHostLeavesTheLineUnused) {
    // A refused line must not be half applied: the caller ends at once, but
    // the host field must never hold a cut address either.
    exactargv argv({"-h", "10.10.10.10", "-h", "10.10.10.1000000"});
    probesettings settings;
    EXPECT_FALSE(readcommandline(argv.argc(), argv.pointers.get(), settings));
    EXPECT_STREQ("10.10.10.10", settings.hosttext.data());
}

} // namespace
