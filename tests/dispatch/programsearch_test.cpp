// SPDX-License-Identifier: GPL-3.0-or-later
// Turning a probe command line into a program file and its arguments.
#include "programsearch.h"
#include "testsupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using words = std::vector<std::string>;

TEST(SplitCommandLine, WordsAndQuotes) {
    const struct {
        const char* line;
        words expected;
    } cases[] = {
        {"zendrik.exe -i 3 -h 10.0.0.1 -t 1000",
         {"zendrik.exe", "-i", "3", "-h", "10.0.0.1", "-t", "1000"}},
        {"  a \t b\n", {"a", "b"}},
        {"", {}},
        {"   ", {}},
        {"\"C:/Program Files/zendrik.exe\" -i 0", {"C:/Program Files/zendrik.exe", "-i", "0"}},
        {"a\"b c\"d e", {"ab cd", "e"}},
        {"x \"\" y", {"x", "", "y"}},
        {"say alive\\0more", {"say", "alive\\0more"}},
        {"\"unclosed quote", {"unclosed quote"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, splitcommandline(c.line)) << c.line;
    }
}

// The monitor's own directory, then the absolute entries of the search path:
// never the current directory, nor an entry that means it or lies below it.
TEST(ProgramSearchDirs, OwnDirectoryThenAbsoluteSearchPathEntries) {
    const struct {
        const char* exedir;
        const char* searchpath;
        words expected;
    } cases[] = {
        {"/opt/q/", "/usr/bin:/bin", {"/opt/q/", "/usr/bin", "/bin"}},
        {"/opt/q/", ":.:bin:./bin:../bin:~/bin:/bin:", {"/opt/q/", "/bin"}},
        {"/opt/q/", "", {"/opt/q/"}},
        {"", "/usr/local/bin:sbin:/usr/bin", {"/usr/local/bin", "/usr/bin"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.expected, programsearchdirs(c.exedir, c.searchpath))
            << "exedir \"" << c.exedir << "\", PATH \"" << c.searchpath << "\"";
    }
    const words fallback = programsearchdirs("/opt/q/", nullptr);
    EXPECT_NE(fallback.end(), std::find(fallback.begin(), fallback.end(), "/usr/bin"));
    for (const std::string& dir : fallback) {
        EXPECT_EQ('/', dir.front()) << dir;
    }
}

// Three directories searched in order, each holding a different mix of files.
class FindProgram : public ::testing::Test {
  protected:
    std::string dir(int k) const { return dirs_[k].path(); }
    std::string put(int k, const char* name, unsigned mode = 0755) const {
        return dirs_[k].file(name, "#!/bin/sh\n", mode);
    }
    std::string find(const char* word) const {
        const words order = {dir(0), dir(1), dir(2)};
        return findprogram(word, order);
    }

  private:
    tempdir dirs_[3];
};

TEST_F(FindProgram, EarlierDirectoryWins) {
    put(1, "zendrik.exe");
    const std::string first = put(0, "zendrik.exe");
    EXPECT_EQ(first, find("zendrik.exe"));
}

TEST_F(FindProgram, ExeEndingDroppedWhereNoFileOfTheFullName) {
    const std::string bare = put(1, "zendrik");
    EXPECT_EQ(bare, find("zendrik.exe"));
    EXPECT_EQ(bare, find("zendrik"));
    EXPECT_EQ("", find("zendrik.ex"));
}

TEST_F(FindProgram, ExeEndingCheckedDirectoryByDirectory) {
    put(2, "zendrik.exe");
    const std::string bare = put(1, "zendrik");
    EXPECT_EQ(bare, find("zendrik.exe"));
    const std::string full = put(1, "zendrik.exe");
    EXPECT_EQ(full, find("zendrik.exe"));
}

TEST_F(FindProgram, OnlyExecutableFilesCount) {
    put(0, "zendrik.exe", 0644);
    ASSERT_EQ(0, mkdir((dir(1) + "/zendrik").c_str(), 0755));
    const std::string runnable = put(2, "zendrik");
    EXPECT_EQ(runnable, find("zendrik.exe"));
    EXPECT_EQ("", find(".exe"));
    EXPECT_EQ("", find(""));
}

TEST_F(FindProgram, WordWithSlashIsAPathNotSearched) {
    put(0, "zendrik");
    const std::string there = put(1, "zendrik");
    EXPECT_EQ(there, find((dir(1) + "/zendrik.exe").c_str()));
    EXPECT_EQ(there, find((dir(1) + "/zendrik").c_str()));
    EXPECT_EQ("", find("./no/such/zendrik"));
}

} // namespace
