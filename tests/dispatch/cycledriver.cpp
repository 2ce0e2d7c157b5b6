// SPDX-License-Identifier: GPL-3.0-or-later
// Runs probe cycles through the real dispatcher and the real zendrik, as the
// monitor's cycle does but without a window: for the real-network test, the
// soak test and the benchmark.
//
//   cycledriver [-c PAUSE] [-t TIMEOUT] [-n CYCLES] [-q] [-V] ADDRESS...
//
// Prints each cycle's trace (unless -q) and a line "results: r0 r1 ..." per
// cycle on standard output, and with -q one line of figures per cycle on
// standard error: "cycle N ms=… fds=… children=… rss_kb=… alive=…", the last
// figure being the number of hosts reported alive. With -V the results line
// goes to standard error too, before the figures.
#include "multiprcfuncwin.h"
#include "protocol.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

struct options {
    int pause = 20;
    int timeout = 1000;
    int cycles = 1;
    bool quiet = false;
    bool verdicts = false;
    std::vector<std::string> addresses;
};

int usage() {
    std::fprintf(stderr,
                 "usage: cycledriver [-c PAUSE] [-t TIMEOUT] [-n CYCLES] [-q] [-V] ADDRESS...\n");
    return 2;
}

bool parse(int argc, char** argv, options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        const bool hasvalue = i + 1 < argc;
        if (word == "-c" && hasvalue) {
            o.pause = std::atoi(argv[++i]);
        } else if (word == "-t" && hasvalue) {
            o.timeout = std::atoi(argv[++i]);
        } else if (word == "-n" && hasvalue) {
            o.cycles = std::atoi(argv[++i]);
        } else if (word == "-q") {
            o.quiet = true;
        } else if (word == "-V") {
            o.verdicts = true;
        } else if (!word.empty() && word[0] != '-') {
            o.addresses.push_back(word);
        } else {
            return false;
        }
    }
    return !o.addresses.empty() && o.addresses.size() <= multiprcmaxhosts;
}

int countentries(const char* directory) {
    DIR* dir = opendir(directory);
    if (dir == nullptr) {
        return -1;
    }
    int n = 0;
    while (const dirent* entry = readdir(dir)) {
        n += entry->d_name[0] != '.';
    }
    closedir(dir);
    return n - 1; // the directory stream's own descriptor
}

// Processes whose parent is this one, zombies included.
int countchildren() {
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        return -1;
    }
    const long self = static_cast<long>(getpid());
    int n = 0;
    while (const dirent* entry = readdir(proc)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') {
            continue;
        }
        std::ifstream stat(std::string("/proc/") + entry->d_name + "/stat");
        std::string line;
        std::getline(stat, line);
        const auto close = line.rfind(')');
        long parent = 0;
        if (close != std::string::npos &&
            std::sscanf(line.c_str() + close + 1, " %*c %ld", &parent) == 1 && parent == self) {
            ++n;
        }
    }
    closedir(proc);
    return n;
}

long residentkb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return -1;
}

} // namespace

int main(int argc, char** argv) {
    options o;
    if (!parse(argc, argv, o)) {
        return usage();
    }
    const int count = static_cast<int>(o.addresses.size());
    static char commandlines[multiprcmaxhosts][protocoltextsize];
    for (int i = 0; i < count; ++i) {
        formatprobecommand(i, o.addresses[i].c_str(), o.timeout, commandlines[i]);
    }
    if (o.quiet) {
        // The trace still goes somewhere real, so that its cost is counted.
        if (std::freopen("/dev/null", "w", stdout) == nullptr) {
            return 1;
        }
    }
    multiprcsetechotimeout(o.timeout);
    for (int cycle = 1; cycle <= o.cycles; ++cycle) {
        int results[multiprcmaxhosts] = {};
        const auto start = std::chrono::steady_clock::now();
        multiprcfuncwin(commandlines, o.pause, count, results);
        const auto elapsed = std::chrono::steady_clock::now() - start;
        int alive = 0;
        for (int i = 0; i < count; ++i) {
            alive += results[i] == 1;
        }
        for (std::FILE* out : {stdout, o.verdicts ? stderr : nullptr}) {
            if (out != nullptr) {
                std::fprintf(out, "results:");
                for (int i = 0; i < count; ++i) {
                    std::fprintf(out, " %d", results[i]);
                }
                std::fprintf(out, "\n");
                std::fflush(out);
            }
        }
        if (o.quiet) {
            std::fprintf(stderr, "cycle %d ms=%.1f fds=%d children=%d rss_kb=%ld alive=%d\n", cycle,
                         std::chrono::duration<double, std::milli>(elapsed).count(),
                         countentries("/proc/self/fd"), countchildren(), residentkb(), alive);
        }
    }
    return 0;
}
