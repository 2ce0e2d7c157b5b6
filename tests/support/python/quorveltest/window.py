# SPDX-License-Identifier: GPL-3.0-or-later
"""The real quorvel, seen and driven from outside as a user's assistive tool
would: its window and buttons through the accessibility bus (AT-SPI), its
title as the X server holds it, and its trace line by line as it comes, each
line with the time it arrived.

Run on a display and a session bus of its own, for example:
  scripts/with-xvfb dbus-run-session -- /usr/bin/python3 some_test.py ...

While quorvel runs a probe cycle its main loop is blocked, so it answers no
question on the accessibility bus until the cycle is over; the X server still
knows its title, which is why the title is read from there.
"""
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

import pyatspi

from quorveltest import POLL, Failure, wait_until

COMMANDS = ["AUTOSTART", "MANUAL", "UPDATE", "CLEAR", "EXIT"]
COMMAND_BITS = {"AUTOSTART": 0x10, "MANUAL": 0x08, "UPDATE": 0x04, "CLEAR": 0x02, "EXIT": 0x01}
AUTOMATIC = 9
MANUAL = 23

START_TIMEOUT = 60  # seconds for the window to appear on the accessibility bus
EXIT_TIMEOUT = 30  # seconds for the process to end after EXIT


def clickable_commands(mask):
    """Which command buttons a command-button mask makes clickable."""
    return {name: bool(mask & COMMAND_BITS[name]) for name in COMMANDS}


def push_buttons(frame):
    """Every button of the window, in window order."""
    return pyatspi.utils.findAllDescendants(
        frame, lambda a: a is not None and a.getRole() == pyatspi.ROLE_PUSH_BUTTON)


def clickable(button):
    return button.getState().contains(pyatspi.STATE_SENSITIVE)


def applications():
    """Name and process id of every application on the accessibility bus."""
    found = []
    for app in pyatspi.Registry.getDesktop(0):
        try:
            found.append((app.name, app.get_process_id()))
        except Exception as error:
            found.append((None, repr(error)))
    return found


def host_status_frame(pid):
    """The "HOST STATUS" frame of process pid on the accessibility bus, or None."""
    for app in pyatspi.Registry.getDesktop(0):
        try:
            if app is None or app.get_process_id() != pid:
                continue
            for child in app:
                if child is not None and child.getRole() == pyatspi.ROLE_FRAME:
                    if child.name == "HOST STATUS":
                        return child
        except Exception:  # an application that went away while we looked
            continue
    return None


def find_frame(process, errors=lambda: ""):
    """Waits for the "HOST STATUS" frame of a started quorvel; fails when the
    process ends first or the window does not show within START_TIMEOUT."""
    def frame():
        if process.poll() is not None:
            raise Failure(f"quorvel ended early with status {process.returncode}: {errors()}")
        return host_status_frame(process.pid)

    try:
        return wait_until(frame, START_TIMEOUT, "the HOST STATUS window on the bus")
    except Failure as failure:
        raise Failure(f"{failure}; applications on the bus: {applications()}")


class WorkDir:
    """A fresh working directory holding a host list and the icon."""

    def __init__(self, hostlist, icon):
        self.path = tempfile.mkdtemp(prefix="quorvel-e2e-")
        with open(os.path.join(self.path, "hostlist"), "w") as f:
            f.write(hostlist)
        shutil.copy(icon, os.path.join(self.path, "quorvel64.ico"))

    def __enter__(self):
        return self.path

    def __exit__(self, *exc):
        shutil.rmtree(self.path, ignore_errors=True)


class Quorvel:
    """One quorvel process in a working directory, on the current display."""

    def __init__(self, program, workdir, args=()):
        env = dict(os.environ)
        env.pop("NO_AT_BRIDGE", None)  # the bridge is what puts the window on the bus
        self.launched = time.monotonic()
        self.process = subprocess.Popen(
            [os.path.abspath(program), *args], cwd=workdir, env=env, stdout=subprocess.PIPE,
            stderr=subprocess.PIPE, text=True)
        self._lines = []  # (arrival time, line without its newline)
        self._errors = []
        self._lock = threading.Lock()
        self._readers = [
            threading.Thread(target=self._read, args=(self.process.stdout, self._lines),
                             daemon=True),
            threading.Thread(target=self._read, args=(self.process.stderr, self._errors),
                             daemon=True),
        ]
        for reader in self._readers:
            reader.start()
        self.frame = None
        self.window_seen = None
        self.xid = None
        self._buttons = []

    def _read(self, stream, into):
        for line in stream:
            with self._lock:
                into.append((time.monotonic(), line))

    def __enter__(self):
        return self

    def __exit__(self, kind, value, tb):
        self.kill()
        if kind is not None:
            print(f"quorvel's trace:\n{self.trace()}\nquorvel's standard error:\n"
                  f"{self.errors()}", file=sys.stderr)

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(timeout=10)

    # -- the trace ----------------------------------------------------------

    def lines(self):
        """Every trace line so far, each as (arrival time, text without its
        line end)."""
        with self._lock:
            return [(t, line.rstrip("\n")) for t, line in self._lines]

    def errors(self):
        with self._lock:
            return "".join(text for _, text in self._errors)

    def trace(self):
        """The whole trace so far, exactly as printed."""
        with self._lock:
            return "".join(text for _, text in self._lines)

    # -- the window ---------------------------------------------------------

    def find_window(self):
        """The "HOST STATUS" frame of this process, once it is on the bus."""
        self.frame = find_frame(self.process, self.errors)
        self.window_seen = time.monotonic()
        self._buttons = [(b.name, b) for b in push_buttons(self.frame)]
        self.xid = self._find_xid()
        return self.frame

    def _find_xid(self):
        out = subprocess.run(["xwininfo", "-name", "HOST STATUS"], capture_output=True,
                             text=True).stdout
        words = out.split("Window id: ")
        if len(words) < 2:
            raise Failure("the X server knows no window titled HOST STATUS")
        xid = words[1].split()[0]
        pid = subprocess.run(["xprop", "-id", xid, "-notype", "_NET_WM_PID"],
                             capture_output=True, text=True).stdout.split("=")[-1].strip()
        if pid != str(self.process.pid):
            raise Failure(f"the window {xid} belongs to pid {pid}, not {self.process.pid}")
        return xid

    def button_names(self):
        return [name for name, _ in self._buttons]

    def button(self, name):
        for label, accessible in self._buttons:
            if label == name:
                return accessible
        raise Failure(f"no button named {name!r} among {self.button_names()}")

    def clickable(self):
        """Whether each button can be clicked, by name, in window order."""
        return {name: clickable(b) for name, b in self._buttons}

    def click(self, name):
        """A click through the button's accessible action. GTK delivers it from
        the main loop, so it returns before the button's handler has run."""
        return self.button(name).queryAction().doAction(0)

    def title(self):
        """The window title as the X server holds it now."""
        out = subprocess.run(["xprop", "-id", self.xid, "-notype", "_NET_WM_NAME"],
                             capture_output=True, text=True).stdout.strip()
        prefix = "_NET_WM_NAME = "
        if not out.startswith(prefix):
            raise Failure(f"no title on window {self.xid}: {out!r}")
        return out[len(prefix):].strip('"')

    def exit(self):
        """Clicks EXIT and waits for the process to end; its exit status."""
        if not self.click("EXIT"):
            raise Failure("the EXIT button refused its click action")
        try:
            self.process.wait(timeout=EXIT_TIMEOUT)
        except subprocess.TimeoutExpired:
            raise Failure(f"quorvel still running {EXIT_TIMEOUT} s after EXIT")
        for reader in self._readers:
            reader.join(timeout=5)
        return self.process.returncode


class TitleWatch:
    """Reads the window title from the X server every few hundredths of a
    second in a thread of its own, each reading with its time."""

    def __init__(self, quorvel):
        if quorvel.xid is None:
            raise Failure("the title can be watched only once the window is found")
        self.quorvel = quorvel
        self.readings = []
        self.error = None
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join(timeout=10)

    def _run(self):
        try:
            while not self._stop.is_set():
                before = time.monotonic()
                title = self.quorvel.title()
                self.readings.append((before, time.monotonic(), title))
                self._stop.wait(POLL)
        except Exception as error:  # reported by seen()
            self.error = error

    def seen(self):
        """Every reading so far, each as (time before, time after, title)."""
        if self.error is not None:
            raise Failure(f"reading the title failed: {self.error}")
        return list(self.readings)

    def wait_for(self, title, timeout, what):
        """Waits until the latest reading is the given title."""
        wait_until(lambda: (lambda seen: seen and seen[-1][2] == title)(self.seen()), timeout,
                   what)
