#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Runs zendrik probes the way their monitor does, and reports what each one
did. This process is the probes' parent and holds the server end of every
result pipe (a Unix stream socket "<directory>/\\\\.\\pipe\\mypipe<index>" in a
private directory named to the probes in QUORVEL_PIPES), so the probes find
their pipes as they would under quorvel. Run it inside the namespace the
probes should ping from, e.g. `ip netns exec <lab monitor> probeparent.py ...`.
With a "wrapper" (setpriv, to run the probes as another user), this program
runs itself under it first, so that the probes' parent and its pipes belong
to the probes' user, as quorvel and its probes do.

Input: one JSON object as the only argument:
    {"zendrik": "/path/zendrik",
     "wrapper": ["setpriv", "--reuid=nobody", ...],     optional: all runs under it
     "limit": 30,                                        seconds for all probes together
     "probes": [{"index": 0, "args": ["-i", "0", "-h", "10.200.1.2", "-t", "1000"]}, ...]}
All probes start at once.

Output: one JSON list on standard output, one entry per probe, in input order:
    {"index": 0, "exit": 0, "bytes": "alive", "connected": true,
     "peer_is_probe": true, "printed": "", "ended": true}
"exit" is the exit code (negative: the signal that ended it); "ended" is false
when the probe was still running at the limit and had to be killed.
"""

import json
import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time


def pipe_name(directory, index):
    return os.path.join(directory, "\\\\.\\pipe\\mypipe%d" % index)


def make_pipe(directory, index):
    server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    server.bind(pipe_name(directory, index))
    server.listen(8)
    server.setblocking(False)
    return server


def take_verdict(server, probe_pid):
    """The bytes from the probe's own connection; other connections are
    refused, as the monitor refuses a verdict from any other process."""
    result = {"connected": False, "peer_is_probe": False, "bytes": ""}
    while True:
        try:
            connection, _ = server.accept()
        except BlockingIOError:
            return result
        with connection:
            creds = connection.getsockopt(socket.SOL_SOCKET, socket.SO_PEERCRED,
                                          struct.calcsize("3i"))
            pid = struct.unpack("3i", creds)[0]
            result["connected"] = True
            if pid != probe_pid:
                continue
            result["peer_is_probe"] = True
            connection.settimeout(5)
            data = b""
            while len(data) < 1024:
                chunk = connection.recv(1024)
                if not chunk:
                    break
                data += chunk
            result["bytes"] = data.decode("latin-1")


def main():
    request = json.loads(sys.argv[1])
    wrapper = request.pop("wrapper", [])
    if wrapper:
        # Its source goes along in full: the other user may not be able to
        # read this file where it lies.
        with open(os.path.abspath(__file__)) as own:
            source = own.read()
        os.execvp(wrapper[0], wrapper + [sys.executable, "-c", source, json.dumps(request)])
    limit = float(request.get("limit", 30))
    probes = request["probes"]
    directory = tempfile.mkdtemp(prefix="probeparent-")
    try:
        return run(request, limit, probes, directory)
    finally:
        shutil.rmtree(directory, ignore_errors=True)


def run(request, limit, probes, directory):
    servers = [make_pipe(directory, p["index"]) for p in probes]
    environment = dict(os.environ, QUORVEL_PIPES=directory)
    children = []
    for probe in probes:
        children.append(subprocess.Popen([request["zendrik"]] + probe["args"],
                                         stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                         stderr=subprocess.STDOUT, env=environment))
    deadline = time.monotonic() + limit
    results = []
    for probe, child, server in zip(probes, children, servers):
        ended = True
        try:
            printed, _ = child.communicate(timeout=max(0.1, deadline - time.monotonic()))
        except subprocess.TimeoutExpired:
            child.kill()
            printed, _ = child.communicate()
            ended = False
        entry = {"index": probe["index"], "exit": child.returncode, "ended": ended,
                 "printed": printed.decode("latin-1")}
        entry.update(take_verdict(server, child.pid))
        server.close()
        results.append(entry)
    json.dump(results, sys.stdout)
    print()
    return 0


if __name__ == "__main__":
    sys.exit(main())
