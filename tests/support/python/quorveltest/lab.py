# SPDX-License-Identifier: GPL-3.0-or-later
"""A small test network built from network namespaces, for quorvel's tests,
demo and benchmark. Needs root. Everything it creates lives in namespaces
whose names carry a tag (by default the creating process's id), so two runs
side by side never meet, and `down` removes all of it.

Topology (addresses exist only inside these namespaces):

    monitor namespace  qvlab-<tag>-mon      run quorvel / zendrik here
      lan0  10.200.1.1/24 ---- eth0 in qvlab-<tag>-echo
      resp0 10.200.2.1/24 ---- eth0 in qvlab-<tag>-resp (10.200.2.2/24)
      route 10.200.3.0/24 via 10.200.2.2            (the responder's hosts)
      route unreachable 10.200.4.0/24               (sendto fails at once)
      no default route: nothing can leave the lab, not even a DNS query

    echo namespace     qvlab-<tag>-echo   holds 10.200.1.2 ... 10.200.1.(1+N);
                                          the kernel answers echo requests
    silent addresses   10.200.1.200 ... 10.200.1.254: on the LAN, held by no
                                          one (ARP goes unanswered)
      lan1  10.200.5.1/24 ---- eth0 in qvlab-<tag>-quiet (Lab(quiet_host=True))
    quiet namespace    qvlab-<tag>-quiet  holds 10.200.5.2 on a LAN of its own,
                                          with its own hardware address; it
                                          answers ARP but ignores echo requests
                                          (icmp_echo_ignore_all=1), as a PC whose
                                          firewall drops ping does
    responder namespace qvlab-<tag>-resp  kernel echo replies switched off
                                          (icmp_echo_ignore_all=1); our
                                          icmpresponder.py answers for the
                                          10.200.3.x addresses it is given,
                                          each with its own behaviour

Responder behaviours (see icmpresponder.py): reply, late:<ms>, size:<n>,
from:<a.b.c.d>, error:<type>:<code>[:<from>], decoy, silent.

Use from Python (with tests/support/python on PYTHONPATH):

    from quorveltest import lab as netlab
    with netlab.Lab(echo_hosts=4) as lab:          # up on enter, down on exit
        lab.start_responder({"10.200.3.10": "late:200"})
        lab.set_ping_group("1 0")                  # datagram ICMP refused
        lab.run(["zendrik", "-h", lab.echo_addresses[0]])   # in the monitor ns
    lab.monitor / lab.echo / lab.responder         namespace names
    lab.echo_addresses, lab.silent_addresses, lab.unreachable_addresses
    lab.quiet, lab.quiet_address                   with Lab(quiet_host=True)
    lab.hardware_address(namespace, device)        e.g. (lab.echo, "eth0")

Use from a shell (prints KEY=VALUE lines to eval):

    export PYTHONPATH=tests/support/python
    eval "$(python3 -m quorveltest.lab up --tag $$ --echo-hosts 4 \\
            --responder 10.200.3.10=late:200)"
    trap 'python3 -m quorveltest.lab down --tag $$' EXIT
    ip netns exec "$LAB_MONITOR" quorvel ...
    python3 -m quorveltest.lab sweep  # removes labs whose creating process is gone

Keys printed by `up`: LAB_MONITOR, LAB_ECHO, LAB_RESPONDER, LAB_ECHO_ADDRESSES,
LAB_SILENT_ADDRESSES, LAB_UNREACHABLE_ADDRESSES, LAB_RESPONDER_ADDRESSES
(lists separated by spaces), LAB_MONITOR_ADDRESS.
"""

import argparse
import json
import os
import re
import select
import signal
import subprocess
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
# Programs run inside the lab's namespaces: see each one's header.
PROBE_PARENT = os.path.join(HERE, "probeparent.py")
WOL_RECEIVER = os.path.join(HERE, "wolreceiver.py")
PREFIX = "qvlab-"

MONITOR_LAN = "10.200.1.1"
MONITOR_RESP = "10.200.2.1"
MONITOR_QUIET = "10.200.5.1"
QUIET_ADDRESS = "10.200.5.2"
# The echo namespace's one card, for every echo address: fixed, so that host
# lists can give the hardware address that really answers for them.
ECHO_HARDWARE_ADDRESS = "02:00:00:01:00:02"
RESPONDER_ROUTER = "10.200.2.2"
RESPONDER_NET = "10.200.3.0/24"
UNREACHABLE_NET = "10.200.4.0/24"
SILENT_ADDRESSES = [f"10.200.1.{k}" for k in range(200, 255)]
UNREACHABLE_ADDRESSES = [f"10.200.4.{k}" for k in range(1, 255)]
MAX_ECHO_HOSTS = 150
RESPONDER_READY_SECONDS = 10


def _ip(*args, check=True):
    return subprocess.run(["ip", *args], check=check, capture_output=True, text=True)


def _sysctl(namespace, key, value):
    path = "/proc/sys/" + key.replace(".", "/")
    subprocess.run(["ip", "netns", "exec", namespace, "sh", "-c", f'echo "$1" > "$2"', "sh",
                    value, path], check=True)


def namespaces():
    out = _ip("netns", "list", check=False).stdout
    return [line.split()[0] for line in out.splitlines() if line.strip()]


def is_root():
    return os.geteuid() == 0


class Lab:
    def __init__(self, tag=None, echo_hosts=4, quiet_host=False):
        self.tag = str(tag if tag is not None else os.getpid())
        if not re.fullmatch(r"[A-Za-z0-9_.]+", self.tag):
            raise ValueError(f"lab tag {self.tag!r}: letters, digits, '_' and '.' only")
        if not 1 <= echo_hosts <= MAX_ECHO_HOSTS:
            raise ValueError(f"echo hosts: 1 to {MAX_ECHO_HOSTS}")
        base = f"{PREFIX}{self.tag}-"
        self.monitor = base + "mon"
        self.echo = base + "echo"
        self.responder = base + "resp"
        self.quiet = base + "quiet" if quiet_host else None
        self.quiet_address = QUIET_ADDRESS if quiet_host else None
        self.echo_addresses = [f"10.200.1.{2 + k}" for k in range(echo_hosts)]
        self.silent_addresses = list(SILENT_ADDRESSES)
        self.unreachable_addresses = list(UNREACHABLE_ADDRESSES)
        self.monitor_address = MONITOR_LAN
        self.responder_addresses = {}
        self._responder_process = None

    # -- life cycle ---------------------------------------------------------

    def __enter__(self):
        self.up()
        return self

    def __exit__(self, *exc):
        self.down()

    def up(self):
        try:
            self._build()
        except BaseException:
            self.down()
            raise

    def _build(self):
        for ns in self._namespaces():
            _ip("netns", "add", ns)
            _ip("-n", ns, "link", "set", "lo", "up")
        _ip("-n", self.monitor, "link", "add", "lan0", "type", "veth", "peer", "name", "eth0",
            "netns", self.echo)
        _ip("-n", self.monitor, "link", "add", "resp0", "type", "veth", "peer", "name", "eth0",
            "netns", self.responder)
        _ip("-n", self.monitor, "addr", "add", f"{MONITOR_LAN}/24", "dev", "lan0")
        _ip("-n", self.monitor, "addr", "add", f"{MONITOR_RESP}/24", "dev", "resp0")
        _ip("-n", self.echo, "link", "set", "eth0", "address", ECHO_HARDWARE_ADDRESS)
        for address in self.echo_addresses:
            _ip("-n", self.echo, "addr", "add", f"{address}/24", "dev", "eth0")
        _ip("-n", self.responder, "addr", "add", f"{RESPONDER_ROUTER}/24", "dev", "eth0")
        for ns, dev in ((self.monitor, "lan0"), (self.monitor, "resp0"), (self.echo, "eth0"),
                        (self.responder, "eth0")):
            _ip("-n", ns, "link", "set", dev, "up")
        _ip("-n", self.monitor, "route", "add", RESPONDER_NET, "via", RESPONDER_ROUTER)
        _ip("-n", self.monitor, "route", "add", "unreachable", UNREACHABLE_NET)
        _sysctl(self.responder, "net.ipv4.icmp_echo_ignore_all", "1")
        # Error reports of our responder must not be held back by the rate limit.
        _sysctl(self.responder, "net.ipv4.icmp_ratelimit", "0")
        if self.quiet:
            _ip("-n", self.monitor, "link", "add", "lan1", "type", "veth", "peer", "name", "eth0",
                "netns", self.quiet)
            _ip("-n", self.monitor, "addr", "add", f"{MONITOR_QUIET}/24", "dev", "lan1")
            _ip("-n", self.quiet, "addr", "add", f"{QUIET_ADDRESS}/24", "dev", "eth0")
            _sysctl(self.quiet, "net.ipv4.icmp_echo_ignore_all", "1")
            for ns, dev in ((self.monitor, "lan1"), (self.quiet, "eth0")):
                _ip("-n", ns, "link", "set", dev, "up")
        self._wait_links_up()

    def _namespaces(self):
        return [ns for ns in (self.monitor, self.echo, self.responder, self.quiet) if ns]

    def hardware_address(self, namespace, device):
        """The hardware address of a device in one of the lab's namespaces,
        as quorvel's host list writes it (lower case, colons)."""
        out = _ip("-n", namespace, "-o", "link", "show", device).stdout
        return re.search(r"link/ether ([0-9a-f:]{17})", out).group(1)

    def _wait_links_up(self):
        links = 4 if self.quiet else 3  # lo, lan0, resp0 and lan1
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            out = _ip("-n", self.monitor, "-o", "link", "show", "up").stdout
            if out.count("LOWER_UP") >= links:
                return
            time.sleep(0.05)
        raise RuntimeError("lab links did not come up")

    def down(self):
        """Ends every process inside the lab's namespaces and removes them.
        Safe to call more than once and on a half-built lab."""
        self.stop_responder()
        present = set(namespaces())
        # The quiet namespace too when this object did not make it: a lab
        # taken down from the shell or by sweep() is known by its tag only.
        for ns in dict.fromkeys((*self._namespaces(), f"{PREFIX}{self.tag}-quiet")):
            if ns not in present:
                continue
            for pid in _ip("netns", "pids", ns, check=False).stdout.split():
                try:
                    os.kill(int(pid), signal.SIGKILL)
                except (ProcessLookupError, ValueError):
                    pass
            _ip("netns", "del", ns, check=False)

    # -- running things -----------------------------------------------------

    def command(self, argv, namespace=None):
        return ["ip", "netns", "exec", namespace or self.monitor, *argv]

    def run(self, argv, namespace=None, **kwargs):
        return subprocess.run(self.command(argv, namespace), **kwargs)

    def popen(self, argv, namespace=None, **kwargs):
        return subprocess.Popen(self.command(argv, namespace), **kwargs)

    def set_ping_group(self, group_range):
        """net.ipv4.ping_group_range of the monitor namespace: "1 0" refuses
        datagram ICMP sockets to everyone, "0 2147483647" allows them to all."""
        _sysctl(self.monitor, "net.ipv4.ping_group_range", group_range)

    # -- the responder ------------------------------------------------------

    def start_responder(self, behaviours, detach=False):
        """behaviours: {"10.200.3.x": "late:200", ...}. Gives the addresses to
        the responder namespace and starts icmpresponder.py there."""
        for address in behaviours:
            if not address.startswith("10.200.3.") or address == "10.200.3.0":
                raise ValueError(f"responder address {address} is not in {RESPONDER_NET}")
            if address not in self.responder_addresses:
                _ip("-n", self.responder, "addr", "add", f"{address}/32", "dev", "lo")
        self.responder_addresses.update(behaviours)
        self.stop_responder()
        argv = [sys.executable, os.path.join(HERE, "icmpresponder.py"),
                "--router", RESPONDER_ROUTER]
        argv += [f"{a}={b}" for a, b in sorted(self.responder_addresses.items())]
        process = self.popen(argv, namespace=self.responder, stdout=subprocess.PIPE,
                             start_new_session=detach, text=True)
        readable, _, _ = select.select([process.stdout], [], [], RESPONDER_READY_SECONDS)
        line = process.stdout.readline() if readable else ""
        if line.strip() != "ready":
            process.kill()
            process.wait()
            raise RuntimeError(f"icmp responder did not start: {line!r}")
        self._responder_process = process

    def stop_responder(self):
        process = self._responder_process
        self._responder_process = None
        if process is not None and process.poll() is None:
            process.terminate()
            try:
                process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()

    # -- description --------------------------------------------------------

    def describe(self):
        return {
            "LAB_MONITOR": self.monitor,
            "LAB_ECHO": self.echo,
            "LAB_RESPONDER": self.responder,
            "LAB_QUIET": self.quiet or "",
            "LAB_MONITOR_ADDRESS": self.monitor_address,
            "LAB_ECHO_ADDRESSES": " ".join(self.echo_addresses),
            "LAB_SILENT_ADDRESSES": " ".join(self.silent_addresses[:8]),
            "LAB_UNREACHABLE_ADDRESSES": " ".join(self.unreachable_addresses[:8]),
            "LAB_RESPONDER_ADDRESSES": " ".join(sorted(self.responder_addresses)),
        }


class Receiver:
    """wolreceiver.py listening on port 9 in a namespace (the echo namespace,
    where the LAN's broadcasts arrive), and the datagrams it has received as
    dicts of its JSON lines. Every datagram it took is in datagrams() once
    the block is left."""

    def __init__(self, namespace, lifetime=60):
        self.process = subprocess.Popen(
            ["ip", "netns", "exec", namespace, sys.executable, WOL_RECEIVER, "--lifetime",
             str(lifetime)], stdout=subprocess.PIPE, text=True)
        if self.process.stdout.readline().strip() != "ready":
            self.process.kill()
            self.process.wait()
            raise RuntimeError("the receiver on port 9 did not start")
        self._datagrams = []
        self._thread = threading.Thread(target=self._read, daemon=True)
        self._thread.start()

    def _read(self):
        for line in self.process.stdout:
            self._datagrams.append(json.loads(line))

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.process.kill()
        self.process.wait(timeout=10)
        self._thread.join(timeout=10)

    def datagrams(self):
        return list(self._datagrams)


def datagrams_while(lab, action, lifetime=60):
    """What action() returned, and the datagrams that reached port 9 in the
    lab's echo namespace while it ran."""
    with Receiver(lab.echo, lifetime) as receiver:
        result = action()
    return result, receiver.datagrams()


def probe_request(zendrik, wrapper, probes, limit=30):
    """probeparent.py's JSON for probes given as (index, host, time-out)."""
    return json.dumps({"zendrik": zendrik, "wrapper": list(wrapper), "limit": limit,
                       "probes": [{"index": index, "args": ["-i", str(index), "-h", host, "-t",
                                                            str(timeout)]}
                                  for index, host, timeout in probes]})


def probe_problems(result, exitcode, word):
    """What is wrong with one probe of probeparent.py's report, given the exit
    code and the pipe's bytes it should have."""
    problems = []
    if not result["ended"]:
        problems.append("still running at the limit")
    if result["exit"] != exitcode:
        problems.append(f"exit {result['exit']}, expected {exitcode}")
    if result["bytes"] != word:
        problems.append(f"pipe got {result['bytes']!r}, expected {word!r}")
    if word and not result["peer_is_probe"]:
        problems.append("verdict not from the probe itself")
    return problems


def sweep():
    """Removes labs whose creating process (the tag, when it is a pid) is gone."""
    removed = []
    for ns in namespaces():
        m = re.fullmatch(rf"{PREFIX}(\d+)-(mon|echo|resp|quiet)", ns)
        if m is None or os.path.exists(f"/proc/{m.group(1)}"):
            continue
        lab = Lab(tag=m.group(1))
        lab.down()
        removed.append(m.group(1))
    return sorted(set(removed))


def _main(argv):
    parser = argparse.ArgumentParser(description="quorvel's namespace test network")
    sub = parser.add_subparsers(dest="command", required=True)
    up = sub.add_parser("up", help="build a lab and print its description")
    up.add_argument("--tag", default=str(os.getppid()),
                    help="unique name part (default: the calling process's id)")
    up.add_argument("--echo-hosts", type=int, default=4)
    up.add_argument("--responder", action="append", default=[], metavar="ADDRESS=BEHAVIOUR")
    down = sub.add_parser("down", help="remove a lab and end everything running in it")
    down.add_argument("--tag", default=str(os.getppid()))
    sub.add_parser("sweep", help="remove labs left by processes that are gone")
    args = parser.parse_args(argv)
    if not is_root():
        print("netlab: needs root (network namespaces)", file=sys.stderr)
        return 2
    if args.command == "up":
        lab = Lab(tag=args.tag, echo_hosts=args.echo_hosts)
        lab.up()
        try:
            if args.responder:
                lab.start_responder(dict(item.split("=", 1) for item in args.responder),
                                    detach=True)
        except BaseException:
            lab.down()
            raise
        for key, value in lab.describe().items():
            print(f"{key}='{value}'")
        return 0
    if args.command == "down":
        Lab(tag=args.tag).down()
        return 0
    for tag in sweep():
        print(f"removed lab {tag}")
    return 0


if __name__ == "__main__":
    sys.exit(_main(sys.argv[1:]))
