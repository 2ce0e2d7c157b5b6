#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The monitor's share of the benchmark: quorvel's peak memory over its probe
cycles and the processor time it spends in and between them.

Starts the real quorvel with a host list of the given addresses, switches it
to manual mode and runs its cycles by clicking UPDATE through AT-SPI, as a
user would. After MANUAL, the probe timer armed at start-up still ticks once
(20 s after the start) and runs one cycle before it removes itself; that
cycle is waited for and counted as the warm-up, so that every measured cycle
is one UPDATE and nothing else runs in between.

One run per process, on a display and session bus of its own (the
accessibility client caches the applications it has seen): it prints one JSON
line on standard output with:
  hwm_kb[k]       VmHWM (peak resident memory) after measured cycle k+1
  rss_kb[k]       VmRSS after measured cycle k+1
  cycle_cpu_ms[k] quorvel's own processor time from the click to the cycle's end
  child_cpu_ms[k] processor time of the cycle's probes (reaped children)
  cycle_ms[k]     wall time from the click to the cycle's last trace line
  alive[k]        hosts reported alive by the cycle
  idle_cpu_ms     quorvel's processor time over `idle` seconds after the last
                  cycle, with no click and no AT-SPI query in that time
  idle_switches   its context switches in that time (each is a wake-up)

Runs inside the lab's monitor namespace, for example:
  ip netns exec NS scripts/with-xvfb dbus-run-session -- \\
      /usr/bin/python3 bench/monitorbench.py --quorvel Q --icon I ADDRESS...
"""
import argparse
import json
import os
import sys
import time

from quorveltest import Failure, wait_until
from quorveltest.cycles import cycles
from quorveltest.window import Quorvel, WorkDir, clickable

TIMER_CYCLE_TIMEOUT = 60  # the leftover timer tick comes 20 s after the start
CYCLE_TIMEOUT = 30  # one cycle of 32 hosts lasts under 2 s at the defaults
SETTLE = 0.3  # seconds after a cycle's last trace line for its window updates
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


def hostlist(addresses):
    return "".join(f"h{i} {a} 02:00:00:00:00:{i:02x}\n" for i, a in enumerate(addresses))


def own_cpu_ns(pid):
    """Processor time of the process itself, in nanoseconds."""
    with open(f"/proc/{pid}/schedstat") as f:
        return int(f.read().split()[0])


def children_cpu_ms(pid):
    """User and system time of the children it has reaped (cutime, cstime)."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[13]) + int(fields[14])) * 1000.0 / CLOCK_TICKS


def status_kb(pid, key):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    raise Failure(f"no {key} in /proc/{pid}/status")


def switches(pid):
    return status_kb(pid, "voluntary_ctxt_switches") + status_kb(
        pid, "nonvoluntary_ctxt_switches")


def nth_cycle(quorvel, hosts, count, timeout):
    """The count-th probe cycle in quorvel's trace, once its last status line
    has come: doping prints it when the dispatcher has returned."""
    def found():
        complete, _ = cycles(quorvel.lines(), hosts)
        return complete[count - 1] if len(complete) >= count else None

    return wait_until(found, timeout, f"the end of cycle {count}")


def click(quorvel, name):
    if not quorvel.click(name):
        raise Failure(f"{name} refused its click")


def await_update(quorvel):
    wait_until(lambda: clickable(quorvel.button("UPDATE")), CYCLE_TIMEOUT, "UPDATE clickable")


def one_run(program, icon, addresses, cycles_wanted, idle):
    with WorkDir(hostlist(addresses), icon) as work, \
            Quorvel(program, work, ["-t", "1000", "-c", "20"]) as quorvel:
        quorvel.find_window()
        click(quorvel, "MANUAL")
        nth_cycle(quorvel, len(addresses), 1, TIMER_CYCLE_TIMEOUT)  # the timer's last tick
        time.sleep(SETTLE)
        await_update(quorvel)
        pid = quorvel.process.pid
        figures = {k: [] for k in ("hwm_kb", "rss_kb", "cycle_cpu_ms", "child_cpu_ms",
                                   "cycle_ms", "alive")}
        for k in range(cycles_wanted):
            cpu0, child0 = own_cpu_ns(pid), children_cpu_ms(pid)
            start = time.monotonic()
            click(quorvel, "UPDATE")
            cycle = nth_cycle(quorvel, len(addresses), k + 2, CYCLE_TIMEOUT)
            time.sleep(SETTLE)
            figures["cycle_cpu_ms"].append((own_cpu_ns(pid) - cpu0) / 1e6)
            figures["child_cpu_ms"].append(children_cpu_ms(pid) - child0)
            figures["cycle_ms"].append((cycle.end - start) * 1000.0)
            figures["alive"].append(sum(cycle.verdicts()))
            figures["hwm_kb"].append(status_kb(pid, "VmHWM"))
            figures["rss_kb"].append(status_kb(pid, "VmRSS"))
            await_update(quorvel)
        time.sleep(1.0)  # whatever the last query set off has finished by now
        cpu0, switches0 = own_cpu_ns(pid), switches(pid)
        time.sleep(idle)
        figures["idle_cpu_ms"] = (own_cpu_ns(pid) - cpu0) / 1e6
        figures["idle_switches"] = switches(pid) - switches0
        figures["idle_s"] = idle
        quorvel.exit()
        return figures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--quorvel", required=True)
    parser.add_argument("--icon", required=True)
    parser.add_argument("--cycles", type=int, default=10)
    parser.add_argument("--idle", type=float, default=10.0)
    parser.add_argument("addresses", nargs="+")
    args = parser.parse_args()
    try:
        figures = one_run(args.quorvel, args.icon, args.addresses, args.cycles, args.idle)
    except Failure as failure:
        print(f"monitorbench: {failure}", file=sys.stderr)
        return 1
    print(json.dumps(figures), flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
