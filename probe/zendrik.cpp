// SPDX-License-Identifier: GPL-3.0-or-later
// zendrik: pings one host once and reports "alive" or "dead" into the result
// pipe its monitor created for that host. Prints nothing; the exit code tells
// how far it got (0 reported, 1 bad command line, failed name lookup or no
// pipe, 2 to 5 the echo could not be set up).
#include "commandline.h"
#include "parentwatch.h"
#include "pingonece_funcwin.h"
#include "protocol.h"
#include "resultpipe.h"
#include "selfpath.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace {

// The longest wait for room in a pipe whose queue other processes have
// filled: the monitor allows this much beyond the echo time-out before it
// gives up on a cycle, and it ends the wait sooner by closing the pipe.
int reportwaitmsec(std::int32_t timeout) {
    constexpr std::int32_t allowance = 4000;
    constexpr std::int32_t longestecho = 60000;
    return std::clamp(timeout, 0, longestecho) + allowance;
}

// One open, which waits only while other processes crowd the pipe: a probe
// that cannot report ends.
int reportverdict(const char* pipename, const char* word, std::int32_t timeout) {
    const pipehandle pipe = pipeclientopen(pipename, reportwaitmsec(timeout));
    if (pipe == invalidpipehandle) {
        return probeexit::nopipe;
    }
    pipeclientwrite(pipe, word, std::strlen(word));
    pipeclientclose(pipe);
    return probeexit::reported;
}

} // namespace

int main(int argc, char* argv[]) {
    limitdllsearch();
    // An orphan has no one to report to: whoever holds its pipe's name by
    // the time it would write is a stranger.
    if (!endwithparent()) {
        return probeexit::nopipe;
    }
    probesettings settings;
    if (!readcommandline(argc, argv, settings)) {
        return probeexit::badcommandline;
    }
    const int alive = pingonece_funcwin(settings.hosttext.data(), settings.timeout, 0);
    const char* word = (alive == 1 ? verdictalive : verdictdead);
    char achPipeName[protocoltextsize];
    formatpipename(settings.pipeindex, achPipeName);
    return reportverdict(achPipeName, word, settings.timeout);
}
