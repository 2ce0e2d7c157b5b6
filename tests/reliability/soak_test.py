#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Soak: many probe cycles through the real dispatcher and the real zendrik
over 32 hosts of the lab network, half of them answering and half silent.

The cycle driver plays the monitor and reports after every cycle each host's
verdict, its open descriptors, its child processes (zombies included) and its resident memory.
Checks: every cycle gives every host its true verdict; descriptors stay what
they were after the first cycle; no child outlives its cycle; resident
memory does not grow once warmed up. Prints the figures before and after.

  soak_test.py CYCLEDRIVER [CYCLES]

Needs root for the lab's namespaces; exits 77 (skipped) without it. Sends
only to addresses inside the lab.
"""

import os
import re
import sys

from quorveltest import skip
from quorveltest import lab as netlab

HOSTS = 32
TIMEOUT_MS = 100  # silent hosts cost one time-out per cycle
WARMUP = 50  # cycles before memory is taken as settled
# Allocator pages that come and go between two measurements; a leak of even
# one small block per cycle exceeds it well before the last cycle.
RSS_SLACK_KB = 256
FIGURES = re.compile(r"cycle (\d+) ms=([\d.]+) fds=(-?\d+) children=(-?\d+) rss_kb=(-?\d+)")


def main():
    if os.geteuid() != 0:
        return skip("the lab's namespaces need root")
    driver = sys.argv[1]
    cycles = int(sys.argv[2]) if len(sys.argv) > 2 else 500
    with netlab.Lab(echo_hosts=HOSTS // 2) as lab:
        hosts = []
        for k in range(HOSTS // 2):
            hosts.append((lab.echo_addresses[k], 1))
            hosts.append((lab.silent_addresses[k], 0))
        run = lab.run(
            [driver, "-q", "-V", "-c", "0", "-t", str(TIMEOUT_MS), "-n", str(cycles),
             *[address for address, _ in hosts]],
            capture_output=True, text=True, timeout=900)
    if run.returncode != 0:
        print(f"cycle driver ended with {run.returncode}\n{run.stderr[-2000:]}")
        return 1
    want = "results: " + " ".join(str(alive) for _, alive in hosts)
    results = [line for line in run.stderr.splitlines() if line.startswith("results:")]
    figures = [tuple(float(g) for g in m.groups()) for m in FIGURES.finditer(run.stderr)]
    failures = []
    if len(results) != cycles or len(figures) != cycles:
        failures.append(f"{len(results)} results and {len(figures)} figure lines for {cycles} cycles")
    wrong = [n + 1 for n, line in enumerate(results) if line != want]
    if wrong:
        failures.append(f"{len(wrong)} cycles with a wrong verdict, the first: cycle {wrong[0]}: "
                        f"{results[wrong[0] - 1]} (want {want})")
    if figures:
        first, last = figures[0], figures[-1]
        fds = {int(f[2]) for f in figures}
        if fds != {int(first[2])}:
            failures.append(f"descriptors varied over the cycles: {sorted(fds)}")
        children = max(int(f[3]) for f in figures)
        if children != 0:
            failures.append(f"up to {children} child processes outlived their cycle")
        settled = max(f[4] for f in figures[:WARMUP])
        peak = max(f[4] for f in figures[WARMUP:]) if len(figures) > WARMUP else settled
        if peak > settled + RSS_SLACK_KB:
            failures.append(f"resident memory grew from {settled:.0f} kB (first {WARMUP} cycles) "
                            f"to {peak:.0f} kB")
        durations = sorted(f[1] for f in figures)
        print(f"{len(figures)} cycles over {HOSTS} hosts ({HOSTS // 2} answering, "
              f"{HOSTS // 2} silent), time-out {TIMEOUT_MS} ms, pause 0")
        print(f"before (cycle 1):  fds={first[2]:.0f} children={first[3]:.0f} "
              f"rss_kb={first[4]:.0f}")
        print(f"after (cycle {last[0]:.0f}): fds={last[2]:.0f} children={last[3]:.0f} "
              f"rss_kb={last[4]:.0f}")
        print(f"rss_kb: highest in the first {WARMUP} cycles {settled:.0f}, "
              f"highest after them {peak:.0f}")
        print(f"cycle ms: median {durations[len(durations) // 2]:.0f}, "
              f"longest {durations[-1]:.0f}")
    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
