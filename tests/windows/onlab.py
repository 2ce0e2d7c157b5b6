#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The Windows programs under Wine on the lab network (quorveltest.lab),
Wine running inside the lab's monitor namespace so that nothing they send
leaves the lab:

  cycle         one cycle of cycledriver.exe and the real zendrik.exe over 32
                hosts: those whose kernel answers alive, unassigned addresses
                on the LAN and addresses behind the unreachable route dead;
                every probe reports its own verdict and ends with exit code 0
  wake-on-lan   wolsend.exe, the monitor's own sender on Windows Sockets, for
                a host at 10.200.1.20: exactly one datagram reaches the LAN's
                broadcast address 10.200.1.255 on port 9, the 102-byte magic
                packet (caught by quorveltest's wolreceiver.py in the
                echo namespace)

Wine does part of its work in service processes of its own (the ICMP echo
of ICMP.DLL among them), which run wherever the prefix was first started.
The test therefore makes a Wine prefix of its own, used only from inside the
lab, so that all of that prefix's processes start there; and it checks that
the echo requests of the answering hosts did reach the lab's echo namespace.

Needs root (exit 77 without).

  onlab.py WINE CYCLEDRIVER.EXE WOLSEND.EXE
"""
import os
import re
import sys
import tempfile

from quorveltest import skip
from quorveltest import lab as netlab

# Under Wine every process start costs tens of milliseconds of its own, so
# the probes are started a little further apart than quorvel's default.
PAUSE_MS = "100"
TIMEOUT_MS = "1500"


HWADDRESS = bytes([0x02, 0x00, 0x00, 0x01, 0x00, 0x14])


def cycle(lab, wine, driver):
    hosts = ([(a, 1) for a in lab.echo_addresses]
             + [(a, 0) for a in lab.silent_addresses[:12]]
             + [(a, 0) for a in lab.unreachable_addresses[:12]])
    run = lab.run([wine, driver, "-c", PAUSE_MS, "-t", TIMEOUT_MS, *[a for a, _ in hosts]],
                  capture_output=True, text=True, timeout=240, errors="replace")
    trace = run.stdout.replace("\r\n", "\n")
    words = re.findall(r"^PipeServer: (.*)$", trace, re.M)
    codes = re.findall(r"^exitCode=(.*)$", trace, re.M)
    results = re.findall(r"^results: (.*)$", trace, re.M)
    want_words = ["alive" if alive else "dead" for _, alive in hosts]
    want_results = " ".join(str(alive) for _, alive in hosts)
    failures = []
    if run.returncode != 0:
        failures.append(f"cycledriver.exe ended with {run.returncode}")
    if words != want_words:
        failures.append(f"the pipes delivered {words}, expected {want_words}")
    if codes != ["0/0"] * len(hosts):
        failures.append(f"exit codes {codes}, expected 0/0 for every probe")
    if results != [want_results]:
        failures.append(f"results {results}, expected [{want_results!r}]")
    if failures:
        print(trace, run.stderr[-2000:])
    else:
        print(f"cycle: 32 verdicts right: {want_results}")
    return failures


def wake_on_lan(lab, wine, wolsend):
    run, datagrams = netlab.datagrams_while(
        lab, lambda: lab.run([wine, wolsend, "10.200.1.20", HWADDRESS.hex(":")],
                             capture_output=True, text=True, timeout=60, errors="replace"))
    expected = (b"\xff" * 6 + HWADDRESS * 16).hex()
    got = [(d["destination"], d["source"][1] != 0, d["bytes"]) for d in datagrams]
    failures = []
    if run.returncode != 0:
        failures.append(f"wolsend.exe ended with {run.returncode}: {run.stderr[-500:]}")
    if got != [("10.200.1.255", True, expected)]:
        failures.append(f"received {got}, expected one magic packet to 10.200.1.255")
    if not failures:
        print(f"wake-on-lan: one magic packet of {len(expected) // 2} bytes to 10.200.1.255:9")
    return failures


def echo_requests_seen(lab):
    """The ICMP echo requests that the echo namespace's kernel has received."""
    snmp = lab.run(["cat", "/proc/net/snmp"], namespace=lab.echo, capture_output=True,
                   text=True, check=True).stdout.splitlines()
    names, values = [line.split() for line in snmp if line.startswith("Icmp:")][:2]
    return int(values[names.index("InEchos")])


def main():
    wine, driver, wolsend = sys.argv[1:4]
    if not netlab.is_root():
        return skip("the lab's namespaces need root")
    with netlab.Lab(echo_hosts=8) as lab, \
            tempfile.TemporaryDirectory(prefix="quorvel-wine-") as prefix:
        os.environ["WINEPREFIX"] = prefix
        try:
            lab.run([wine, "wineboot", "-i"], capture_output=True, timeout=180, check=True)
            before = echo_requests_seen(lab)
            failures = cycle(lab, wine, driver)
            if echo_requests_seen(lab) - before < len(lab.echo_addresses):
                failures.append("the echo requests did not reach the lab's echo namespace")
            failures += wake_on_lan(lab, wine, wolsend)
        finally:
            lab.run(["wineserver", "-k"], capture_output=True, timeout=60)
    for failure in failures:
        print("FAIL", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
