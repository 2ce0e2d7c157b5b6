// SPDX-License-Identifier: GPL-3.0-or-later
#include "multiprcfuncwin.h"

#include "pipeverdict.h"
#include "protocol.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>

namespace {

int echotimeoutmsec = 1000;

// Exit codes of the last cycle's probes, by host; -1 where none was read.
std::array<long, multiprcmaxhosts> lastexitcodes = [] {
    std::array<long, multiprcmaxhosts> none;
    none.fill(-1);
    return none;
}();

// Beyond the pauses and the echo time-out, the time a cycle allows for
// starting processes and for the probes' own set-up.
constexpr std::chrono::milliseconds startupallowance{4000};

deadline cycledeadline(int pause, int count) {
    const std::chrono::milliseconds budget{static_cast<std::int64_t>(count) * pause +
                                           echotimeoutmsec};
    return std::chrono::steady_clock::now() + budget + startupallowance;
}

} // namespace

void multiprcsetechotimeout(int msec) {
    echotimeoutmsec = std::max(msec, 0);
}

long multiprclastexitcode(int index) {
    if (index < 0 || index >= multiprcmaxhosts) {
        return -1;
    }
    return lastexitcodes[static_cast<std::size_t>(index)];
}

int mypipeopen(int number, pipeslot& slot) {
    char name[protocoltextsize];
    formatpipename(number, name);
    slot.reset(pipeservercreate(name));
    return slot.get() == invalidpipehandle ? -1 : 0;
}

int createdochildprc(const char* commandline, childprocess& slot, const pipeslot& pipe) {
    // The probe learns where its pipe is from its environment, and of no
    // other host's pipe.
    if (!processstart(commandline, slot, pipeserverenvironment(pipe.get()))) {
        std::printf("CloseHandle(hThread)");
        return -1;
    }
    std::printf("child processId=%ld\n", slot.id());
    return 0;
}

int mypipereadclose(pipeslot& slot, pipeconnection& taken, const childprocess& probe,
                    deadline until) {
    char text[pipereadsize + 1] = {};
    long received = 0;
    // An empty slot has no probe that could ever connect: nothing to wait for.
    if (!probe.empty()) {
        if (taken.get() == invalidpipehandle) {
            taken.reset(pipeserverawaitclient(slot.get(), probe, until));
        }
        received = pipeserverread(taken.get(), text, pipereadsize, until);
    }
    const int isalive = pipeverdict(text, received);
    std::printf("PipeServer: %s\n", text);
    taken.reset();
    slot.reset();
    return isalive;
}

int closechildprc(childprocess& slot, deadline until, long& exitcode) {
    int result = -1;
    exitcode = -1;
    switch (processwait(slot, until)) {
    case waitoutcome::ended: {
        std::printf("wait result=WAIT_OBJECT_0\n");
        if (processexitcode(slot, exitcode)) {
            std::printf("exitCode=%ld/%lx\n", exitcode, static_cast<unsigned long>(exitcode));
            result = 0;
        } else {
            exitcode = -1;
            std::printf("GetExitCodeProcess");
        }
        break;
    }
    case waitoutcome::timedout:
        // Past the cycle's deadline the probe is killed (by the release
        // below) rather than waited for: a stuck probe must not freeze the
        // monitor's window for good.
        std::printf("wait result=WAIT_TIMEOUT\n");
        break;
    case waitoutcome::failed:
        std::printf("wait result=WAIT_FAILED");
        break;
    }
    processrelease(slot);
    return result;
}

int multiprcfuncwin(const char (*commandlines)[256], int pause, int count, int* results) {
    std::array<int, multiprcmaxhosts> pipenumbers;
    for (int k = 0; k < multiprcmaxhosts; ++k) {
        pipenumbers[k] = k;
    }
    lastexitcodes.fill(-1);
    if (count <= 0) {
        return 0;
    }
    count = std::min(count, multiprcmaxhosts);
    pause = std::max(pause, 0);

    // Declared before the pipes so that, should anything leave early, every
    // pipe is released before any probe is killed.
    std::array<childprocess, multiprcmaxhosts> processes;
    std::array<pipeslot, multiprcmaxhosts> pipes;
    std::array<pipeconnection, multiprcmaxhosts> taken;
    for (int i = 0; i < count; ++i) {
        if (mypipeopen(pipenumbers[i], pipes[i]) != 0) {
            return -1;
        }
    }
    // The cycle's time starts once its pipes exist: however long their making
    // took, the probes get their whole allowance.
    const deadline until = cycledeadline(pause, count);
    // Each pause counts from the moment its start began, so the time a start
    // takes is not added to it: the starts are one pause apart and the read
    // phase begins count pauses after the first start, however long the
    // process starts took, as long as each takes less than a pause. A start
    // that takes longer is followed by no pause at all, and the next start
    // comes at once. The pause is spent keeping the pipes clear of intruders.
    const auto used = static_cast<std::size_t>(count);
    for (int i = 0; i < count; ++i) {
        const deadline pauseend =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(pause);
        processrelease(processes[i]);
        createdochildprc(commandlines[i], processes[i], pipes[i]);
        pipeserverguard(std::span(pipes).first(used), std::span(processes).first(used),
                        std::span(taken).first(used), pauseend);
    }
    for (int i = 0; i < count; ++i) {
        results[i] = mypipereadclose(pipes[i], taken[i], processes[i], until);
    }
    for (int i = 0; i < count; ++i) {
        if (closechildprc(processes[i], until, lastexitcodes[static_cast<std::size_t>(i)]) != 0) {
            std::printf("Fatal Eror !!! Child process is not closed normally.\n");
        }
    }
    std::fflush(stdout);
    return 0;
}
