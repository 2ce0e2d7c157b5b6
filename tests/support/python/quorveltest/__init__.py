# SPDX-License-Identifier: GPL-3.0-or-later
"""What quorvel's Python tests, its demo and its benchmark share.

ctest gives every Python test PYTHONPATH=tests/support/python; scripts/bench
and scripts/demo export the same. The modules:

  quorveltest          failures, results, skipping, waiting, the quit trace
  quorveltest.lab      the namespace test network (also a command line)
  quorveltest.window   the real quorvel driven through the accessibility bus
  quorveltest.cycles   quorvel's trace cut into probe cycles
  quorveltest.otheruser  a second, unprivileged user for a test's length

icmpresponder.py, probeparent.py and wolreceiver.py beside them are programs
that the lab runs inside its namespaces.
"""
import sys
import time

# ctest takes this exit code as "skipped", not as a failure.
SKIPPED = 77
# What quorvel prints when its window is closed: the last lines of every trace.
QUIT_TRACE = ("[parent process: delete_event] got a delete event from FrameWork.\n"
              "[parent process: delete_event] so I'll call a main_quit.\n")
POLL = 0.05


class Failure(Exception):
    pass


def skip(reason):
    """Says why the test cannot run here; the exit code that tells ctest."""
    print(f"SKIPPED: {reason}", flush=True)
    return SKIPPED


def wait_until(condition, timeout, what):
    """Polls condition() until it gives something true, and returns that."""
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() >= deadline:
            raise Failure(f"{what}: not within {timeout} s")
        time.sleep(POLL)


class Results:
    """Counts the checks of a test that goes on after a failed one, and
    prints one line for each as it is made."""

    def __init__(self):
        self.passed = 0
        self.failed = 0

    def record(self, label, problems, seen=None):
        shown = label if seen is None else f"{label}: {seen}"
        print(("ok   " if not problems else "FAIL ") + shown
              + ("" if not problems else "  <- " + "; ".join(problems)), flush=True)
        self.failed += bool(problems)
        self.passed += not problems
        return not problems

    def check(self, label, ok, detail=""):
        return self.record(label, [] if ok else [str(detail)])

    def exit_code(self):
        print(f"{self.passed} passed, {self.failed} failed", flush=True)
        return 0 if self.failed == 0 else 1


def outcome(action, summary):
    """Runs action(); on a Failure says what failed, else what passed. The
    exit code. Any other exception ends the program with its traceback."""
    started = time.monotonic()
    try:
        action()
    except Failure as failure:
        print(f"FAIL: {failure}", file=sys.stderr)
        return 1
    print(f"PASS ({time.monotonic() - started:.0f} s): {summary}", flush=True)
    return 0
