// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers shared by the dispatcher's tests.
#pragma once

#include "pipename.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The command line of a stand-in probe for host `index`. It names the program
// as the monitor names zendrik, "<name>.exe", found beside the test program.
std::string standin(int index, std::string_view behaviour);

// What fd 1 received while `run` ran (the test process plays the monitor).
std::string capturestdout(const std::function<void()>& run);

// One cycle of multiprcfuncwin with these command lines, as the monitor calls it.
struct cycleoutcome {
    int returned = 0;
    std::string trace; // with every process id replaced by <pid>
    std::vector<long> pids;
    std::vector<int> results; // 7 where the cycle wrote nothing
    // multiprclastexitcode after the cycle, for every command line's host.
    std::vector<long> exitcodes;
};
cycleoutcome runcycle(const std::vector<std::string>& commandlines, int pause, int count);
inline cycleoutcome runcycle(const std::vector<std::string>& commandlines, int pause) {
    return runcycle(commandlines, pause, static_cast<int>(commandlines.size()));
}

// The trace lines of a probe started, and of a probe that ended with exit code 0,
// as runcycle() gives them.
inline const std::string started = "child processId=<pid>\n";
inline const std::string exited0 = "wait result=WAIT_OBJECT_0\nexitCode=0/0\n";

// "Fatal Eror !!! Child process is not closed normally." as a line.
inline constexpr char fatalline[] = "Fatal Eror !!! Child process is not closed normally.\n";

// What the process holds: its descriptors on Linux, its handles on Windows.
int countdescriptors();
// Child processes of this process, zombies included.
int countchildren();
bool processexists(long pid);

// The ways in which this platform's process layer can wait for a probe's
// end, by name; a test of the waits runs once in each way.
std::vector<std::string> waitingmodes();
void usewaitingmode(const std::string& mode);

// What the monitor sees of a probe that crashed (the stand-in's "crash"): the
// exit code and its trace line. Linux reports the signal as 128 + its number,
// Windows the exception code.
struct crashoutcome {
    long exitcode;
    const char* line;
};
crashoutcome crashedprobe();

// A fresh directory under /tmp, removed with everything in it at scope end.
class tempdir {
  public:
    tempdir();
    ~tempdir();
    tempdir(const tempdir&) = delete;
    tempdir& operator=(const tempdir&) = delete;
    const std::string& path() const { return path_; }
    // Creates a file in it with the given content and mode; returns its path.
    std::string file(std::string_view name, std::string_view content, unsigned mode) const;

  private:
    std::string path_;
};

// A local process that is not the probe: it keeps trying (for at most 3 s)
// to open result pipe `index` of this process and writes `word` into it once
// it gets through. It knows what a pipe set holds when it starts: the pipe
// directory on Linux, the secret of the names on Windows (a pipe must be open
// then; see pinnedpipes). Returns its pid; forgerexitcode() is 0 when it got
// through (connected; the monitor may have refused it before its word was sent).
long startforger(int index, std::string_view word);
int forgerexitcode(long pid);

// Holds a pipe (number 31, which the tests' cycles leave alone) for as long
// as it lives, so that every pipe of this process meanwhile shares one
// directory that an attacker can be pointed at.
class pinnedpipes {
  public:
    pinnedpipes();
    ~pinnedpipes();
    pinnedpipes(const pinnedpipes&) = delete;
    pinnedpipes& operator=(const pinnedpipes&) = delete;
    // What leads to the pipes while this lives: their directory on Linux,
    // the secret in their names on Windows.
    std::string directory() const;

  private:
    long pipe_;
};
