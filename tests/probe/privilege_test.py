#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""zendrik with its capability (cap_net_raw+p, as installed) run by another,
unprivileged user: what the kernel's secure execution lets it load, what it
still holds while it waits for an answer, and where it may send.

Every probe runs as that user (quorveltest.otheruser), inside the monitor
namespace of a lab built for this run (quorveltest.lab), as the child of
its probeparent.py, and inside a private mount namespace whose tmpfs
holds the echo library at the path fixed at install time (or holds it badly,
or not at all), so the real system's files are never touched. The real
library also lies beside the capable copy of zendrik, in a directory of
root's: a capable zendrik must not take it from there either.

Cases, one table each:
  loading     hard link (or copy) of the capable zendrik beside an attacker's
              library; the installed library, well or badly kept
  holding     the capabilities and no_new_privs of a probe that is waiting:
              for an echo reply, and for a name server that never answers
  broadcast   echo requests to the LAN's directed broadcast and to
              255.255.255.255: refused, so none reaches the LAN

Needs root, setcap, setpriv and unshare; exits 77 (skipped) without them.
Only addresses inside the lab.
"""

import argparse
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from quorveltest import Results, otheruser, skip
from quorveltest import lab as netlab

TIMEOUT = 1500
# Directories that hold the system's own libraries: never hidden under a
# tmpfs, even in a private mount namespace, or nothing could run there.
SYSTEM_LIBRARY_DIRS = {"/lib", "/lib64", "/usr/lib", "/usr/lib64", "/usr/lib32"}

# Sets the installed library up in the private mount namespace and then runs
# the rest of its arguments there. $1 the tmpfs's mount point (or
# "overlay:SCRATCH:DIR": an overlay over DIR, its changes on a tmpfs on
# SCRATCH), $2 the library's directory, $3 its mode, $4 the library to copy
# there ("" for none), $5 how to place it (copy or symlink), $6 its owner,
# $7 its mode.
INSTALL = r"""
set -e
case "$1" in
overlay:*)
  rest=${1#overlay:}
  scratch=${rest%%:*}
  root=${rest#*:}
  mount -t tmpfs -o mode=0755 quorvel-privilege-test "$scratch"
  mkdir "$scratch/upper" "$scratch/work"
  mount -t overlay -o "lowerdir=$root,upperdir=$scratch/upper,workdir=$scratch/work" \
    quorvel-privilege-test "$root"
  ;;
*)
  root=$1
  mount -t tmpfs -o mode=0755 quorvel-privilege-test "$root"
  ;;
esac
mkdir -p "$2"
chmod "$3" "$2"
if [ -n "$4" ]; then
  name=$(basename "$4")
  if [ "$5" = symlink ]; then
    cp "$4" "$root/.$name.real"
    ln -s "$root/.$name.real" "$2/$name"
  else
    cp "$4" "$2/$name"
    chown "$6" "$2/$name"
    chmod "$7" "$2/$name"
  fi
fi
shift 7
exec "$@"
"""


def installation(installed, scratch):
    """Where to mount the tmpfs for the installed library: on its directory
    when that exists (a real install is hidden, not changed), else on the
    parent; when the parent holds the system's libraries (a build configured
    for /usr), an overlay over it whose changes go to a tmpfs on `scratch`,
    which hides nothing. None when there is no parent."""
    directory = os.path.dirname(installed)
    if os.path.isdir(directory):
        return directory
    parent = os.path.dirname(directory)
    if not os.path.isdir(parent):
        return None
    if os.path.realpath(parent) in SYSTEM_LIBRARY_DIRS:
        return f"overlay:{scratch}:{parent}"
    return parent


class Setting:
    """How the installed library is kept: (directory mode, library or None,
    placing, owner, library mode)."""

    def __init__(self, library, dirmode="0755", placing="copy", owner="root", mode="0644"):
        self.library, self.dirmode, self.placing = library, dirmode, placing
        self.owner, self.mode = owner, mode


# A name server on the monitor's loopback that takes every question and
# answers none (for 60 s at most), and the resolv.conf that sends the probes'
# lookups to it, bound over the system's in the private mount namespace.
SILENT_RESOLVER = """
import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("127.0.0.1", 53))
s.settimeout(60)
for _ in range(1000):
    try:
        s.recv(512)
    except OSError:
        break
"""
STALL_LOOKUPS = r"""
printf 'nameserver 127.0.0.1\noptions timeout:4 attempts:1\n' > "$1/resolv.conf"
mount --bind "$1/resolv.conf" /etc/resolv.conf
shift
exec "$@"
"""
WITH_RESOLVER = '"$1" -c "$2" & sleep 0.5; shift 2; exec "$@"'


def probes_command(lab, args, setting, request, stall_lookups=False):
    mountpoint = installation(args.installed, args.scratch)
    parent = [sys.executable, netlab.PROBE_PARENT, request]
    inner = lab.command(parent)
    if stall_lookups:
        inner = ["sh", "-c", STALL_LOOKUPS, "sh", args.scratch,
                 *lab.command(["sh", "-c", WITH_RESOLVER, "sh", sys.executable,
                               SILENT_RESOLVER, *parent])]
    return ["unshare", "--mount", "--propagation", "private", "sh", "-c", INSTALL, "sh",
            mountpoint, os.path.dirname(args.installed), setting.dirmode,
            setting.library or "", setting.placing, setting.owner, setting.mode, *inner]


def request_for(zendrik, wrapper, probes):
    return netlab.probe_request(zendrik, wrapper, probes, limit=20)


def run_probe(lab, args, setting, zendrik, wrapper, host, timeout=TIMEOUT):
    request = request_for(zendrik, wrapper, [(7, host, timeout)])
    done = subprocess.run(probes_command(lab, args, setting, request), capture_output=True,
                          text=True, timeout=60)
    if done.returncode != 0:
        raise RuntimeError(f"probe parent failed: {done.stderr}")
    return json.loads(done.stdout)[0]


def check(results, label, result, exitcode, word, extra=()):
    results.record(label, list(extra) + netlab.probe_problems(result, exitcode, word),
                   f"exit {result['exit']}, pipe {result['bytes']!r}")


def loading_cases(lab, args, granted, attacked, stranger, marker, results):
    """(name, setting, zendrik, host, exit code, word)"""
    echo, silent = lab.echo_addresses[0], lab.silent_addresses[0]
    good = Setting(args.library)
    table = [
        ("attacker's copy, nothing installed", Setting(None), attacked, echo, 3, ""),
        ("attacker's copy, library installed", good, attacked, echo, 0, "alive"),
        ("installed library, host whose kernel answers", good, granted, echo, 0, "alive"),
        ("installed library, unassigned address", good, granted, silent, 0, "dead"),
        ("directory writable by others", Setting(args.library, dirmode="0777"), granted, echo,
         3, ""),
        ("directory writable by its group", Setting(args.library, dirmode="0775"), granted,
         echo, 3, ""),
        ("library owned by the other user", Setting(args.library, owner=str(stranger.uid)),
         granted, echo, 3, ""),
        ("library writable by others", Setting(args.library, mode="0646"), granted, echo, 3, ""),
        ("library is a symbolic link", Setting(args.library, placing="symlink"), granted, echo,
         3, ""),
    ]
    wrapper = stranger.wrap(["env", f"QUORVEL_ATTACKER_MARKER={marker}"])
    for name, setting, zendrik, host, exitcode, word in table:
        if os.path.exists(marker):
            os.unlink(marker)
        result = run_probe(lab, args, setting, zendrik, wrapper, host)
        extra = ["the attacker's library ran"] if os.path.exists(marker) else []
        check(results, f"[loading] {name} ({host})", result, exitcode, word, extra)


def probe_processes(uid):
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open(f"/proc/{entry}/status") as f:
                fields = dict(line.split(":", 1) for line in f if ":" in line)
            if fields["Name"].strip() == "zendrik" and int(fields["Uid"].split()[0]) == uid:
                found.append(int(entry))
        except (OSError, KeyError, ValueError):
            continue
    return found


def has_socket(pid):
    try:
        return any(os.readlink(f"/proc/{pid}/fd/{fd}").startswith("socket:")
                   for fd in os.listdir(f"/proc/{pid}/fd"))
    except OSError:
        return False


def status_of_waiting_probe(uid, deadline):
    """/proc/PID/status of the one probe of that user, read once it has its
    ICMP socket (it then waits seconds for an answer); None if it never had."""
    while time.monotonic() < deadline:
        pids = [p for p in probe_processes(uid) if has_socket(p)]
        if pids:
            # Its privilege is given up right after the socket is opened.
            time.sleep(0.3)
            try:
                with open(f"/proc/{pids[0]}/status") as f:
                    return dict((k, v.strip()) for k, v in
                                (line.split(":", 1) for line in f if ":" in line))
            except OSError:
                return None
        time.sleep(0.05)
    return None


def holding_cases(lab, args, granted, stranger, results):
    """(what the probe waits for, host, stall lookups, exit code, word). A
    name never counts as alive; one whose lookup fails ends the probe with 1."""
    table = [("an echo reply", lab.silent_addresses[1], False, 0, "dead"),
             ("a name server that never answers", "stalled.invalid", True, 1, "")]
    for waiting, host, stall, exitcode, word in table:
        request = request_for(granted, stranger.wrap([]), [(8, host, 3000)])
        parent = subprocess.Popen(
            probes_command(lab, args, Setting(args.library), request, stall_lookups=stall),
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        try:
            status = status_of_waiting_probe(stranger.uid, time.monotonic() + 10)
        finally:
            out, err = parent.communicate(timeout=60)
        if status is None:
            results.record(f"[holding] probe waiting for {waiting} found",
                           ["no probe with a socket"], err.strip())
            continue
        for key, expected in [("CapPrm", "0000000000000000"), ("CapEff", "0000000000000000"),
                              ("CapInh", "0000000000000000"), ("CapAmb", "0000000000000000"),
                              ("NoNewPrivs", "1")]:
            seen = status.get(key)
            results.record(f"[holding] {key} of a probe waiting for {waiting}",
                           [] if seen == expected else [f"expected {expected}"], seen)
        [result] = json.loads(out)
        check(results, f"[holding] verdict of the probe waiting for {waiting}", result,
              exitcode, word)


def echo_requests_received(lab):
    """Echo requests the echo namespace's kernel has taken in so far."""
    out = lab.run(["cat", "/proc/net/snmp"], namespace=lab.echo, capture_output=True,
                  text=True, check=True).stdout
    lines = [line.split() for line in out.splitlines() if line.startswith("IcmpMsg:")]
    counters = dict(zip(lines[0][1:], lines[1][1:])) if len(lines) == 2 else {}
    return int(counters.get("InType8", 0))


def broadcast_cases(lab, args, granted, stranger, results):
    # Without a route 255.255.255.255 would fail for want of one: this route
    # makes the kernel's refusal of a broadcast the only thing that stops it.
    # It leads onto the lab's LAN only.
    subprocess.run(["ip", "-n", lab.monitor, "route", "add", "255.255.255.255/32", "dev",
                    "lan0"], check=True)
    broadcast = lab.monitor_address.rsplit(".", 1)[0] + ".255"
    for name, host in [("directed broadcast of the LAN", broadcast),
                       ("limited broadcast", "255.255.255.255")]:
        before = echo_requests_received(lab)
        result = run_probe(lab, args, Setting(args.library), granted, stranger.wrap([]), host)
        arrived = echo_requests_received(lab) - before
        extra = [f"{arrived} echo request(s) reached the LAN"] if arrived else []
        check(results, f"[broadcast] {name} ({host})", result, 0, "dead", extra)


def granted_copy(zendrik, library, directory):
    """zendrik with cap_net_raw+p, and the real library beside it, in a
    directory of root's that every user may read."""
    os.chmod(directory, 0o755)
    granted = os.path.join(directory, "zendrik")
    shutil.copy2(zendrik, granted)
    shutil.copy2(library, os.path.join(directory, os.path.basename(library)))
    subprocess.run(["setcap", "cap_net_raw+p", granted], check=True)
    return granted


def attacker_copy(granted, attacker, directory, stranger):
    """The capable zendrik hard-linked (copied and granted again, across file
    systems) into a directory the other user owns, beside their library."""
    stranger.chown(directory)
    os.chmod(directory, 0o755)
    attacked = os.path.join(directory, "zendrik")
    try:
        os.link(granted, attacked)
    except OSError:
        shutil.copy2(granted, attacked)
        subprocess.run(["setcap", "cap_net_raw+p", attacked], check=True)
    library = os.path.join(directory, os.path.basename(attacker))
    shutil.copy2(attacker, library)
    stranger.chown(library)
    return attacked


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--zendrik", required=True)
    parser.add_argument("--library", required=True, help="the real echo library")
    parser.add_argument("--attacker", required=True, help="the attacker's echo library")
    parser.add_argument("--installed", required=True,
                        help="the echo library's path fixed at install time")
    args = parser.parse_args()
    if not netlab.is_root():
        return skip("needs root for users, capabilities and namespaces")
    for tool, package in [("setcap", "libcap2-bin"), ("setpriv", "util-linux"),
                          ("unshare", "util-linux"), ("useradd", "passwd")]:
        if shutil.which(tool) is None:
            return skip(f"{tool} ({package}) is missing")
    if not os.path.isdir(os.path.dirname(os.path.dirname(args.installed))):
        return skip(f"{args.installed} has no parent directory to stand it in under")
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    results = Results()
    with tempfile.TemporaryDirectory(prefix="zendrik-overlay-") as args.scratch, \
            tempfile.TemporaryDirectory(prefix="zendrik-granted-") as rootdir, \
            tempfile.TemporaryDirectory(prefix="zendrik-attacker-") as attackerdir, \
            otheruser.OtherUser() as stranger, netlab.Lab(echo_hosts=1) as lab:
        default_route = subprocess.run(["ip", "-n", lab.monitor, "route", "show", "default"],
                                       capture_output=True, text=True, check=True).stdout
        assert default_route.strip() == "", "the lab's monitor namespace must not reach out"
        # Raw sockets only: a ping socket would need no capability at all.
        lab.set_ping_group("1 0")
        granted = granted_copy(args.zendrik, args.library, rootdir)
        attacked = attacker_copy(granted, args.attacker, attackerdir, stranger)
        marker = os.path.join(attackerdir, "attacker-ran")
        loading_cases(lab, args, granted, attacked, stranger, marker, results)
        holding_cases(lab, args, granted, stranger, results)
        broadcast_cases(lab, args, granted, stranger, results)
    return results.exit_code()


if __name__ == "__main__":
    sys.exit(main())
