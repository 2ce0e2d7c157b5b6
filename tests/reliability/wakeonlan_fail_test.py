#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""A Wake-on-LAN send that cannot leave: the real quorvel in a network
namespace of its own with no route at all (not even loopback is up). Only
quorvel and its probes are in it; the display, the buses and this script
stay outside and reach it through sockets in the file system.

Through the accessibility bus: MANUAL, then UPDATE runs a probe cycle in
which every host fails (no route), so every host button becomes clickable;
a click on one sends its magic packet, which fails for want of a route.
quorvel must go on: the window still answers, a second cycle runs, and EXIT
ends quorvel with status 0. The trace must show both cycles.

Run it on a display and a bus of its own, as root (for the namespace; it
exits 77, skipped, without):
  scripts/with-xvfb dbus-run-session -- /usr/bin/python3 \\
      wakeonlan_fail_test.py QUORVEL ICON
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

from quorveltest import QUIT_TRACE, Failure, outcome, skip, wait_until
from quorveltest.window import EXIT_TIMEOUT, clickable, find_frame, push_buttons

HOSTLIST = "pc0 127.0.0.1 02:00:00:00:00:01\npc1 127.0.0.2 02:00:00:00:00:02\n"
STEP_TIMEOUT = 30


def click(button, what):
    if not button.queryAction().doAction(0):
        raise Failure(f"{what} refused its click")


def run(quorvel, icon):
    work = tempfile.mkdtemp(prefix="quorvel-wol-")
    try:
        with open(os.path.join(work, "hostlist"), "w") as f:
            f.write(HOSTLIST)
        shutil.copy(icon, os.path.join(work, "quorvel64.ico"))
        env = dict(os.environ)
        env.pop("NO_AT_BRIDGE", None)
        # unshare replaces itself with quorvel: the pid stays the same.
        process = subprocess.Popen(["unshare", "--net", "--", quorvel, "-t", "300"], cwd=work,
                                   env=env,
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        try:
            frame = find_frame(process)
            by_name = {b.name: b for b in push_buttons(frame)}
            click(by_name["MANUAL"], "MANUAL")
            wait_until(lambda: clickable(by_name["UPDATE"]), STEP_TIMEOUT, "manual mode")
            click(by_name["UPDATE"], "UPDATE")
            wait_until(lambda: clickable(by_name["pc0"]) and clickable(by_name["UPDATE"]),
                       STEP_TIMEOUT, "a cycle that leaves pc0 clickable")
            click(by_name["pc0"], "the host button pc0")
            # The send fails and the sender waits its second; then the window
            # must answer and work as before.
            time.sleep(1.5)
            if frame.name != "HOST STATUS" or not clickable(by_name["pc1"]):
                raise Failure("the window changed after the failed send")
            click(by_name["UPDATE"], "UPDATE after the failed send")
            wait_until(lambda: clickable(by_name["EXIT"]), STEP_TIMEOUT, "the second cycle's end")
            click(by_name["EXIT"], "EXIT")
            try:
                out, err = process.communicate(timeout=EXIT_TIMEOUT)
            except subprocess.TimeoutExpired:
                raise Failure(f"quorvel still running {EXIT_TIMEOUT} s after EXIT")
        except Failure as failure:
            if process.poll() is None:
                process.kill()
            out, err = process.communicate(timeout=10)
            raise Failure(f"{failure}\n--- quorvel's trace\n{out[-1500:]}"
                          f"--- its standard error\n{err[-1500:]}")
        finally:
            if process.poll() is None:
                process.kill()
                process.wait(timeout=10)
        if process.returncode != 0:
            raise Failure(f"exit status {process.returncode}; stderr {err[-500:]!r}")
        cycles = out.count("0:0\n1:0\n")
        if cycles != 2 or not out.endswith(QUIT_TRACE):
            raise Failure(f"trace shows {cycles} cycles with both hosts down, expected 2:\n{out}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    if len(sys.argv) != 3:
        print("usage: wakeonlan_fail_test.py QUORVEL ICON", file=sys.stderr)
        return 2
    if os.geteuid() != 0:
        return skip("a network namespace of its own needs root")
    return outcome(lambda: run(sys.argv[1], sys.argv[2]), "the magic packet found no route; "
                   "quorvel went on, ran a second cycle and ended")


if __name__ == "__main__":
    sys.exit(main())
