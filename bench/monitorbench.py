#!/usr/bin/python3
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
import queue
import shutil
import subprocess
import sys
import tempfile
import threading
import time

import pyatspi

START_TIMEOUT = 60  # seconds for the window to appear on the accessibility bus
TIMER_CYCLE_TIMEOUT = 60  # the leftover timer tick comes 20 s after the start
CYCLE_TIMEOUT = 30  # one cycle of 32 hosts lasts under 2 s at the defaults
SETTLE = 0.3  # seconds after a cycle's last trace line for its window updates
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")


class Failure(Exception):
    pass


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


class Trace:
    """quorvel's standard output, read line by line on a thread of its own so
    that the pipe never fills."""

    def __init__(self, stream):
        self.lines = queue.Queue()
        threading.Thread(target=self._read, args=(stream,), daemon=True).start()

    def _read(self, stream):
        for line in stream:
            self.lines.put(line)
        self.lines.put(None)

    def cycle_end(self, hosts, timeout):
        """Waits for the last host's status line, which doping prints when the
        dispatcher has returned; returns how many hosts were alive."""
        deadline = time.monotonic() + timeout
        alive = 0
        last = f"{hosts - 1}:"
        while True:
            try:
                line = self.lines.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                raise Failure(f"no end of cycle within {timeout} s")
            if line is None:
                raise Failure("quorvel ended during a cycle")
            fields = line.strip().split(":")
            if len(fields) == 2 and fields[0].isdigit() and fields[1] in ("0", "1"):
                alive += fields[1] == "1"
                if line.startswith(last):
                    return alive


def find_window(process):
    deadline = time.monotonic() + START_TIMEOUT
    while time.monotonic() < deadline:
        if process.poll() is not None:
            raise Failure(f"quorvel ended early with status {process.returncode}")
        for app in pyatspi.Registry.getDesktop(0):
            try:
                if app is None or app.get_process_id() != process.pid:
                    continue
                for child in app:
                    if child is not None and child.getRole() == pyatspi.ROLE_FRAME:
                        return child
            except Exception:  # an application that went away while we looked
                continue
        time.sleep(0.3)
    raise Failure(f"no window of pid {process.pid} within {START_TIMEOUT} s")


def command_buttons(frame):
    found = pyatspi.utils.findAllDescendants(
        frame, lambda a: a is not None and a.getRole() == pyatspi.ROLE_PUSH_BUTTON)
    buttons = {b.name: b for b in found}
    for name in ("MANUAL", "UPDATE", "EXIT"):
        if name not in buttons:
            raise Failure(f"no {name} button")
    return buttons


def click(button):
    if not button.queryAction().doAction(0):
        raise Failure(f"{button.name} refused its click")


def await_clickable(button, timeout=CYCLE_TIMEOUT):
    deadline = time.monotonic() + timeout
    while not button.getState().contains(pyatspi.STATE_SENSITIVE):
        if time.monotonic() > deadline:
            raise Failure(f"{button.name} not clickable within {timeout} s")
        time.sleep(0.05)


def one_run(quorvel, icon, addresses, cycles, idle):
    work = tempfile.mkdtemp(prefix="quorvel-bench-")
    process = None
    try:
        with open(os.path.join(work, "hostlist"), "w") as f:
            f.write(hostlist(addresses))
        shutil.copy(icon, os.path.join(work, "quorvel64.ico"))
        env = dict(os.environ)
        env.pop("NO_AT_BRIDGE", None)  # the bridge is what puts the window on the bus
        process = subprocess.Popen([quorvel, "-t", "1000", "-c", "20"], cwd=work, env=env,
                                   stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        trace = Trace(process.stdout)
        buttons = command_buttons(find_window(process))
        click(buttons["MANUAL"])
        trace.cycle_end(len(addresses), TIMER_CYCLE_TIMEOUT)  # the timer's last tick
        time.sleep(SETTLE)
        await_clickable(buttons["UPDATE"])
        pid = process.pid
        figures = {k: [] for k in ("hwm_kb", "rss_kb", "cycle_cpu_ms", "child_cpu_ms",
                                   "cycle_ms", "alive")}
        for _ in range(cycles):
            cpu0, child0 = own_cpu_ns(pid), children_cpu_ms(pid)
            start = time.monotonic()
            click(buttons["UPDATE"])
            alive = trace.cycle_end(len(addresses), CYCLE_TIMEOUT)
            took = time.monotonic() - start
            time.sleep(SETTLE)
            figures["cycle_cpu_ms"].append((own_cpu_ns(pid) - cpu0) / 1e6)
            figures["child_cpu_ms"].append(children_cpu_ms(pid) - child0)
            figures["cycle_ms"].append(took * 1000.0)
            figures["alive"].append(alive)
            figures["hwm_kb"].append(status_kb(pid, "VmHWM"))
            figures["rss_kb"].append(status_kb(pid, "VmRSS"))
            await_clickable(buttons["UPDATE"])
        time.sleep(1.0)  # whatever the last query set off has finished by now
        cpu0, switches0 = own_cpu_ns(pid), switches(pid)
        time.sleep(idle)
        figures["idle_cpu_ms"] = (own_cpu_ns(pid) - cpu0) / 1e6
        figures["idle_switches"] = switches(pid) - switches0
        figures["idle_s"] = idle
        click(buttons["EXIT"])
        process.wait(timeout=30)
        return figures
    finally:
        if process is not None and process.poll() is None:
            process.kill()
            process.wait(timeout=10)
        shutil.rmtree(work, ignore_errors=True)


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
