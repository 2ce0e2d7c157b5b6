#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Attacks on a monitor's result pipes that need a monitor of their own: the
real dispatcher (cycledriver) and the real zendrik on the lab network, with
the pipes kept in a runtime directory made for the test.

  forger outside the PID namespace   the monitor runs in a PID namespace of
      its own; a process outside it (seen from inside as pid 0) writes
      "alive" into every pipe it can reach, as fast as it can. Silent hosts
      must stay silent.
  monitor killed mid-cycle           its probes must end with it, and the
      directory it leaves is swept away by the next monitor's cycle.

Needs root; exits 77 (skipped) without it. Only addresses inside the lab.
"""

import glob
import os
import select
import signal
import socket
import subprocess
import sys
import tempfile
import time

from quorveltest import Results, skip
from quorveltest import lab as netlab


def pipe_paths(runtime, monitor_pid, count):
    """Every place a result pipe of the monitor may be: the files in its
    pipe directories, and the abstract names that hold only its pid."""
    names = ["\\\\.\\pipe\\mypipe%d" % k for k in range(count)]
    paths = [os.path.join(d, n) for d in glob.glob(os.path.join(runtime, "quorvel", "pipes-*"))
             for n in names]
    return paths + ["\0quorvel/%d/%s" % (monitor_pid, n) for n in names]


def forge(runtime, monitor_pid, count):
    """Writes "alive" into every pipe it reaches until its input ends (60 s
    at most); then prints how many connections it made."""
    end, hits = time.monotonic() + 60, 0
    while time.monotonic() < end and not select.select([sys.stdin], [], [], 0)[0]:
        for path in pipe_paths(runtime, monitor_pid, count):
            with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
                s.setblocking(False)
                try:
                    s.connect(path)
                    s.send(b"alive")
                    hits += 1
                except OSError:
                    pass
    print(hits, flush=True)


def results_lines(stdout):
    return [line for line in stdout.splitlines() if line.startswith("results:")]


def forger_outside_pid_namespace(lab, driver, runtime, results):
    hosts = lab.silent_addresses[:4] + lab.echo_addresses[:1]
    cycles = 3
    # In the monitor's network namespace, where its abstract names would be.
    forger = lab.popen([sys.executable, os.path.abspath(__file__), "--forge", runtime, "1",
                        str(len(hosts))], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        # unshare --fork makes the driver pid 1 of the new namespace.
        run = lab.run(["unshare", "--pid", "--fork", "--", driver, "-c", "50", "-t", "800",
                       "-n", str(cycles), *hosts], capture_output=True, text=True, timeout=60,
                      env=dict(os.environ, XDG_RUNTIME_DIR=runtime))
    finally:
        hits = int(forger.communicate(timeout=70)[0] or 0)
    want = ["results: 0 0 0 0 1"] * cycles
    got = results_lines(run.stdout)
    results.check("[PID namespace] silent hosts stay silent while a stranger writes alive",
                  got == want, f"got {got}, exit {run.returncode}, stderr {run.stderr!r}")
    results.check("[PID namespace] the stranger did reach the pipes", hits > 0,
                  "the attack never connected: it proves nothing")


def children_of(pid):
    found = []
    for stat in glob.glob("/proc/[0-9]*/stat"):
        try:
            with open(stat) as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        if int(fields[1]) == pid:
            found.append(int(stat.split("/")[2]))
    return found


def is_zendrik(pid):
    try:
        with open(f"/proc/{pid}/cmdline", "rb") as f:
            return f.read().startswith(b"zendrik")
    except OSError:
        return False


def alive(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def monitor_killed_mid_cycle(lab, driver, runtime, results):
    # The responder's router takes ARP but ignores echo requests: its probes
    # wait out their whole time-out. A silent LAN address would not do, as
    # its failed ARP ends the probes after 3 s, and a monitor slow to start
    # them all (under load, under the sanitizers) might then have no probe,
    # and no pipe, left to be killed with.
    hosts = [netlab.RESPONDER_ROUTER] * 4
    environment = dict(os.environ, XDG_RUNTIME_DIR=runtime)
    monitor = lab.popen([driver, "-c", "0", "-t", "5000", *hosts], stdout=subprocess.DEVNULL,
                        env=environment)
    # ip netns exec runs the driver in its own place; its probes are the
    # children of that process.
    probes, deadline = [], time.monotonic() + 5
    while len(probes) < len(hosts) and time.monotonic() < deadline:
        probes = [p for p in children_of(monitor.pid) if is_zendrik(p)]
        time.sleep(0.02)
    time.sleep(0.2)  # into their echo
    results.check("[killed] the probes started", len(probes) == len(hosts), f"{probes}")
    monitor.send_signal(signal.SIGKILL)
    monitor.wait()
    left = glob.glob(os.path.join(runtime, "quorvel", "pipes-*"))
    time.sleep(0.5)
    survivors = [p for p in probes if alive(p)]
    results.check("[killed] no probe outlives its monitor", survivors == [],
                  f"still running: {survivors}")
    results.check("[killed] the monitor left its pipe directory behind", len(left) == 1, f"{left}")
    # The sweep leaves young directories alone (their maker may not have
    # locked them yet); this one is made to look old.
    for directory in left:
        os.utime(directory, (time.time() - 60, time.time() - 60))
    run = lab.run([driver, "-t", "200", *lab.echo_addresses[:1]], capture_output=True, text=True,
                  timeout=30, env=environment)
    results.check("[killed] the next monitor still probes", results_lines(run.stdout) ==
                  ["results: 1"], run.stdout)
    remaining = os.listdir(os.path.join(runtime, "quorvel"))
    results.check("[killed] the next cycle swept the leftover and left nothing",
                  remaining == [], f"{remaining}")


def main():
    if sys.argv[1] == "--forge":
        forge(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]))
        return 0
    if os.geteuid() != 0:
        return skip("the lab's namespaces need root")
    driver = sys.argv[1]
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    results = Results()
    with netlab.Lab(echo_hosts=2) as lab, tempfile.TemporaryDirectory() as runtime:
        os.chmod(runtime, 0o700)
        forger_outside_pid_namespace(lab, driver, runtime, results)
        left = os.listdir(os.path.join(runtime, "quorvel"))
        results.check("nothing left on disk after the cycles", left == [], f"{left}")
        monitor_killed_mid_cycle(lab, driver, runtime, results)
    return results.exit_code()


if __name__ == "__main__":
    sys.exit(main())
