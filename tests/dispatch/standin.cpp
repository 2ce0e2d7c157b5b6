// SPDX-License-Identifier: GPL-3.0-or-later
// A stand-in for zendrik in the dispatcher's tests. It takes zendrik's "-i N"
// (the number of its result pipe) and reports through the probe's own pipe
// client code, but instead of pinging it does what its behaviour words say:
//
//   say TEXT       write TEXT (escapes \0, \n and \\ allowed)
//   fill N C       write N bytes of the character C
//   late MS TEXT   sleep MS milliseconds, then as "say"
//   silent         open the pipe and close it without writing
//   hold MS        open the pipe, sleep MS milliseconds without writing, exit
//   never MS       never open the pipe; sleep MS milliseconds and exit
//   exit CODE      never open the pipe; exit with CODE at once
//   crash          end as a crash does on the platform (standinplatform.h)
//   hang           sleep 60 s without opening the pipe
//   report         write "fds=N nice=N cwd=DIR mark=$QUORVEL_TEST_MARK", N
//                  counting its own open descriptors before the pipe is opened
//   forge TEXT     keep trying for 3 s to open the pipe, wherever it may be
//                  (standinforgerplaces), then as "say": a client that is
//                  not the probe, for the tests on Windows, where only a
//                  child of the monitor gets past the probe's own check of
//                  the pipe's server
//
// "-x CODE" before the behaviour sets the exit code after a report (default 0).
// Like zendrik, it ends with exit code 1 when its pipe cannot be opened.
// Every sleep is cut to 60 s, so no stand-in outlives a broken test for long.
#include "pipename.h"
#include "resultpipe.h"
#include "standinplatform.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>

namespace {

constexpr int longestsleepmsec = 60000;
// As zendrik with its default time-out: waits this long at most for room in
// a pipe that other processes have crowded.
constexpr int reportwaitmsec = 4300;

void sleepmsec(int msec) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::clamp(msec, 0, longestsleepmsec)));
}

std::string unescape(std::string_view text) {
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            bytes += text[i];
            continue;
        }
        const char c = text[++i];
        bytes += c == '0' ? '\0' : c == 'n' ? '\n' : c;
    }
    return bytes;
}

std::string report() {
    const int fds = standindescriptors();
    const std::string cwd = standindirectory();
    const char* mark = std::getenv("QUORVEL_TEST_MARK");
    char text[4200];
    std::snprintf(text, sizeof text, "fds=%d nice=%d cwd=%s mark=%s", fds, standinpriority(),
                  cwd.c_str(), mark != nullptr ? mark : "");
    return text;
}

// Opens pipe number `index` of the parent, writes the bytes (if any) and
// closes it; false when the pipe could not be opened.
bool deliver(int index, const std::string* bytes, int holdmsec = 0) {
    const pipehandle pipe = pipeclientopen(resultpipename(index).c_str(), reportwaitmsec);
    if (pipe == invalidpipehandle) {
        return false;
    }
    if (bytes != nullptr) {
        pipeclientwrite(pipe, bytes->data(), bytes->size());
    }
    sleepmsec(holdmsec);
    pipeclientclose(pipe);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    int index = 99;
    int exitcode = 0;
    int at = 1;
    for (; at + 1 < argc && argv[at][0] == '-'; at += 2) {
        (argv[at][1] == 'i' ? index : exitcode) = std::atoi(argv[at + 1]);
    }
    const std::string_view behaviour = at < argc ? argv[at] : "";
    const auto arg = [&](int k) {
        return at + k < argc ? std::string(argv[at + k]) : std::string();
    };

    if (behaviour == "crash") {
        standincrash();
    }
    if (behaviour == "exit") {
        return std::atoi(arg(1).c_str());
    }
    if (behaviour == "never" || behaviour == "hang") {
        sleepmsec(behaviour == "hang" ? longestsleepmsec : std::atoi(arg(1).c_str()));
        return exitcode;
    }
    if (behaviour == "late") {
        sleepmsec(std::atoi(arg(1).c_str()));
    }
    if (behaviour == "forge") {
        const std::string bytes = unescape(arg(1));
        const auto giveup = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        for (;;) {
            for (const std::string& place : standinforgerplaces()) {
                standinuseplace(place);
                if (deliver(index, &bytes)) {
                    return exitcode;
                }
            }
            if (std::chrono::steady_clock::now() >= giveup) {
                return 1;
            }
            sleepmsec(1);
        }
    }
    std::string bytes;
    if (behaviour == "say") {
        bytes = unescape(arg(1));
    } else if (behaviour == "late") {
        bytes = unescape(arg(2));
    } else if (behaviour == "fill") {
        bytes.assign(static_cast<std::size_t>(std::atol(arg(1).c_str())), arg(2)[0]);
    } else if (behaviour == "report") {
        bytes = report();
    } else if (behaviour == "silent") {
        return deliver(index, nullptr) ? exitcode : 1;
    } else if (behaviour == "hold") {
        return deliver(index, nullptr, std::atoi(arg(1).c_str())) ? exitcode : 1;
    } else {
        std::fprintf(stderr, "dispatchstandin: unknown behaviour \"%s\"\n", behaviour.data());
        return 2;
    }
    return deliver(index, &bytes) ? exitcode : 1;
}
