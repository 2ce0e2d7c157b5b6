#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""End-to-end: the real quorvel on a virtual display, driven through AT-SPI.

Starts quorvel in a fresh directory holding a host list of loopback hosts and
the icon, finds its window and buttons on the accessibility bus, checks each
button's name and whether it can be clicked and the process's priority, clicks
EXIT and checks the trace and the exit status.

Run it on a display and a session bus of its own, for example:
  scripts/with-xvfb dbus-run-session -- /usr/bin/python3 exit_through_atspi.py QUORVEL ICON
"""
import os
import sys

from quorveltest import QUIT_TRACE, Failure, outcome
from quorveltest.window import AUTOMATIC, COMMANDS, Quorvel, WorkDir, clickable_commands

HOSTLIST = """\
pc0 127.0.0.1 02:00:00:00:00:01
pc1 127.0.0.2 02:00:00:00:00:02
# rejected lines give no button
pc2 127.0.0.3
R&D 127.0.0.4 02:00:00:00:00:04
pc4 127.0.0.5 02:00:00:00:00:05
pc5 127.0.0.6 02:00:00:00:00:06
pc6 127.0.0.7 02:00:00:00:00:07
pc7 127.0.0.8 02:00:00:00:00:08
fileserver\t127.0.0.9\t02:00:00:00:00:09 # attic
pc9 127.0.0.10 02:00:00:00:00:0a
"""
HOST_NAMES = ["pc0", "pc1", "R&D", "pc4", "pc5", "pc6", "pc7", "filese.", "pc9"]


def check_buttons(quorvel):
    expected = HOST_NAMES + COMMANDS
    if quorvel.button_names() != expected:
        raise Failure(f"buttons in window order: {quorvel.button_names()}, expected {expected}")
    clickable = quorvel.clickable()
    for name in HOST_NAMES:
        if clickable[name]:
            raise Failure(f"host button {name} is clickable before any probe")
    for name, wanted in clickable_commands(AUTOMATIC).items():
        if clickable[name] != wanted:
            raise Failure(f"{name} clickable: {not wanted}, expected {wanted}")
    tooltip = quorvel.button("pc0").description
    if tooltip != "127.0.0.1  02:00:00:00:00:01\nnot probed yet":
        raise Failure(f"tooltip of pc0: {tooltip!r}")


def run(program, icon):
    args = ["-t", "500", "/c", "100"]
    with WorkDir(HOSTLIST, icon) as work, Quorvel(program, work, args) as quorvel:
        quorvel.find_window()
        nice = os.getpriority(os.PRIO_PROCESS, quorvel.process.pid)
        if nice != 19:
            raise Failure(f"quorvel runs at nice {nice}, expected the idle priority 19")
        check_buttons(quorvel)
        status = quorvel.exit()
        if quorvel.trace() != QUIT_TRACE:
            raise Failure(f"trace was {quorvel.trace()!r}, expected {QUIT_TRACE!r}; "
                          f"stderr: {quorvel.errors()!r}")
        if status != 0:
            raise Failure(f"exit status {status}; stderr: {quorvel.errors()!r}")


def main():
    if len(sys.argv) != 3:
        print("usage: exit_through_atspi.py QUORVEL ICON", file=sys.stderr)
        return 2
    return outcome(lambda: run(sys.argv[1], sys.argv[2]),
                   "buttons found by name and state, idle priority, "
                   "EXIT ends quorvel with its trace and status 0")


if __name__ == "__main__":
    sys.exit(main())
