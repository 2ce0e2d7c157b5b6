// SPDX-License-Identifier: GPL-3.0-or-later
// Server end of the result pipe: the monitor creates one per host and cycle,
// takes one verdict from it and releases it.
#pragma once

#include "process.h"
#include "protocol.h"

#include <cstddef>
#include <span>

// Creates the pipe of that name, ready for its one client, in a place that
// only its probe is told of (see pipeserverenvironment). invalidpipehandle
// when it cannot be created. On Windows a pipe whose private name someone
// else holds, however often it is drawn anew, is not a failure: the pipe
// returned then is one that no client can ever open, so that the host it is
// for goes without a verdict and the other hosts of the cycle keep theirs.
pipehandle pipeservercreate(const char* pipename);

// Releases the pipe; from then on no client can open its name.
void pipeserverclose(pipehandle pipe);

// The environment entry ("NAME=value") that the probe of this pipe needs to
// find it, as long as the pipe exists; nullptr for no pipe. The names alone
// do not reach a pipe: the entry holds what other users cannot learn. Each
// Windows pipe has an entry of its own (a pipe that no client can open has
// one that names no pipe); the pipes of a Linux cycle share one directory
// and so one entry, which is also what no pipe gives there while any exists.
const char* pipeserverenvironment(pipehandle pipe = invalidpipehandle);

// Waits until the process `client` has opened the pipe, or has ended, or the
// deadline has passed, and returns its connection; invalidpipehandle when it
// has not connected by then. A connection from any other process is closed
// unread and does not end the wait: only the probe that the monitor started
// for a host may speak for it (pipeacceptable), and it can still do so after
// an intruder.
pipehandle pipeserverawaitclient(pipehandle pipe, const childprocess& client, deadline until);

// One read of at most count bytes. It waits for the first bytes, or for the
// client to close its end, only until the deadline. Returns the number of
// bytes received: 0 when the client closed without writing, the deadline
// passed or the read failed.
long pipeserverread(pipehandle connection, void* bytes, std::size_t count, deadline until);

// Ends a connection that pipeserverawaitclient returned.
void pipeserverdisconnect(pipehandle connection);

// Owns a pipe or a connection and releases it when it goes out of scope.
template <void (*release)(pipehandle)> class pipeowner {
  public:
    pipeowner() = default;
    explicit pipeowner(pipehandle handle) : handle_(handle) {}
    ~pipeowner() { reset(); }
    pipeowner(const pipeowner&) = delete;
    pipeowner& operator=(const pipeowner&) = delete;

    pipehandle get() const { return handle_; }
    void reset(pipehandle handle = invalidpipehandle) {
        if (handle_ != invalidpipehandle) {
            release(handle_);
        }
        handle_ = handle;
    }

  private:
    pipehandle handle_ = invalidpipehandle;
};

using pipeslot = pipeowner<pipeserverclose>;
using pipeconnection = pipeowner<pipeserverdisconnect>;

// Waits until the deadline and keeps the pipes clear meanwhile: on pipe k, a
// connection from the process clients[k] is kept in taken[k] (when that
// holds none yet), and every other connection is closed unread: a pipe whose
// probe has not started, or whose probe's connection is taken, refuses all. Other local
// processes can then never fill a pipe's queue and lock out the probe that
// has yet to report into it.
void pipeserverguard(std::span<const pipeslot> pipes, std::span<const childprocess> clients,
                     std::span<pipeconnection> taken, deadline until);
