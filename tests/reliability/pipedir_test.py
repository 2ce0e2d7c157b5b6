#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Where a monitor keeps its result pipes when the user has no runtime
directory (/tmp), and what its sweep of killed monitors' leftovers may touch,
with another user and the user's own files in /tmp.

Each case runs the real dispatcher (cycledriver) and the real zendrik on
loopback in a private mount namespace whose /tmp is a tmpfs of its own, so
the machine's /tmp is never touched:

  crowded /tmp        100,000 files of another user in /tmp: one cycle stays
                      within its deadline and every verdict is right
  the user's files    a directory of the user's named like a pipe directory
                      (a source archive unpacked in /tmp) keeps every file;
                      in the pipe parent, a killed monitor's leftover goes,
                      and a look-alike keeps everything but its socket
  name taken          /tmp/quorvel-<uid> made first by another user: the
                      cycle still works, and nothing of theirs is touched

  pipedir_test.py CYCLEDRIVER            (--inside CASE CYCLEDRIVER UID GID)

Needs root; exits 77 (skipped) without it.
"""

import json
import os
import socket
import subprocess
import sys
import time

from quorveltest import Results, otheruser, skip

HOSTS = ["127.0.0.1", "127.0.0.2"]
TIMEOUT_MS = 500
CROWD = 100_000
OLD = time.time() - 120


def make_socket_file(path):
    with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
        s.bind(path)


def aged(*paths):
    for path in paths:
        os.utime(path, (OLD, OLD), follow_symlinks=False)


def files_under(top):
    return sorted(os.path.relpath(os.path.join(d, n), top)
                  for d, dirs, names in os.walk(top) for n in dirs + names)


def prepare(case, uid, gid):
    """Lays out /tmp for the case; returns what must still be there after it
    (path -> listing) and what must be gone."""
    keep, gone = {}, []
    parent = f"/tmp/quorvel-{os.geteuid()}"
    if case == "crowded":
        for k in range(CROWD):
            fd = os.open(f"/tmp/crowd{k}", os.O_CREAT | os.O_WRONLY, 0o644)
            os.fchown(fd, uid, gid)
            os.close(fd)
    elif case == "own_files":
        os.makedirs("/tmp/quorvel-master/build")
        with open("/tmp/quorvel-master/README.md", "w") as f:
            f.write("x\n")
        os.makedirs(parent, mode=0o700)
        for name in ("pipes-Left01", "pipes-Notes1"):
            os.mkdir(os.path.join(parent, name), 0o700)
            make_socket_file(os.path.join(parent, name, "\\\\.\\pipe\\mypipe0"))
        with open(os.path.join(parent, "pipes-Notes1", "notes.txt"), "w") as f:
            f.write("mine\n")
        aged("/tmp/quorvel-master", *(os.path.join(parent, n) for n in os.listdir(parent)))
        keep["/tmp/quorvel-master"] = ["README.md", "build"]
        keep[os.path.join(parent, "pipes-Notes1")] = ["notes.txt"]
        gone.append(os.path.join(parent, "pipes-Left01"))
    elif case == "name_taken":
        os.mkdir(parent, 0o755)
        os.mkdir(os.path.join(parent, "pipes-Theirs"), 0o700)
        make_socket_file(os.path.join(parent, "pipes-Theirs", "\\\\.\\pipe\\mypipe0"))
        for path in (os.path.join(parent, "pipes-Theirs", "\\\\.\\pipe\\mypipe0"),
                     os.path.join(parent, "pipes-Theirs"), parent):
            os.chown(path, uid, gid, follow_symlinks=False)
        aged(os.path.join(parent, "pipes-Theirs"))
        keep[parent] = ["pipes-Theirs", "pipes-Theirs/\\\\.\\pipe\\mypipe0"]
    return keep, gone


def inside(case, driver, uid, gid):
    """Runs in the private mount namespace: prepares /tmp, runs one cycle and
    reports what it saw as JSON."""
    subprocess.run(["mount", "-t", "tmpfs", "-o", "mode=1777", "pipedir-test", "/tmp"],
                   check=True)
    keep, gone = prepare(case, uid, gid)
    environment = {k: v for k, v in os.environ.items() if k != "XDG_RUNTIME_DIR"}
    run = subprocess.run([driver, "-q", "-V", "-t", str(TIMEOUT_MS), *HOSTS],
                         capture_output=True, text=True, timeout=60, env=environment)
    figures = [line for line in run.stderr.splitlines() if line.startswith("cycle ")]
    verdicts = [line for line in run.stderr.splitlines() if line.startswith("results:")]
    print(json.dumps({
        "exit": run.returncode, "stderr": run.stderr, "verdicts": verdicts,
        "ms": float(figures[0].split("ms=")[1].split()[0]) if figures else None,
        "kept": {path: files_under(path) if os.path.isdir(path) else None for path in keep},
        "expected": keep, "gone": [path for path in gone if os.path.exists(path)],
    }))
    return 0


def main():
    if sys.argv[1] == "--inside":
        return inside(sys.argv[2], sys.argv[3], int(sys.argv[4]), int(sys.argv[5]))
    if os.geteuid() != 0:
        return skip("a private /tmp needs root")
    driver = sys.argv[1]
    # What a cycle may take at most: the dispatcher's own allowance.
    deadline_ms = 20 * len(HOSTS) + TIMEOUT_MS + 4000
    results = Results()
    with otheruser.OtherUser() as stranger:
        for case in ("crowded", "own_files", "name_taken"):
            done = subprocess.run(
                ["unshare", "--mount", "--propagation", "private", sys.executable, __file__,
                 "--inside", case, driver, str(stranger.uid), str(stranger.gid)],
                capture_output=True, text=True, timeout=300)
            if done.returncode != 0:
                results.record(f"[{case}] ran", ["failed"], done.stderr.strip())
                continue
            seen = json.loads(done.stdout)
            results.check(f"[{case}] every verdict right",
                          seen["verdicts"] == ["results: 1 1"], seen["stderr"])
            results.check(f"[{case}] the cycle ended within its deadline",
                          seen["ms"] is not None and seen["ms"] < deadline_ms, f"{seen['ms']} ms")
            for path, expected in seen["expected"].items():
                results.check(f"[{case}] {path} keeps every file",
                              seen["kept"][path] == sorted(expected), f"{seen['kept'][path]}")
            results.check(f"[{case}] a killed monitor's leftover is swept", seen["gone"] == [],
                          f"{seen['gone']}")
    return results.exit_code()


if __name__ == "__main__":
    sys.exit(main())
