// SPDX-License-Identifier: GPL-3.0-or-later
// After limitdllsearch(), a library named without a path is loaded from the
// program's own folder or the system's, and no longer from the working
// directory or a PATH entry, where another user may have put a file of that
// name. Both programs call this one limitdllsearch, the protocol library's.
// besideexe.dll, a copy of the stand-in ICMP.DLL, lies
// beside this test; its copies under other names are planted in a working
// directory and in a PATH entry of the test's own.
#include "selfpath.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

namespace fs = std::filesystem;

// Whether a library of that name can be loaded now; it is unloaded again.
bool loads(const char* name) {
    const HMODULE library = LoadLibraryA(name);
    if (library == nullptr) {
        return false;
    }
    FreeLibrary(library);
    return true;
}

TEST(DllSearch, OwnFolderAndSystemOnlyOnceLimited) {
    const fs::path beside = fs::path(programdirectory().data()) / "besideexe.dll";
    ASSERT_TRUE(fs::exists(beside)) << beside;
    char temp[MAX_PATH + 1] = {};
    ASSERT_NE(0u, GetTempPathA(sizeof temp, temp));
    const fs::path root = fs::path(temp) / ("quorvel-dllsearch-" + std::to_string(GetCurrentProcessId()));
    const fs::path work = root / "work";
    const fs::path onpath = root / "onpath";
    fs::create_directories(work);
    fs::create_directories(onpath);
    // Each name is loaded once at most: a library that is loaded already is
    // found by its name alone, wherever it came from.
    for (const char* name : {"incwd1.dll", "incwd2.dll"}) {
        fs::copy_file(beside, work / name);
    }
    for (const char* name : {"onpath1.dll", "onpath2.dll"}) {
        fs::copy_file(beside, onpath / name);
    }
    const fs::path cwd = fs::current_path();
    const std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    fs::current_path(work);
    _putenv_s("PATH", (onpath.string() + ";" + path).c_str());

    // Without the limit, the system's search finds both plants: they are
    // real libraries in places it searches.
    EXPECT_TRUE(loads("incwd1.dll"));
    EXPECT_TRUE(loads("onpath1.dll"));

    limitdllsearch();
    const struct {
        const char* name;
        bool found;
    } cases[] = {
        {"incwd2.dll", false},   // the working directory
        {"onpath2.dll", false},  // a PATH entry
        {"besideexe.dll", true}, // the program's own folder
        {"icmp.dll", true},      // the system's: zendrik's echo library
        {"ws2_32.dll", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.found, loads(c.name)) << c.name;
    }

    fs::current_path(cwd);
    _putenv_s("PATH", path.c_str());
    std::error_code ignored;
    fs::remove_all(root, ignored);
}

} // namespace
