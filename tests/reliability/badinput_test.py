#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The real quorvel started on host lists and icons that are not what they
should be: random bytes, NUL bytes inside lines, 10 MB, a directory, a FIFO,
a link to /dev/zero, a file without read permission, a file rewritten while
it is read; an icon of garbage bytes, an empty one, a directory, a FIFO, one
past the size limit. What the reader makes of each host list byte for byte is
tested in C++ (tests/monitor/hostlist_test.cpp,
tests/reliability/hostlist_fault_test.cpp); here the window must show exactly
those rows, and a bad icon must be reported on standard error.

For each case quorvel starts in a fresh directory, on a virtual display and
a session bus of the case's own; its window must appear on the accessibility
bus with exactly the host buttons of the rows that could be read (by name and
by the address and hardware address in their tooltips) and the five command
buttons, and EXIT must end it with status 0 and its usual trace: it started,
answered and obeyed.

  badinput_test.py QUORVEL ICON HOSTLISTDUMP [CASE...]

ctest runs each case as a test of its own (reliability_bad_input_<case>).
Each case runs this script again (--observe) under scripts/with-xvfb and
dbus-run-session, which starts quorvel and reports the buttons it found. The
file without read permission is read by the user nobody when the test runs
as root (root may read any file): that case observes as nobody.
"""
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile
import threading
import time

import quorveltest
from quorveltest import QUIT_TRACE, Failure, Results
from quorveltest.window import COMMANDS, EXIT_TIMEOUT, START_TIMEOUT, find_frame, push_buttons

NOBODY = 65534


def host(name, n):
    """A host line on loopback and the button it makes: (name, tooltip)."""
    line = f"{name} 127.0.0.{n} 02:00:00:00:00:{n:02x}\n"
    return line, (name, f"127.0.0.{n}  02:00:00:00:00:{n:02x}")


def write(path, data, mode=0o644):
    with open(path, "wb") as f:
        f.write(data.encode("latin-1") if isinstance(data, str) else data)
    os.chmod(path, mode)


# -- the cases: each prepares a directory and says which buttons it expects --
# The directory holds the icon already, except in the cases of bad icons.
# A case returns a list of (name, tooltip), "dump" when the reader's own
# table (hostlistdump) is the expectation, or a callable that judges the
# buttons shown.

def case_random_bytes(work):
    first, pc0 = host("pc0", 1)
    last, pc9 = host("pc9", 9)
    noise = random.Random(6).randbytes(65536)
    write(os.path.join(work, "hostlist"), first.encode() + noise + b"\n" + last.encode())
    return "dump", [pc0, pc9]


def case_nul_bytes(work):
    a, pc0 = host("pc0", 1)
    b, _ = host("pc\0" + "1", 2)
    c = "pc2 127.0.0.3\0 02:00:00:00:00:03\n"
    d, pc3 = host("pc3", 4)
    d = d.replace("\n", "\0 and a remark\n")
    write(os.path.join(work, "hostlist"), a + b + c + d)
    return [pc0, pc3]


def case_ten_megabytes(work):
    last, pc7 = host("last", 7)
    junk = ("junk 127.0.1 02:00:00:00:00:00 " + "x" * 67 + "\n") * 100_000
    write(os.path.join(work, "hostlist"), junk + last)
    return [pc7]


def case_directory(work):
    os.mkdir(os.path.join(work, "hostlist"))
    return []


def case_fifo(work):
    os.mkfifo(os.path.join(work, "hostlist"))  # no writer ever comes
    return []


def case_dev_zero(work):
    os.symlink("/dev/zero", os.path.join(work, "hostlist"))
    return []


def case_no_read_permission(work):
    line, _ = host("secret", 1)
    write(os.path.join(work, "hostlist"), line, 0o600 if os.geteuid() == 0 else 0o000)
    return []


def case_rewritten_while_read(work):
    versions = []
    shown = set()
    for prefix, net, count in (("a", 1, 10), ("b", 2, 5)):
        text = ""
        for k in range(count):
            n = 10 + k
            text += f"{prefix}{k} 127.0.{net}.{n} 02:00:00:00:{net:02x}:{n:02x}\n"
            shown.add(f"{prefix}{k}")
        versions.append(text.encode())
    path = os.path.join(work, "hostlist")
    write(path, versions[0])
    stop = threading.Event()

    def rewrite():
        try:
            for round_ in range(1_000_000):
                if stop.is_set():
                    return
                with open(path, "wb", buffering=0) as f:
                    text = versions[round_ % 2]
                    for at in range(0, len(text), 7):
                        f.write(text[at:at + 7])
        except OSError:  # the case is over and its directory gone
            return

    writer = threading.Thread(target=rewrite, daemon=True)
    writer.start()

    def judge(buttons):
        stop.set()
        writer.join()
        # A line may be read half from one version and half from the other:
        # every row is still made of the file's own lines' parts.
        if len(buttons) > 10:
            raise Failure(f"{len(buttons)} host buttons from a file of at most 10 hosts")
        for name, tooltip in buttons:
            ip, mac = tooltip.split("  ")
            if name not in shown or not ip.startswith("127.0.") or \
                    not mac.startswith("02:00:00:00:0"):
                raise Failure(f"button {name!r} {tooltip!r} is no row of the file")

    return judge


def bad_icon(make):
    def case(work):
        a, pc0 = host("pc0", 1)
        b, pc1 = host("pc1", 2)
        write(os.path.join(work, "hostlist"), a + b)
        make(os.path.join(work, "quorvel64.ico"))
        return [pc0, pc1]
    return case


# The names are those of the ctest tests too (tests/reliability/CMakeLists.txt).
CASES = {
    "random_bytes": case_random_bytes,
    "nul_bytes": case_nul_bytes,
    "ten_megabytes": case_ten_megabytes,
    "hostlist_directory": case_directory,
    "hostlist_fifo": case_fifo,
    "hostlist_dev_zero": case_dev_zero,
    "no_read_permission": case_no_read_permission,
    "rewritten_while_read": case_rewritten_while_read,
    "icon_garbage": bad_icon(lambda p: write(p, random.Random(7).randbytes(4096))),
    "icon_empty": bad_icon(lambda p: write(p, b"")),
    "icon_directory": bad_icon(os.mkdir),
    "icon_fifo": bad_icon(os.mkfifo),  # no writer ever comes
    # Sparse, one byte past quorvel's limit of 1 MiB.
    "icon_huge": bad_icon(lambda p: (write(p, b""), os.truncate(p, 2**20 + 1))),
}
# The icon cases, and what their message on standard error must say.
ICON_CASES = {"icon_garbage": "", "icon_empty": "", "icon_directory": "not a regular file",
              "icon_fifo": "not a regular file", "icon_huge": "larger than 1048576 bytes"}


# -- driving quorvel -----------------------------------------------------

def buttons_of(frame):
    """(name, the tooltip's first line, accessible) of each button; a host
    button's second line must say that no cycle has run yet."""
    buttons = []
    for b in push_buttons(frame):
        first, _, second = b.description.partition("\n")
        if first and second != "not probed yet":
            raise Failure(f"the tooltip of {b.name!r} is {b.description!r}")
        buttons.append((b.name, first, b))
    return buttons


def observe(quorvel, work):
    """Starts quorvel in work, takes its host buttons as (name, tooltip) and
    ends it with EXIT. Returns the host buttons and what it printed on
    standard error."""
    env = dict(os.environ)
    env.pop("NO_AT_BRIDGE", None)
    process = subprocess.Popen([quorvel, "-t", "300"], cwd=work, env=env,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                               errors="replace")
    try:
        frame = find_frame(process)
        buttons = buttons_of(frame)
        names = [name for name, _, _ in buttons]
        if names[-len(COMMANDS):] != COMMANDS:
            raise Failure(f"command buttons: {names[-len(COMMANDS):]}")
        hosts = [(name, tooltip) for name, tooltip, _ in buttons[:-len(COMMANDS)]]
        if not buttons[-1][2].queryAction().doAction(0):
            raise Failure("the EXIT button refused its click")
        try:
            out, err = process.communicate(timeout=EXIT_TIMEOUT)
        except subprocess.TimeoutExpired:
            raise Failure(f"quorvel still running {EXIT_TIMEOUT} s after EXIT")
    finally:
        if process.poll() is None:
            process.kill()
            process.wait(timeout=10)
    if out != QUIT_TRACE or process.returncode != 0:
        raise Failure(f"status {process.returncode}, trace {out!r}; stderr {err[-500:]!r}")
    return hosts, err


def dump_rows(dump, work):
    run = subprocess.run([dump], cwd=work, capture_output=True, timeout=60)
    rows = []
    for line in run.stdout.split(b"\n"):
        if line:
            name, tooltip = line.split(b"\t")
            rows.append((name, tooltip.decode()))
    return rows


def expected_from_dump(dump, work, must_hold):
    rows = dump_rows(dump, work)
    # A host quorvel might probe must be on loopback, whatever the bytes.
    for _, tooltip in rows:
        if not tooltip.startswith("127."):
            raise Failure(f"the random host list yields a host off loopback: {tooltip}")
    for name, tooltip in must_hold:
        if (name.encode(), tooltip) not in rows:
            raise Failure(f"the reader did not keep {name}: {rows}")

    def judge(buttons):
        # Names are compared where they are plain text: GTK shows a label's
        # invalid UTF-8 in its own way.
        if [t for _, t in buttons] != [t for _, t in rows]:
            raise Failure(f"host buttons {buttons}, the reader's rows {rows}")
        for (shown, _), (name, _) in zip(buttons, rows):
            if name.isascii() and name.decode().isprintable() and shown != name.decode():
                raise Failure(f"button {shown!r} for row {name!r}")
    return judge


WITH_XVFB = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts",
                         "with-xvfb")


def observe_apart(quorvel, work, as_nobody):
    """Runs observe() in a process of its own on a display and a session bus
    of its own, as nobody if asked: a bus that has seen one quorvel end can
    be slow to let go of it, and nobody may use neither root's display nor
    root's accessibility bus."""
    share = tempfile.mkdtemp(prefix="quorvel-observe-")
    try:
        os.chmod(share, 0o755)
        # The copy of this script finds the test package beside it.
        shutil.copytree(os.path.dirname(quorveltest.__file__),
                        os.path.join(share, "quorveltest"),
                        ignore=shutil.ignore_patterns("__pycache__"))
        argv = [shutil.copy(WITH_XVFB, share), "dbus-run-session", "--", sys.executable,
                shutil.copy(os.path.abspath(__file__), share), "--observe",
                shutil.copy(quorvel, share), work]
        env = {k: v for k, v in os.environ.items()
               if k not in ("DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS", "XDG_RUNTIME_DIR",
                            "NO_AT_BRIDGE", "DISPLAY", "XAUTHORITY")}
        env["PYTHONPATH"] = share
        if as_nobody:
            home = os.path.join(share, "home")
            os.mkdir(home)
            os.chown(home, NOBODY, NOBODY)
            env["HOME"] = home
            argv = ["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}", "--clear-groups",
                    "--", *argv]
        run = subprocess.run(argv, env=env, capture_output=True, text=True, errors="replace",
                             timeout=START_TIMEOUT + EXIT_TIMEOUT + 90)
        report = run.stdout.strip().splitlines()
        if run.returncode != 0 or not report:
            raise Failure(f"{run.stdout[-800:]} {run.stderr[-800:]}")
        observed = json.loads(report[-1])
        return [tuple(h) for h in observed["hosts"]], observed["stderr"]
    finally:
        shutil.rmtree(share, ignore_errors=True)


def judge(hosts, expected):
    if callable(expected):
        expected(hosts)
    elif hosts != expected:
        raise Failure(f"host buttons {hosts}, expected {expected}")


def run_case(name, quorvel, icon, dump):
    work = tempfile.mkdtemp(prefix="quorvel-badinput-")
    try:
        os.chmod(work, 0o755)
        if name not in ICON_CASES:
            shutil.copy(icon, os.path.join(work, "quorvel64.ico"))
        expected = CASES[name](work)
        if isinstance(expected, tuple):
            expected = expected_from_dump(dump, work, expected[1])
        as_nobody = name == "no_read_permission" and os.geteuid() == 0
        hosts, err = observe_apart(quorvel, work, as_nobody)
        judge(hosts, expected)
        if name in ICON_CASES and (not err.strip() or ICON_CASES[name] not in err):
            raise Failure(f"the icon could not be loaded, and stderr says {err[-300:]!r}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    if len(sys.argv) == 4 and sys.argv[1] == "--observe":
        try:
            hosts, err = observe(sys.argv[2], sys.argv[3])
        except Failure as failure:
            print(f"FAIL: {failure}")
            return 1
        print(json.dumps({"hosts": hosts, "stderr": err}))
        return 0
    if len(sys.argv) < 4:
        print("usage: badinput_test.py QUORVEL ICON HOSTLISTDUMP [CASE...]", file=sys.stderr)
        return 2
    quorvel, icon, dump = sys.argv[1:4]
    names = sys.argv[4:] or list(CASES)
    unknown = [name for name in names if name not in CASES]
    if unknown:
        print(f"no cases {unknown}; the cases are {' '.join(CASES)}", file=sys.stderr)
        return 2
    results = Results()
    for name in names:
        began = time.monotonic()
        try:
            run_case(name, quorvel, icon, dump)
            problems = []
        except Failure as failure:
            problems = [str(failure)]
        results.record(name, problems, f"{time.monotonic() - began:.1f} s")
    return results.exit_code()


if __name__ == "__main__":
    sys.exit(main())
