#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""quorvel-scan on the lab network (quorveltest.lab), run only inside the
lab's monitor namespace, whose networks are the lab's LANs and nothing else:

  10.200.1.0/24  the echo namespace's card, holding 10.200.1.2 to .4
  10.200.2.0/24  the responder namespace's router address 10.200.2.2
  10.200.5.0/24  the quiet host 10.200.5.2, which ignores ping

On Linux the scan runs as user nobody: it needs no privilege.
The monitor namespace's ./hostlist lists 10.200.1.2 already (with another
hardware address: the address is what counts), and a hosts file of the
namespace's own gives 10.200.1.3 the reverse name fileserver.lab.example.
The scan must print its first line and then exactly the other present hosts
with their real hardware addresses, sorted by address, the quiet one
included, and not a host long gone whose stale entry the table still
holds; appended to ./hostlist, quorvel's reader (hostlistdump) must take
the old hosts and every scanned line but the first as its host. -h prints the usage; a datagram that the
system refuses (a prohibit route) and, on Linux, a network namespace with no
network (the test's own) end the scan with exit status 1 and nothing printed
to standard output.

With --wine, quorvel-scan.exe runs under Wine in the same lab and must print
the same lines (apart from the first line's time), the ones the Linux
program prints, as both are held to the one expectation below.

Needs root (exit 77 without).

  scan_lab_test.py [--wine WINE] QUORVEL-SCAN [--hostlistdump HOSTLISTDUMP]
"""
import argparse
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile

from quorveltest import Results, skip
from quorveltest import lab as netlab

LISTED = "10.200.1.2"
NAMED = ("10.200.1.3", "fileserver.lab.example", "fileserver")
NETWORKS = "10.200.1.0/24 10.200.2.0/24 10.200.5.0/24"
# The machine's name as the first line gives it (the lab's namespaces share
# the machine's own), so that the Linux and Windows lines differ in the time
# alone.
MACHINE = re.sub(r"[^A-Za-z0-9._-]", "", socket.gethostname())[:64]
HEADER = re.compile(re.escape("# quorvel-scan" + (f" on {MACHINE}" if MACHINE else "") + " at ")
                    + r"\d{4}-\d\d-\d\d \d\d:\d\d:\d\d UTC"
                    + re.escape(f", networks {NETWORKS}"))
NOBODY = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"]
# An address of the quiet host's LAN that the monitor namespace may not send to.
PROHIBITED = "10.200.5.77"
HOSTLIST = f"# the lab's hosts\npc2 {LISTED} 02:00:00:00:00:99\n"
GONE = "10.200.1.250"


def hostline(label, address, mac):
    return f"{label.ljust(10)} {address.ljust(15)} {mac}"


def expected_lines(lab):
    echo = lab.hardware_address(lab.echo, "eth0")
    present = [(a, echo) for a in lab.echo_addresses if a != LISTED]
    present += [("10.200.2.2", lab.hardware_address(lab.responder, "eth0")),
                (lab.quiet_address, lab.hardware_address(lab.quiet, "eth0"))]
    present.sort(key=lambda host: tuple(int(n) for n in host[0].split(".")))
    names = {NAMED[0]: NAMED[2]}
    return [hostline(names.get(a, "pc" + a.split(".")[3]), a, mac) for a, mac in present]


class NamespaceFiles:
    """/etc/netns/<namespace>/: files that `ip netns exec` mounts over those of
    /etc for the programs it starts there. Removed again on leaving."""

    def __init__(self, namespace, files):
        self.top = "/etc/netns"
        self.made_top = not os.path.isdir(self.top)
        self.directory = os.path.join(self.top, namespace)
        os.makedirs(self.directory, mode=0o755)
        for name, text in files.items():
            with open(os.path.join(self.directory, name), "w") as f:
                f.write(text)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        shutil.rmtree(self.directory, ignore_errors=True)
        if self.made_top:
            try:
                os.rmdir(self.top)
            except OSError:
                pass


def dump(hostlistdump, text):
    """What quorvel's reader makes of a host list: its rows."""
    with tempfile.TemporaryDirectory(prefix="quorvel-scan-dump-") as where:
        with open(os.path.join(where, "hostlist"), "w") as f:
            f.write(text)
        done = subprocess.run([hostlistdump], cwd=where, capture_output=True, text=True,
                              timeout=60)
    return done.stdout.splitlines()


def dumprow(line):
    """hostlistdump's row for one of the scan's lines (labels cut as quorvel cuts them)."""
    label, address, mac = line.split()
    return f"{label if len(label) < 7 else label[:6] + '.'}\t{address}  {mac}"


def check_output(results, what, run, lines):
    out = run.stdout.replace("\r\n", "\n").splitlines()
    results.check(f"[{what}] exit status 0", run.returncode == 0,
                  f"{run.returncode}: {run.stderr[-2000:]}")
    header_ok = bool(out) and HEADER.fullmatch(out[0]) is not None
    results.check(f"[{what}] first line says when, where and which networks", header_ok,
                  out[:1])
    results.record(f"[{what}] the present hosts not listed yet, sorted, with their hardware "
                   "addresses", [] if out[1:] == lines else [f"expected {lines}"], out[1:])
    return out


def scan(lab, argv, work):
    return lab.run(argv, cwd=work, capture_output=True, text=True, timeout=120,
                   errors="replace")


def unprivileged(program, work):
    """The command line that runs a copy of the program as user nobody, who
    may read the copy and the working directory and nothing of root's."""
    os.chmod(work, 0o755)
    copy = os.path.join(work, os.path.basename(program))
    shutil.copy2(program, copy)
    os.chmod(copy, 0o755)
    return NOBODY + [copy]


def errors(results, lab, args, argv, work, what):
    """-h, a datagram the system refuses (a prohibit route in the lab) and,
    on Linux, a namespace without any network."""
    usage = lab.run(argv + ["-h"], capture_output=True, text=True, timeout=60, errors="replace")
    results.check(f"[{what} -h] usage on standard output, exit status 0",
                  usage.returncode == 0 and usage.stdout.startswith("Usage: quorvel-scan"),
                  f"{usage.returncode}: {usage.stdout[:200]!r}")
    lab.run(["ip", "route", "add", "prohibit", f"{PROHIBITED}/32"], check=True)
    refused = scan(lab, argv, work)
    results.check(f"[{what}, a send refused] exit status 1, the address on standard error, "
                  "nothing on standard output", refused.returncode == 1 and not refused.stdout
                  and f"sending to {PROHIBITED} port 9 was refused" in refused.stderr,
                  f"{refused.returncode}: {refused.stderr[-500:]!r} {refused.stdout[:200]!r}")
    if not args.wine:
        # A network namespace of its own, with nothing but its loopback.
        alone = subprocess.run(["unshare", "--net", "--", args.scan], cwd=work,
                               capture_output=True, text=True, timeout=60)
        results.check("[no network] exit status 1, said on standard error, nothing on standard "
                      "output", alone.returncode == 1 and not alone.stdout
                      and "no IPv4 network" in alone.stderr,
                      f"{alone.returncode}: {alone.stderr[-500:]!r}")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("scan")
    parser.add_argument("--wine")
    parser.add_argument("--hostlistdump")
    args = parser.parse_args()
    if not netlab.is_root():
        return skip("the lab's namespaces need root")
    if shutil.which("setpriv") is None:
        return skip("setpriv (util-linux) is missing")
    # ctest ends a test that runs too long with SIGTERM: take the lab down first.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    results = Results()
    what = "quorvel-scan.exe under Wine" if args.wine else "quorvel-scan"
    with netlab.Lab(echo_hosts=3, quiet_host=True) as lab, \
            tempfile.TemporaryDirectory(prefix="quorvel-scan-") as work, \
            NamespaceFiles(lab.monitor, {
                "hosts": f"127.0.0.1 localhost\n{NAMED[0]} {NAMED[1]} {NAMED[2]}\n",
                "nsswitch.conf": "passwd: files\ngroup: files\nshadow: files\nhosts: files\n",
            }):
        # The scan sends to every address of the namespace's networks: they
        # must be the lab's alone, with no way out of it.
        routes = lab.run(["ip", "-4", "route", "show"], capture_output=True, text=True,
                         check=True).stdout
        if "default" in routes or set(re.findall(r"^(\S+) dev", routes, re.M)) != {
                "10.200.1.0/24", "10.200.2.0/24", "10.200.5.0/24"}:
            raise RuntimeError(f"the lab's monitor namespace has other routes:\n{routes}")
        if args.wine:
            # A Wine prefix of the test's own, started inside the lab (see
            # tests/windows/onlab.py: Wine's service processes stay where the
            # prefix first started).
            os.environ["WINEPREFIX"] = os.path.join(work, "wineprefix")
            lab.run([args.wine, "wineboot", "-i"], capture_output=True, timeout=180, check=True)
            argv = [args.wine, args.scan]
        else:
            argv = unprivileged(args.scan, work)
        hostlist = os.path.join(work, "hostlist")
        with open(hostlist, "w") as f:
            f.write(HOSTLIST)
        lines = expected_lines(lab)
        if not args.wine:
            # A host the system knew once and that has gone since: its stale
            # entry lives on, until the scan's datagram has it probed and failed.
            # (Wine reads the kernel's table without its states: every entry
            # that has a hardware address is reachable there.)
            lab.run(["ip", "neigh", "replace", GONE, "lladdr", "02:00:00:00:00:fa", "dev", "lan0",
                     "nud", "stale"], check=True)
        try:
            run = scan(lab, argv, work)
            print(run.stderr, end="")
            out = check_output(results, what, run, lines)
            with open(hostlist, "a") as f:
                f.write("\n".join(out) + "\n")
            if args.hostlistdump:
                with open(hostlist) as f:
                    rows = dump(args.hostlistdump, f.read())
                want = [f"pc2\t{LISTED}  02:00:00:00:00:99"] + [dumprow(line) for line in lines]
                results.record("[quorvel-scan >> hostlist] quorvel reads the old hosts and the "
                               "new, and nothing else", [] if rows == want else
                               [f"expected {want}"], rows)
            errors(results, lab, args, argv, work, what)
        finally:
            if args.wine:
                lab.run(["wineserver", "-k"], capture_output=True, timeout=60)
    return results.exit_code()


if __name__ == "__main__":
    sys.exit(main())
