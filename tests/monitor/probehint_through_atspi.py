#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""End-to-end: the real quorvel whose probes cannot open an ICMP socket.

A copy of quorvel is put in a fresh directory beside a stand-in "zendrik" that
ends with exit code 5 at once, as zendrik does without the right to open an
ICMP socket; quorvel finds a probe beside itself first. Through AT-SPI it
switches to manual mode, runs two cycles with UPDATE and ends with EXIT. The
trace on standard output must be exactly that of two such cycles, and the
hint on standard error must come once, naming the stand-in.

Run it on a display and a session bus of its own, for example:
  scripts/with-xvfb dbus-run-session -- /usr/bin/python3 probehint_through_atspi.py QUORVEL ICON
"""
import os
import re
import shutil
import sys
import tempfile

from quorveltest import QUIT_TRACE, Failure, outcome, wait_until
from quorveltest.window import Quorvel

CYCLE_TIMEOUT = 60  # seconds for one cycle of two probes that end at once

HOSTLIST = "pc0 127.0.0.1 02:00:00:00:00:01\npc1 127.0.0.2 02:00:00:00:00:02\n"
HINT_MARK = "could not open an ICMP socket"

# One UPDATE: the host table, the dispatcher's trace, each host's status.
CYCLE_TRACE = (
    "Index-0 hostname=pc0 ip=127.0.0.1  mac=02:00:00:00:00:01\n"
    "Index-1 hostname=pc1 ip=127.0.0.2  mac=02:00:00:00:00:02\n"
    "child processId=<pid>\n"
    "child processId=<pid>\n"
    "PipeServer: \n"
    "PipeServer: \n"
    "wait result=WAIT_OBJECT_0\nexitCode=5/5\n"
    "wait result=WAIT_OBJECT_0\nexitCode=5/5\n"
    "0:0\n"
    "1:0\n"
)


def click(quorvel, name):
    if not quorvel.click(name):
        raise Failure(f"the {name} button refused its click action")


def run_cycle(quorvel, count):
    """UPDATE, then wait until the count-th cycle is over and UPDATE can be
    clicked again."""
    click(quorvel, "UPDATE")
    # The cycle first takes every command button away, then gives the manual
    # mode's back; a host that did not answer becomes clickable.
    wait_until(
        lambda: quorvel.trace().count("1:0\n") >= count
        and quorvel.frame.name == "HOST STATUS"
        and quorvel.clickable()["UPDATE"]
        and quorvel.clickable()["pc1"],
        CYCLE_TIMEOUT,
        "the end of the cycle",
    )


def run(quorvel, icon):
    work = tempfile.mkdtemp(prefix="quorvel-hint-")
    try:
        program = os.path.join(work, "quorvel")
        shutil.copy(quorvel, program)
        probe = os.path.join(work, "zendrik")
        with open(probe, "w") as f:
            f.write("#!/bin/sh\nexit 5\n")
        os.chmod(probe, 0o755)
        with open(os.path.join(work, "hostlist"), "w") as f:
            f.write(HOSTLIST)
        shutil.copy(icon, os.path.join(work, "quorvel64.ico"))
        with Quorvel(program, work, ["-t", "300"]) as process:
            process.find_window()
            click(process, "MANUAL")
            wait_until(lambda: process.clickable()["UPDATE"], 30, "UPDATE clickable after MANUAL")
            run_cycle(process, 1)
            run_cycle(process, 2)
            status = process.exit()
            out, err = process.trace(), process.errors()
        trace = re.sub(r"child processId=[0-9]+\n", "child processId=<pid>\n", out)
        expected = CYCLE_TRACE * 2 + QUIT_TRACE
        if trace != expected:
            raise Failure(f"trace was {trace!r}, expected {expected!r}")
        if err.count(HINT_MARK) != 1:
            raise Failure(f"the hint came {err.count(HINT_MARK)} times, expected once: {err!r}")
        if f"setcap cap_net_raw+p {probe}\n" not in err:
            raise Failure(f"the hint does not name the probe that ran ({probe}): {err!r}")
        if "ping_group_range" not in err:
            raise Failure(f"the hint does not name the ping group range: {err!r}")
        if status != 0:
            raise Failure(f"exit status {status}; stderr: {err!r}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    if len(sys.argv) != 3:
        print("usage: probehint_through_atspi.py QUORVEL ICON", file=sys.stderr)
        return 2
    return outcome(lambda: run(sys.argv[1], sys.argv[2]), "two cycles of probes without an "
                   "ICMP socket: the trace unchanged, one hint on stderr")


if __name__ == "__main__":
    sys.exit(main())
