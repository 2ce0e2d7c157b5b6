#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""End to end, on the test network, with the real 20-second probe timer:

1. Right after start (automatic mode, one timer armed), MANUAL and AUTOSTART
   are clicked in turn three times, then MANUAL once more. The timer armed at
   start-up ticks 20 s after start: it runs exactly one more cycle and ends.
   Timers stacked by the AUTOSTARTs would each run a cycle of their own about
   20 s after their AUTOSTART.
2. AUTOSTART, long enough after that tick: the one timer is armed anew and
   its first tick, 20 s later, runs a cycle in automatic mode. Had the first
   timer survived its tick in manual mode, it would tick first, 40 s after
   start.

Cycles of the timer print no host table and never show the estimate in the
title; after each, the command buttons of the mode come back. About 55 s.

Run by inlab.py inside the lab's monitor namespace, on a display and a
session bus of its own.
"""
import sys
import time

import labcase as lc
from labhosts import HOSTLIST
from quorveltest import Failure
from quorveltest.window import AUTOMATIC, MANUAL, Quorvel, TitleWatch, WorkDir

TICK = 20
SETTLE = 5  # seconds after a tick in which a second cycle would have shown
SEPARATION = 24  # seconds from the toggles to AUTOSTART: its tick comes 6 s after 40 s


def sleep_until(moment):
    time.sleep(max(0.0, moment - time.monotonic()))


def toggle(quorvel):
    for _ in range(3):
        quorvel.click("MANUAL")
        lc.expect_clickable(quorvel, lc.host_state(None), MANUAL, "after MANUAL")
        quorvel.click("AUTOSTART")
        lc.expect_clickable(quorvel, lc.host_state(None), AUTOMATIC, "after AUTOSTART")
    quorvel.click("MANUAL")
    lc.expect_clickable(quorvel, lc.host_state(None), MANUAL, "after the last MANUAL")


def tick_cycles(quorvel, count, what, after):
    """Waits for the count-th cycle, then a while longer, and returns them all."""
    sleep_until(after)
    lc.wait_cycles(quorvel, count, what)
    sleep_until(time.monotonic() + SETTLE)
    found, _ = lc.cycles(quorvel.lines(), lc.HOSTNUM)
    if len(found) != count:
        raise Failure(f"{what}: {len(found)} cycles in all, expected {count}")
    return found


def ticks(quorvel):
    """Steps 1 and 2 above."""
    lc.expect_clickable(quorvel, lc.host_state(None), AUTOMATIC, "at start")
    toggle(quorvel)
    toggled = time.monotonic()

    found = tick_cycles(quorvel, 1, "the tick after MANUAL", quorvel.launched + TICK)
    if found[0].start > quorvel.window_seen + TICK + SETTLE:
        raise Failure(f"the first tick came {found[0].start - quorvel.launched:.1f} s "
                      "after start")
    lc.expect_clickable(quorvel, lc.host_state(False), MANUAL, "after the tick in manual mode")

    sleep_until(toggled + SEPARATION)
    quorvel.click("AUTOSTART")
    restarted = time.monotonic()
    lc.expect_clickable(quorvel, lc.host_state(False), AUTOMATIC, "after AUTOSTART")
    found = tick_cycles(quorvel, 2, "the tick after AUTOSTART", restarted + TICK - 1)
    if found[1].start < restarted + TICK - 0.5:
        raise Failure(f"a cycle {found[1].start - restarted:.1f} s after AUTOSTART: the "
                      "timer of start-up is still armed")
    lc.expect_clickable(quorvel, lc.host_state(False), AUTOMATIC,
                        "after the tick in automatic mode")


def case(program, icon):
    with WorkDir(HOSTLIST, icon) as work, Quorvel(program, work, lc.ARGS) as quorvel:
        quorvel.find_window()
        with TitleWatch(quorvel) as watch:
            ticks(quorvel)
            lc.check_idle_titles(watch.seen(), "during the cycles of the timer")
        lc.finish(quorvel, updates=0, ticks=2)


if __name__ == "__main__":
    sys.exit(lc.run(case, "one cycle per tick, one more tick after MANUAL, none after it, "
                          "AUTOSTART arms the timer anew"))
