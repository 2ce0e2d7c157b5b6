#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Runs one end-to-end case of quorvel on a test network built for the run
(quorveltest.lab): the case's program, quorvel and everything they talk
to (the virtual display, the session bus, the accessibility bus) all run
inside the lab's monitor namespace. They must: X and D-Bus clients may reach
their servers through abstract Unix sockets, and those belong to a network
namespace.

Usage: inlab.py WITH_XVFB CASE QUORVEL ICON
The case gets the lab's description in its environment (LAB_MONITOR,
LAB_ECHO, ... as printed by `python3 -m quorveltest.lab up`). Needs root;
exits 77 (skipped) without it. The lab is removed afterwards, whatever
happened.
"""
import os
import signal
import subprocess
import sys

import labhosts
from quorveltest import skip
from quorveltest import lab as netlab

CASE_TIMEOUT = 150  # seconds; below ctest's, so that the lab is always removed


def check_lab(lab):
    if lab.echo_addresses != labhosts.ECHO_ADDRESSES:
        raise RuntimeError(f"the lab's echo hosts are {lab.echo_addresses}, the host list "
                           f"expects {labhosts.ECHO_ADDRESSES}")


def main():
    if len(sys.argv) != 5:
        print("usage: inlab.py WITH_XVFB CASE QUORVEL ICON", file=sys.stderr)
        return 2
    xvfb, case, quorvel, icon = sys.argv[1:]
    if not netlab.is_root():
        return skip("end-to-end tests build a network of namespaces, which needs root")
    # ctest ends a test that runs too long with SIGTERM first: leave through
    # the lab's clean-up then.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    with netlab.Lab(echo_hosts=len(labhosts.ECHO_ADDRESSES), quiet_host=True) as lab:
        check_lab(lab)
        lab.start_responder(labhosts.RESPONDER)
        env = dict(os.environ)
        env.update(lab.describe())
        argv = [xvfb, "dbus-run-session", "--", "/usr/bin/python3", case, quorvel, icon]
        process = lab.popen(argv, env=env, start_new_session=True)
        try:
            return process.wait(timeout=CASE_TIMEOUT)
        except subprocess.TimeoutExpired:
            print(f"FAIL: the case did not end within {CASE_TIMEOUT} s", file=sys.stderr)
            return 1
        finally:
            if process.poll() is None:
                os.killpg(process.pid, signal.SIGKILL)
                process.wait()


if __name__ == "__main__":
    sys.exit(main())
