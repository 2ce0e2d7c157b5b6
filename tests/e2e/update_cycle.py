#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""End to end, on the test network: MANUAL, then UPDATE; CLEAR, then UPDATE
again. Each UPDATE prints the host table, the dispatcher's trace and one
verdict line per host; the title shows the estimate while the probes run and
HOST STATUS after; the hosts that answered (the late one, first in the list,
among them) cannot be clicked, the others can; the command buttons of manual
mode come back. CLEAR makes every host button unclickable and prints nothing.

Run by inlab.py inside the lab's monitor namespace, on a display and a
session bus of its own.
"""
import sys

import labcase as lc
from labhosts import HOSTLIST
from quorveltest import Failure
from quorveltest.window import AUTOMATIC, COMMANDS, MANUAL, Quorvel, WorkDir


def case(program, icon):
    with WorkDir(HOSTLIST, icon) as work, Quorvel(program, work, lc.ARGS) as quorvel:
        quorvel.find_window()
        if quorvel.button_names() != lc.HOSTS + COMMANDS:
            raise Failure(f"buttons {quorvel.button_names()}, expected {lc.HOSTS + COMMANDS}")
        lc.expect_clickable(quorvel, lc.host_state(None), AUTOMATIC, "at start")

        lc.enter_manual(quorvel)
        lc.update(quorvel, 1, "the first UPDATE")

        quorvel.click("CLEAR")
        lc.expect_clickable(quorvel, lc.host_state(None), MANUAL, "after CLEAR")
        lc.update(quorvel, 2, "UPDATE after CLEAR")

        # The timer armed at start-up ticks once more in manual mode if this
        # run is slow enough to reach its first tick, 20 s after start.
        lc.finish(quorvel, updates=2, ticks=1)


if __name__ == "__main__":
    sys.exit(lc.run(case, "MANUAL, UPDATE, CLEAR, UPDATE: trace, title and buttons"))
