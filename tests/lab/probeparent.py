#!/usr/bin/python3
"""Runs zendrik probes the way their monitor does, and reports what each one
did. This process is the probes' parent and holds the server end of every
result pipe (a Unix stream socket in the abstract namespace named
"quorvel/<this pid>/\\\\.\\pipe\\mypipe<index>"), so the probes find their
pipes as they would under quorvel. Run it inside the namespace the probes
should ping from, e.g. `ip netns exec <lab monitor> probeparent.py ...`: the
abstract socket names belong to the network namespace.

Input: one JSON object as the only argument:
    {"zendrik": "/path/zendrik",
     "wrapper": ["setpriv", "--reuid=nobody", ...],     optional, put before zendrik
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
import socket
import struct
import subprocess
import sys
import time


def pipe_name(index):
    return "\0quorvel/%d/\\\\.\\pipe\\mypipe%d" % (os.getpid(), index)


def make_pipe(index):
    server = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    server.bind(pipe_name(index))
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
    wrapper = request.get("wrapper", [])
    limit = float(request.get("limit", 30))
    probes = request["probes"]
    servers = [make_pipe(p["index"]) for p in probes]
    children = []
    for probe in probes:
        children.append(subprocess.Popen(wrapper + [request["zendrik"]] + probe["args"],
                                         stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                         stderr=subprocess.STDOUT))
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
