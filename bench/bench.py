#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""quorvel's benchmark: probe cycle wall time against its design floor and
against fping, one probe against ping, and the monitor's memory and
processor time. Needs root (the lab's namespaces). scripts/bench builds the
programs and calls this; every figure of the table is measured in one run.

    bench.py --bin BUILD/bin --repo REPO [--runs 5] [--probe-runs 21] [--output FILE]

Prints every single measurement as a "raw" line, then the table (Markdown).
All traffic stays inside the lab's namespaces (and their loopback).
"""
import argparse
import datetime
import json
import os
import re
import signal
import statistics
import subprocess
import sys

from quorveltest import Failure
from quorveltest import lab as netlab

HERE = os.path.dirname(os.path.abspath(__file__))

HOSTS = 32
TIMEOUT = 1000
PAUSES = (20, 0)
LOOPBACK = "127.0.0.1"
# A hardware address that nothing in the lab holds.
NOBODY = "02:00:00:00:ff:ff"


class Report:
    """Everything printed goes to standard output and, when asked, to a file."""

    def __init__(self, path):
        self.file = open(path, "w") if path else None

    def line(self, text=""):
        print(text, flush=True)
        if self.file:
            self.file.write(text + "\n")
            self.file.flush()


def summary(values):
    return statistics.median(values), min(values), max(values)


def fmt(values, unit="ms", digits=0):
    med, lo, hi = summary(values)
    return f"{med:.{digits}f} {unit} ({lo:.{digits}f}–{hi:.{digits}f})"


def machine():
    model = cores = "?"
    for line in subprocess.run(["lscpu"], capture_output=True, text=True).stdout.splitlines():
        key, _, value = line.partition(":")
        if key.strip() == "Model name":
            model = value.strip()
        elif key.strip() == "CPU(s)":
            cores = value.strip()
    return f"{model}, {cores} CPUs, Linux {os.uname().release}"


def load():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


class Bench:
    def __init__(self, lab, bindir, report):
        self.lab = lab
        self.bin = bindir
        self.report = report

    def meter(self, argv):
        """One program, start to exit, through runmeter in the monitor namespace."""
        run = self.lab.run([os.path.join(self.bin, "runmeter"), *argv], capture_output=True,
                           text=True, timeout=60)
        m = re.fullmatch(r"ms=([\d.]+) rss_kb=(\d+) exit=(\d+)\n", run.stdout)
        if run.returncode != 0 or m is None:
            raise Failure(f"runmeter {argv[0]}: {run.stdout!r} {run.stderr!r}")
        return float(m.group(1)), int(m.group(2)), int(m.group(3))

    def cycle(self, addresses, pause):
        """One cycle through the real dispatcher and zendrik: its wall time as
        the driver measures it around the dispatcher call, and how many hosts
        it found alive."""
        run = self.lab.run([os.path.join(self.bin, "cycledriver"), "-q", "-n", "1", "-c",
                            str(pause), "-t", str(TIMEOUT), *addresses], capture_output=True,
                           text=True, timeout=60)
        m = re.search(r"ms=([\d.]+) .*alive=(\d+)", run.stderr)
        if run.returncode != 0 or m is None:
            raise Failure(f"cycledriver: {run.stdout!r} {run.stderr!r}")
        return float(m.group(1)), int(m.group(2))

    def fping(self, addresses):
        return self.meter(["fping", "-c1", f"-t{TIMEOUT}", *addresses])

    def cycle_row(self, name, addresses, answering, pause, runs):
        expected = sum(a in answering for a in addresses)
        last_silent = max((i for i, a in enumerate(addresses) if a not in answering),
                          default=None)
        floor = len(addresses) * pause
        if last_silent is not None:
            floor = max(floor, last_silent * pause + TIMEOUT)
        # One of each first, untimed: the neighbour tables settle.
        self.cycle(addresses, pause)
        self.fping(addresses)
        ours, theirs, wrong = [], [], 0
        for k in range(runs):
            ms, alive = self.cycle(addresses, pause)
            fms, _, fexit = self.fping(addresses)
            ours.append(ms)
            theirs.append(fms)
            wrong += alive != expected
            self.report.line(f"raw cycle {name!r} pause={pause} run={k + 1} ours_ms={ms:.1f} "
                             f"alive={alive}/{len(addresses)} fping_ms={fms:.1f} "
                             f"fping_exit={fexit}")
        return {"name": name, "pause": pause, "ours": ours, "fping": theirs, "floor": floor,
                "wrong": wrong}

    def probe_alone(self, runs):
        zendrik = [os.path.join(self.bin, "zendrik"), "-h", LOOPBACK]
        ping = ["ping", "-c1", "-W1", "-s", "32", LOOPBACK]
        self.meter(zendrik)
        self.meter(ping)
        figures = {"zendrik": [], "ping": []}
        for k in range(runs):
            for name, argv in (("zendrik", zendrik), ("ping", ping)):
                ms, rss, code = self.meter(argv)
                figures[name].append((ms, rss))
                self.report.line(f"raw probe {name} run={k + 1} ms={ms:.3f} rss_kb={rss} "
                                 f"exit={code}")
        return figures

    def monitor(self, repo, runs, addresses):
        """quorvel driven through AT-SPI, one run per virtual display and bus."""
        argv = [os.path.join(repo, "scripts", "with-xvfb"), "dbus-run-session", "--",
                "/usr/bin/python3", os.path.join(HERE, "monitorbench.py"),
                "--quorvel", os.path.join(self.bin, "quorvel"),
                "--icon", os.path.join(self.bin, "quorvel64.ico"), *addresses]
        figures = []
        for k in range(runs):
            run = self.lab.run(argv, capture_output=True, text=True, timeout=300)
            lines = [line for line in run.stdout.splitlines() if line.startswith("{")]
            if run.returncode != 0 or len(lines) != 1:
                raise Failure(f"monitorbench run {k + 1}: {run.stderr[-2000:]}")
            figures.append(json.loads(lines[0]))
            self.report.line(f"raw monitor run={k + 1} {lines[0]}")
        return figures


def silence(lab, addresses):
    """Makes the silent addresses silent for good. Left to ARP, a silent
    address gets "host unreachable" 3 s after the first request that waits
    for it, and any later request queued behind that one fails with it: a run
    within 3 s of the last would end early and look faster than it is. With a
    fixed neighbour entry for a hardware address that nobody holds, every
    request leaves and none is ever answered."""
    for address in addresses:
        subprocess.run(["ip", "-n", lab.monitor, "neigh", "replace", address, "lladdr", NOBODY,
                        "nud", "permanent", "dev", "lan0"], check=True)


def cycle_table_rows(rows):
    out, verdicts = [], []
    for row in rows:
        med = statistics.median(row["ours"])
        fmed = statistics.median(row["fping"])
        label = f"cycle, {row['name']}, pause {row['pause']}"
        if row["floor"] > 0:
            ratio = med / row["floor"]
            ratio_text = f"{ratio:.3f}"
            met = ratio <= 1.05
            verdicts.append((f"{label}: ≤ 1.05 × floor", met))
        else:
            ratio_text = "n/a (floor 0)"
        against = med / fmed
        if row["pause"] == 0 and row["name"] == f"{HOSTS} answering":
            verdicts.append((f"{label}: faster than fping -c1", med < fmed))
        note = f" ({row['wrong']} runs with a wrong result)" if row["wrong"] else ""
        out.append(f"| {label} | {fmt(row['ours'])}{note} | {row['floor']} ms | {ratio_text} "
                   f"| fping -c1 -t{TIMEOUT}: {fmt(row['fping'])} | {against:.2f} |")
    return out, verdicts


def probe_table_rows(figures):
    z_ms = [f[0] for f in figures["zendrik"]]
    p_ms = [f[0] for f in figures["ping"]]
    z_kb = [f[1] for f in figures["zendrik"]]
    p_kb = [f[1] for f in figures["ping"]]
    zm, pm = statistics.median(z_ms), statistics.median(p_ms)
    zk, pk = statistics.median(z_kb), statistics.median(p_kb)
    out = [
        f"| one probe alone, loopback, start to exit: `zendrik -h {LOOPBACK}` "
        f"| {fmt(z_ms, digits=2)} | – | – | `ping -c1 -W1 -s 32`: {fmt(p_ms, digits=2)} "
        f"| {zm / pm:.2f} |",
        f"| one probe alone: peak resident memory | {fmt(z_kb, 'KiB')} | – | – "
        f"| ping: {fmt(p_kb, 'KiB')} | {zk / pk:.2f} |",
    ]
    return out, [("one zendrik no slower than one ping -c1", zm <= pm),
                 ("one zendrik no more resident memory than ping", zk <= pk)]


def monitor_table_rows(figures):
    first = [f["hwm_kb"][0] for f in figures]
    last = [f["hwm_kb"][-1] for f in figures]
    growth = [f["hwm_kb"][-1] / f["hwm_kb"][0] for f in figures]
    cpu = [statistics.median(f["cycle_cpu_ms"]) for f in figures]
    child = [statistics.median(f["child_cpu_ms"]) for f in figures]
    wall = [statistics.median(f["cycle_ms"]) for f in figures]
    idle = [f["idle_cpu_ms"] for f in figures]
    wakeups = [f["idle_switches"] for f in figures]
    idle_s = figures[0]["idle_s"]
    cycles = len(figures[0]["hwm_kb"])
    out = [
        f"| quorvel, {HOSTS} hosts: peak resident memory after the 1st cycle "
        f"| {fmt(first, 'KiB')} | – | – | – | – |",
        f"| quorvel: peak resident memory after the {cycles}th cycle | {fmt(last, 'KiB')} "
        f"| – | – | after the 1st | {statistics.median(growth):.3f} |",
        f"| quorvel: its own processor time per cycle | {fmt(cpu, 'ms', 1)} | – | – | – | – |",
        f"| quorvel: processor time of a cycle's {HOSTS} probes | {fmt(child, 'ms')} "
        f"| – | – | – | – |",
        f"| quorvel: cycle wall time (UPDATE click to last trace line, nice 19) "
        f"| {fmt(wall)} | – | – | – | – |",
        f"| quorvel: processor time between cycles ({idle_s:.0f} s idle) "
        f"| {fmt(idle, 'ms', 2)}, {fmt(wakeups, 'wake-ups')} | – | – | – | – |",
    ]
    return out, [
        (f"quorvel memory after {cycles} cycles within 10% of after the first",
         max(growth) <= 1.10),
        ("quorvel uses no processor time between cycles", max(idle) == 0 and max(wakeups) == 0),
    ]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--bin", required=True, help="directory of the optimised programs")
    parser.add_argument("--repo", required=True)
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--probe-runs", type=int, default=21)
    parser.add_argument("--monitor-runs", type=int, default=5)
    parser.add_argument("--output", help="also write everything printed into this file")
    args = parser.parse_args()
    if not netlab.is_root():
        print("bench: needs root (network namespaces)", file=sys.stderr)
        return 2
    if args.runs < 5 or args.monitor_runs < 5 or args.probe_runs < 5:
        print("bench: at least 5 runs of everything", file=sys.stderr)
        return 2
    # A plain kill must still remove the lab.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    report = Report(args.output)
    report.line(f"quorvel benchmark, {datetime.datetime.now().astimezone():%Y-%m-%d %H:%M %Z}")
    report.line(f"machine: {machine()}")
    report.line(f"load average at the start: {load()}")
    with netlab.Lab(echo_hosts=HOSTS) as lab:
        answering = lab.echo_addresses[:HOSTS]
        silent = lab.silent_addresses[:HOSTS]
        half = HOSTS // 2
        mixed = [a for pair in zip(answering[:half], silent[:half]) for a in pair]
        silence(lab, silent)
        bench = Bench(lab, args.bin, report)
        rows = []
        for name, addresses in ((f"{HOSTS} answering", answering), (f"{HOSTS} silent", silent),
                                (f"{half} answering + {half} silent, alternating", mixed)):
            for pause in PAUSES:
                rows.append(bench.cycle_row(name, addresses, set(answering), pause, args.runs))
        probes = bench.probe_alone(args.probe_runs)
        monitor = bench.monitor(args.repo, args.monitor_runs, answering)
    report.line(f"load average at the end: {load()}")
    report.line()
    report.line(f"Medians with (min–max): {args.runs} runs per cycle row (ours and fping "
                f"alternately), {args.probe_runs} per probe, {args.monitor_runs} monitor runs.")
    report.line()
    report.line("| measurement | ours | design floor | ours / floor | reference | "
                "ours / reference |")
    report.line("|---|---|---|---|---|---|")
    verdicts = []
    for part in (cycle_table_rows(rows), probe_table_rows(probes), monitor_table_rows(monitor)):
        for text in part[0]:
            report.line(text)
        verdicts += part[1]
    report.line()
    for text, met in verdicts:
        report.line(f"target {'met' if met else 'MISSED'}: {text}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
