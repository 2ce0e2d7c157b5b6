// SPDX-License-Identifier: GPL-3.0-or-later
// Runs a zendrik binary the way its monitor does: as a child of this process,
// which holds the server end of the result pipe the child reports into.
#pragma once

#include <string>
#include <vector>

enum class pipemode {
    listening, // the pipe exists and waits for its probe
    absent,    // no pipe of that name was ever made
    closed,    // the pipe was made and closed again before the probe started
    taken,     // another client holds the only place in the pipe's queue
    foreign,   // the pipe listens, but for another process than the probe's parent
    unnamed,   // the pipe listens, but the probe is not told where (started by hand)
};

struct proberequest {
    std::string program;
    std::vector<std::string> args; // after the program name
    int pipeindex = 0;             // the pipe this process holds
    pipemode mode = pipemode::listening;
    std::string standinscript; // ICMPECHO_STANDIN for the child; unset when empty
};

struct proberun {
    int exitcode = -1; // -1 when the child did not end by exit
    bool connected = false;
    bool peeristheprobe = false; // the connection came from the child itself
    std::string pipebytes;
    std::string printed; // standard output and standard error together
};

proberun runprobe(const proberequest& request);

// The stand-in's record of the calls made, when its script names a log file.
class standinlog {
  public:
    standinlog();
    ~standinlog();
    standinlog(const standinlog&) = delete;
    standinlog& operator=(const standinlog&) = delete;
    // Script item that makes the stand-in write here.
    std::string scriptitem() const { return "log=" + path_; }
    std::string calls() const;

  private:
    std::string path_;
};
