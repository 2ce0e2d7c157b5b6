#!/usr/bin/python3
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
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from exit_through_atspi import Failure, buttons_of, clickable, find_window  # noqa: E402

CYCLE_TIMEOUT = 60  # seconds for one cycle of two probes that end at once
EXIT_TIMEOUT = 30

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
EXIT_TRACE = (
    "[parent process: delete_event] got a delete event from FrameWork.\n"
    "[parent process: delete_event] so I'll call a main_quit.\n"
)


def click(button, name):
    if not button.queryAction().doAction(0):
        raise Failure(f"the {name} button refused its click action")


def wait_until(what, condition, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return
        time.sleep(0.2)
    raise Failure(f"{what} not within {timeout} s")


def run_cycle(frame, by_name):
    """UPDATE, then wait until the cycle is over and UPDATE can be clicked again."""
    click(by_name["UPDATE"], "UPDATE")
    # The cycle first takes every command button away, then gives the manual
    # mode's back; a host that did not answer becomes clickable.
    wait_until(
        "the end of the cycle",
        lambda: frame.name == "HOST STATUS"
        and clickable(by_name["UPDATE"])
        and clickable(by_name["pc1"]),
        CYCLE_TIMEOUT,
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
        env = dict(os.environ)
        env.pop("NO_AT_BRIDGE", None)
        process = subprocess.Popen(
            [program, "-t", "300"],
            cwd=work,
            env=env,
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            text=True,
        )
        try:
            frame = find_window(process)
            by_name = dict(buttons_of(frame))
            click(by_name["MANUAL"], "MANUAL")
            wait_until("UPDATE clickable after MANUAL", lambda: clickable(by_name["UPDATE"]), 30)
            run_cycle(frame, by_name)
            run_cycle(frame, by_name)
            click(by_name["EXIT"], "EXIT")
            try:
                out, err = process.communicate(timeout=EXIT_TIMEOUT)
            except subprocess.TimeoutExpired:
                raise Failure(f"quorvel still running {EXIT_TIMEOUT} s after EXIT")
        finally:
            if process.poll() is None:
                process.kill()
                process.wait(timeout=10)
        trace = re.sub(r"child processId=[0-9]+\n", "child processId=<pid>\n", out)
        expected = CYCLE_TRACE * 2 + EXIT_TRACE
        if trace != expected:
            raise Failure(f"trace was {trace!r}, expected {expected!r}")
        if err.count(HINT_MARK) != 1:
            raise Failure(f"the hint came {err.count(HINT_MARK)} times, expected once: {err!r}")
        if f"setcap cap_net_raw+p {probe}\n" not in err:
            raise Failure(f"the hint does not name the probe that ran ({probe}): {err!r}")
        if "ping_group_range" not in err:
            raise Failure(f"the hint does not name the ping group range: {err!r}")
        if process.returncode != 0:
            raise Failure(f"exit status {process.returncode}; stderr: {err!r}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    if len(sys.argv) != 3:
        print("usage: probehint_through_atspi.py QUORVEL ICON", file=sys.stderr)
        return 2
    try:
        run(sys.argv[1], sys.argv[2])
    except Failure as failure:
        print(f"FAIL: {failure}", file=sys.stderr)
        return 1
    print("PASS: two cycles of probes without an ICMP socket: the trace unchanged, one hint on stderr")
    return 0


if __name__ == "__main__":
    sys.exit(main())
