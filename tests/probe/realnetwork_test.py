#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""zendrik with the real echo library on a real network: a lab of network
namespaces built for this run (quorveltest.lab) with a host whose kernel
answers, unassigned addresses, an unreachable route and our own ICMP
responder. Every probe runs inside the lab's monitor namespace as the child
of quorveltest's probeparent.py, which holds its result pipe, so the verdict
word itself is checked, together with the exit code and the silence of the
probe. Each case runs with a raw ICMP socket (root, datagram sockets refused
by ping_group_range "1 0") and with a datagram ICMP socket (user nobody,
ping_group_range open); then 32 probes at once on raw sockets, each of which
must get its own verdict; then exit code 5 for a user who may open neither.
A zendrik granted cap_net_raw+p is tried in privilege_test.py.

Needs root; exits 77 (skipped) without it. Only addresses inside the lab.
"""

import argparse
import json
import os
import shutil
import signal
import stat
import subprocess
import sys
import tempfile

from quorveltest import Results, skip
from quorveltest import lab as netlab

NOBODY = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"]
TIMEOUT = 1500

RESPONDER = {
    "10.200.3.10": "reply",
    "10.200.3.11": "late:200",
    "10.200.3.12": "late:3500",
    "10.200.3.13": "size:31",
    "10.200.3.14": "size:64",
    "10.200.3.15": "from:10.200.3.99",
    "10.200.3.16": "error:3:1",
    "10.200.3.17": "error:3:1:10.200.3.17",
    "10.200.3.18": "error:11:0",
    "10.200.3.19": "error:3:3",
    "10.200.3.20": "decoy",
    "10.200.3.21": "silent",
}


def record(address, status=0, datasize=32):
    return f"replies=1 address={address} status={status} datasize={datasize}"


def no_record(lasterror):
    return f"replies=0 lasterror={lasterror}"


# What the echo library itself returns for each host: the first reply record,
# or the last error when none was stored.
RECORDS = {
    "10.200.1.2": record("10.200.1.2"),
    # ARP for an address no one holds fails after about 3 s; while the
    # kernel's neighbour entry stays failed (from an earlier probe of the same
    # address), a new request gets the kernel's own host-unreachable report at
    # once instead of a time-out. Either way no echo came back.
    "10.200.1.200": (no_record(11010), record("10.200.1.1", 11003, 0)),
    "10.200.4.1": no_record(11003),
    "10.200.3.10": record("10.200.3.10"),
    "10.200.3.11": record("10.200.3.11"),
    "10.200.3.12": no_record(11010),
    "10.200.3.13": record("10.200.3.13", datasize=31),
    "10.200.3.14": record("10.200.3.14", datasize=64),
    "10.200.3.15": record("10.200.3.99"),
    "10.200.3.16": record("10.200.2.2", 11003, 0),
    "10.200.3.17": record("10.200.3.17", 11003, 0),
    "10.200.3.18": record("10.200.2.2", 11013, 0),
    "10.200.3.19": record("10.200.2.2", 11005, 0),
    "10.200.3.20": record("10.200.3.20"),
    "10.200.3.21": no_record(11010),
}


def cases(lab):
    """(name, host text, time-out, exit code, pipe bytes)"""
    return [
        ("host whose kernel answers", lab.echo_addresses[0], TIMEOUT, 0, "alive"),
        ("same host written with leading zeros", "10.200.001.002", TIMEOUT, 0, "dead"),
        ("unassigned address on the LAN", lab.silent_addresses[0], TIMEOUT, 0, "dead"),
        ("address behind an unreachable route", lab.unreachable_addresses[0], TIMEOUT, 0,
         "dead"),
        ("responder answers at once", "10.200.3.10", TIMEOUT, 0, "alive"),
        ("responder answers within the time-out", "10.200.3.11", TIMEOUT, 0, "alive"),
        ("responder answers after the time-out", "10.200.3.12", TIMEOUT, 0, "dead"),
        ("reply with 31 data bytes", "10.200.3.13", TIMEOUT, 0, "dead"),
        ("reply with 64 data bytes", "10.200.3.14", TIMEOUT, 0, "dead"),
        ("reply from another address", "10.200.3.15", TIMEOUT, 0, "dead"),
        ("router reports host unreachable", "10.200.3.16", TIMEOUT, 0, "dead"),
        ("host itself reports host unreachable", "10.200.3.17", TIMEOUT, 0, "dead"),
        ("router reports TTL expired", "10.200.3.18", TIMEOUT, 0, "dead"),
        ("host reports port unreachable", "10.200.3.19", TIMEOUT, 0, "dead"),
        ("foreign answers first, then ours", "10.200.3.20", TIMEOUT, 0, "alive"),
        ("responder stays silent", "10.200.3.21", TIMEOUT, 0, "dead"),
        ("negative time-out does not wait", lab.silent_addresses[1], -5, 0, "dead"),
        ("host name, never equal to the reply address", "localhost", TIMEOUT, 0, "dead"),
        ("host name that cannot be resolved", "no-such-host.invalid", TIMEOUT, 1, ""),
        ("empty host text", "", TIMEOUT, 1, ""),
    ]


def run_probes(lab, zendrik, probes, wrapper=(), limit=30):
    done = lab.run([sys.executable, netlab.PROBE_PARENT,
                    netlab.probe_request(zendrik, wrapper, probes, limit)],
                   capture_output=True, text=True, timeout=limit + 30)
    if done.returncode != 0:
        raise RuntimeError(f"probe parent failed: {done.stderr}")
    return json.loads(done.stdout)


def check(results, label, result, exitcode, word):
    """A probe must also connect only to report, and print nothing."""
    problems = netlab.probe_problems(result, exitcode, word)
    if result["connected"] and not word:
        problems.append("connected although it must not report")
    if result["printed"]:
        problems.append(f"printed {result['printed']!r}")
    results.record(label, problems, f"exit {result['exit']}, pipe {result['bytes']!r}")


def compare(results, label, line, expected):
    """expected: the one right line, or a tuple of lines that are each right."""
    choices = expected if isinstance(expected, tuple) else (expected,)
    results.record(label, [] if line in choices else [f"expected {expected!r}"], line)


def nobody_copy(directory, *programs):
    """The programs and the echo library beside them, copied where user
    nobody may read and run them; the copies' paths."""
    os.chmod(directory, 0o755)
    source = os.path.dirname(os.path.abspath(programs[0]))
    names = [os.path.basename(p) for p in programs] + ["libicmpecho.so"]
    for name in names:
        target = os.path.join(directory, name)
        shutil.copy2(os.path.join(source, name), target)
        os.chmod(target, stat.S_IRWXU | stat.S_IRGRP | stat.S_IXGRP | stat.S_IROTH | stat.S_IXOTH)
    return [os.path.join(directory, name) for name in names[:-1]]


def run_records(lab, tool, hosts, wrapper=(), timeout=TIMEOUT):
    """probe_echorecord for every host at once; its output lines in order."""
    library = os.path.join(os.path.dirname(tool), "libicmpecho.so")
    children = [lab.popen(list(wrapper) + [tool, library, host, str(timeout)],
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
                for host in hosts]
    return [child.communicate(timeout=timeout / 1000 + 30)[0].strip() for child in children]


def record_cases(lab, tool, wrapper, mode, results):
    for host, expected in RECORDS.items():
        [line] = run_records(lab, tool, [host], wrapper)
        compare(results, f"[{mode}] reply record for {host}", line, expected)


def thirty_two_records(lab, tool, results):
    hosts = [list(RECORDS)[k % len(RECORDS)] for k in range(32)]
    for k, (host, line) in enumerate(zip(hosts, run_records(lab, tool, hosts))):
        compare(results, f"[32 at once] reply record {k} for {host}", line, RECORDS[host])


def single_cases(lab, zendrik, wrapper, mode, results):
    for name, host, timeout, exitcode, word in cases(lab):
        [result] = run_probes(lab, zendrik, [(3, host, timeout)], wrapper)
        check(results, f"[{mode}] {name} ({host}, -t {timeout})", result, exitcode, word)


def thirty_two_at_once(lab, zendrik, results):
    kinds = ([(a, "alive") for a in lab.echo_addresses[:8]]
             + [(a, "dead") for a in lab.silent_addresses[:4]]
             + [(a, "dead") for a in lab.unreachable_addresses[:4]])
    responder_word = {"10.200.3.10": "alive", "10.200.3.11": "alive", "10.200.3.20": "alive"}
    responders = sorted(RESPONDER)
    while len(kinds) < 32:
        address = responders[(len(kinds) - 16) % len(responders)]
        kinds.append((address, responder_word.get(address, "dead")))
    probes = [(index, host, 2000) for index, (host, _) in enumerate(kinds)]
    outcome = run_probes(lab, zendrik, probes)
    for (index, host, _), (_, word), result in zip(probes, kinds, outcome):
        check(results, f"[32 at once] probe {index} ({host})", result, 0, word)


def no_socket_at_all(lab, zendrik, results):
    lab.set_ping_group("1 0")
    [result] = run_probes(lab, zendrik, [(4, lab.echo_addresses[0], TIMEOUT)], NOBODY)
    check(results, "[nobody, no ping group] echo handle cannot be opened", result, 5, "")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--zendrik", required=True)
    parser.add_argument("--echorecord", required=True)
    args = parser.parse_args()
    if not netlab.is_root():
        return skip("the real-network tests need root to build network namespaces")
    if shutil.which("setpriv") is None:
        return skip("setpriv (util-linux) is missing")
    # ctest ends a test that runs too long with SIGTERM: take the lab down first.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    results = Results()
    with tempfile.TemporaryDirectory(prefix="zendrik-nobody-") as directory, \
            netlab.Lab(echo_hosts=8) as lab:
        default_route = subprocess.run(["ip", "-n", lab.monitor, "route", "show", "default"],
                                       capture_output=True, text=True, check=True).stdout
        assert default_route.strip() == "", "the lab's monitor namespace must not reach out"
        lab.start_responder(RESPONDER)
        zendrik_copy, echorecord_copy = nobody_copy(directory, args.zendrik, args.echorecord)

        lab.set_ping_group("1 0")
        record_cases(lab, args.echorecord, (), "raw socket", results)
        single_cases(lab, args.zendrik, (), "raw socket", results)
        lab.set_ping_group("0 2147483647")
        record_cases(lab, echorecord_copy, NOBODY, "datagram socket", results)
        single_cases(lab, zendrik_copy, NOBODY, "datagram socket", results)
        lab.set_ping_group("1 0")
        thirty_two_records(lab, args.echorecord, results)
        thirty_two_at_once(lab, args.zendrik, results)
        no_socket_at_all(lab, zendrik_copy, results)
    return results.exit_code()


if __name__ == "__main__":
    sys.exit(main())
