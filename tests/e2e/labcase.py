# SPDX-License-Identifier: GPL-3.0-or-later
"""What every end-to-end case of quorvel shares: what a probe cycle over the
hosts of labhosts.py must print and show, and the frame of a case's program.
"""
import os
import sys

from quorveltest import QUIT_TRACE, Failure, outcome, wait_until
from quorveltest.cycles import cycles
from quorveltest.window import MANUAL, TitleWatch, clickable_commands

HOSTS = ["late", "echo1", "echo2", "silent", "unreac.", "toolat."]
ALIVE = {"late": True, "echo1": True, "echo2": True, "silent": False, "unreac.": False,
         "toolat.": False}
HOSTNUM = len(HOSTS)

# 6 hosts, 100 ms between probe starts, 1500 ms time-out.
ARGS = ["-t", "1500", "-c", "100"]
ESTIMATE_TITLE = "Searching .......... (~ 6sec)"
IDLE_TITLE = "HOST STATUS"

HOST_TABLE = """\
Index-0 hostname=late ip=10.200.3.11  mac=02:00:00:03:00:0b
Index-1 hostname=echo1 ip=10.200.1.2  mac=02:00:00:01:00:02
Index-2 hostname=echo2 ip=10.200.1.3  mac=02:00:00:01:00:02
Index-3 hostname=silent ip=10.200.1.200  mac=02:5a:00:c0:ff:ee
Index-4 hostname=unreac. ip=10.200.4.1  mac=02:00:00:04:00:01
Index-5 hostname=toolat. ip=10.200.3.12  mac=02:00:00:03:00:0c
"""
# Every probe ends normally (exit code 0) after reporting its verdict.
PROBES = """\
child processId=<pid>
child processId=<pid>
child processId=<pid>
child processId=<pid>
child processId=<pid>
child processId=<pid>
PipeServer: alive
PipeServer: alive
PipeServer: alive
PipeServer: dead
PipeServer: dead
PipeServer: dead
wait result=WAIT_OBJECT_0
exitCode=0/0
wait result=WAIT_OBJECT_0
exitCode=0/0
wait result=WAIT_OBJECT_0
exitCode=0/0
wait result=WAIT_OBJECT_0
exitCode=0/0
wait result=WAIT_OBJECT_0
exitCode=0/0
wait result=WAIT_OBJECT_0
exitCode=0/0
0:1
1:1
2:1
3:0
4:0
5:0"""
UPDATE_CYCLE = HOST_TABLE + PROBES
TICK_CYCLE = PROBES

CYCLE_TIMEOUT = 30  # seconds for a cycle to show up complete in the trace


def host_state(alive_clickable):
    """Whether each host button can be clicked, given whether an alive host's
    can (None: no verdict shown, nothing clickable)."""
    return {name: (False if alive_clickable is None else not ALIVE[name]) for name in HOSTS}


def expect_clickable(quorvel, hosts, mask, when, timeout=10):
    """Waits until host and command buttons can be clicked as expected."""
    expected = dict(hosts)
    expected.update(clickable_commands(mask))
    try:
        wait_until(lambda: quorvel.clickable() == expected, timeout, when)
    except Failure:
        raise Failure(f"{when}: clickable {quorvel.clickable()}, expected {expected}")


def check_cycle(cycle, expected, what):
    text = cycle.normalised()
    if text != expected:
        raise Failure(f"{what}: the trace of the cycle was\n{text}\nexpected\n{expected}")
    pids = cycle.pids()
    if len(set(pids)) != len(pids) or min(pids) <= 0:
        raise Failure(f"{what}: probe process ids {pids} are not distinct and positive")


def wait_cycles(quorvel, count, what, by_update=False):
    """The cycles in the trace, once there are at least count of them (of
    them started by UPDATE, with by_update)."""
    def enough():
        found, _ = cycles(quorvel.lines(), HOSTNUM)
        counted = [c for c in found if c.by_update] if by_update else found
        return found if len(counted) >= count else None

    return wait_until(enough, CYCLE_TIMEOUT, what)


def update(quorvel, count, what):
    """Clicks UPDATE and checks the cycle it runs, the count-th one started
    by UPDATE: its trace, the title while it runs, the buttons after it."""
    with TitleWatch(quorvel) as watch:
        quorvel.click("UPDATE")
        found = wait_cycles(quorvel, count, what, by_update=True)
        expect_clickable(quorvel, host_state(False), MANUAL, f"after {what}")
        watch.wait_for(IDLE_TITLE, CYCLE_TIMEOUT, f"the title back to {IDLE_TITLE} after {what}")
    cycle = [c for c in found if c.by_update][count - 1]
    check_cycle(cycle, UPDATE_CYCLE, what)
    check_titles_of_update(watch.seen(), cycle, what)
    if quorvel.frame.name != IDLE_TITLE:
        raise Failure(f"after {what} the window is named {quorvel.frame.name!r}")
    return cycle


def finish(quorvel, updates, ticks):
    """Clicks EXIT; then the whole trace must be the cycles of UPDATE, at most
    the given number of cycles of the timer, and the lines of EXIT."""
    status = quorvel.exit()
    if status != 0:
        raise Failure(f"exit status {status}")
    found, rest = cycles(quorvel.lines(), HOSTNUM)
    if [text for _, text in rest] != QUIT_TRACE.splitlines():
        raise Failure(f"after the last cycle the trace holds {[t for _, t in rest]}")
    count = len([c for c in found if c.by_update])
    if count != updates:
        raise Failure(f"{count} cycles started by UPDATE, expected {updates}")
    check_ticks(found, quorvel, ticks)


def check_titles_of_update(readings, cycle, what):
    """The title shows the estimate from before the probes start until their
    verdicts come, and HOST STATUS before and after."""
    titles = [title for _, _, title in readings]
    runs = [t for k, t in enumerate(titles) if k == 0 or titles[k - 1] != t]
    if runs and runs[0] == IDLE_TITLE:
        runs = runs[1:]
    if runs != [ESTIMATE_TITLE, IDLE_TITLE]:
        raise Failure(f"{what}: titles in turn {runs}, expected {ESTIMATE_TITLE!r} "
                      f"then {IDLE_TITLE!r}")
    shown = [(start, end) for start, end, title in readings if title == ESTIMATE_TITLE]
    if shown[0][1] > cycle.last("child processId="):
        raise Failure(f"{what}: the estimate came only after every probe had started")
    if shown[-1][0] < cycle.first("PipeServer:"):
        raise Failure(f"{what}: the estimate was gone before the first verdict came")


def check_idle_titles(readings, what):
    seen = sorted({title for _, _, title in readings})
    if seen != [IDLE_TITLE]:
        raise Failure(f"{what}: titles seen {seen}, expected only {IDLE_TITLE!r}")


def enter_manual(quorvel):
    quorvel.click("MANUAL")
    expect_clickable(quorvel, host_state(None), MANUAL, "after MANUAL")


def check_ticks(found, quorvel, allowed):
    """Cycles the probe timer ran: at most `allowed`, each at least 20 s after
    the start (the timer is armed at start-up and ticks every 20 s)."""
    ticks = [c for c in found if not c.by_update]
    if len(ticks) > allowed:
        raise Failure(f"{len(ticks)} cycles of the probe timer, at most {allowed} expected")
    for tick in ticks:
        if tick.start < quorvel.launched + 20:
            raise Failure(f"a timer cycle {tick.start - quorvel.launched:.1f} s after start")
        check_cycle(tick, TICK_CYCLE, "a cycle of the probe timer")


def run(case, summary):
    """The frame of a case's program: argv is QUORVEL ICON; the lab's
    description comes in the environment (quorveltest.lab)."""
    if len(sys.argv) != 3:
        print(f"usage: {os.path.basename(sys.argv[0])} QUORVEL ICON", file=sys.stderr)
        return 2
    return outcome(lambda: case(sys.argv[1], sys.argv[2]), summary)
