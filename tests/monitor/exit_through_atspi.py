#!/usr/bin/python3
"""End-to-end: the real quorvel on a virtual display, driven through AT-SPI.

Starts quorvel in a fresh directory holding a host list of loopback hosts and
the icon, finds its window and buttons on the accessibility bus, checks each
button's name and whether it can be clicked and the process's priority, clicks
EXIT and checks the trace and the exit status.

Run it on a display and a session bus of its own, for example:
  scripts/with-xvfb dbus-run-session -- /usr/bin/python3 exit_through_atspi.py QUORVEL ICON
"""
import os
import shutil
import subprocess
import sys
import tempfile
import time

import pyatspi

START_TIMEOUT = 60  # seconds for the window to appear on the accessibility bus
EXIT_TIMEOUT = 30  # seconds for the process to end after EXIT

HOSTLIST = """\
pc0 127.0.0.1 02:00:00:00:00:01
pc1 127.0.0.2 02:00:00:00:00:02
# rejected lines give no button
pc2 127.0.0.3
R&D 127.0.0.4 02:00:00:00:00:04
pc4 127.0.0.5 02:00:00:00:00:05
pc5 127.0.0.6 02:00:00:00:00:06
pc6 127.0.0.7 02:00:00:00:00:07
pc7 127.0.0.8 02:00:00:00:00:08
fileserver\t127.0.0.9\t02:00:00:00:00:09 # attic
pc9 127.0.0.10 02:00:00:00:00:0a
"""
HOST_NAMES = ["pc0", "pc1", "R&D", "pc4", "pc5", "pc6", "pc7", "filese.", "pc9"]
COMMANDS_CLICKABLE = {
    "AUTOSTART": False,
    "MANUAL": True,
    "UPDATE": False,
    "CLEAR": False,
    "EXIT": True,
}
EXPECTED_TRACE = (
    "[parent process: delete_event] got a delete event from FrameWork.\n"
    "[parent process: delete_event] so I'll call a main_quit.\n"
)


class Failure(Exception):
    pass


def find_window(process):
    """The "HOST STATUS" frame of our process, once it is on the bus."""
    deadline = time.monotonic() + START_TIMEOUT
    while time.monotonic() < deadline:
        if process.poll() is not None:
            raise Failure(f"quorvel ended early with status {process.returncode}")
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is None:
                continue
            try:
                if app.get_process_id() != process.pid:
                    continue
                for child in app:
                    if child is not None and child.getRole() == pyatspi.ROLE_FRAME:
                        if child.name == "HOST STATUS":
                            return child
            except Exception:  # an application that went away while we looked
                continue
        time.sleep(0.5)
    raise Failure(f"no window titled HOST STATUS of pid {process.pid} within {START_TIMEOUT} s")


def buttons_of(frame):
    found = pyatspi.utils.findAllDescendants(
        frame, lambda a: a is not None and a.getRole() == pyatspi.ROLE_PUSH_BUTTON
    )
    return [(b.name, b) for b in found]


def clickable(button):
    return button.getState().contains(pyatspi.STATE_SENSITIVE)


def check_buttons(frame):
    buttons = buttons_of(frame)
    names = [name for name, _ in buttons]
    expected = HOST_NAMES + list(COMMANDS_CLICKABLE)
    if names != expected:
        raise Failure(f"buttons in window order: {names}, expected {expected}")
    by_name = dict(buttons)
    for name in HOST_NAMES:
        if clickable(by_name[name]):
            raise Failure(f"host button {name} is clickable before any probe")
    for name, wanted in COMMANDS_CLICKABLE.items():
        if clickable(by_name[name]) != wanted:
            raise Failure(f"{name} clickable: {not wanted}, expected {wanted}")
    tooltip = by_name["pc0"].description
    if tooltip != "127.0.0.1  02:00:00:00:00:01":
        raise Failure(f"tooltip of pc0: {tooltip!r}")
    return by_name


def run(quorvel, icon):
    work = tempfile.mkdtemp(prefix="quorvel-e2e-")
    try:
        with open(os.path.join(work, "hostlist"), "w") as f:
            f.write(HOSTLIST)
        shutil.copy(icon, os.path.join(work, "quorvel64.ico"))
        env = dict(os.environ)
        env.pop("NO_AT_BRIDGE", None)  # the bridge is what puts the window on the bus
        process = subprocess.Popen(
            [quorvel, "-t", "500", "/c", "100"],
            cwd=work,
            env=env,
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            text=True,
        )
        try:
            frame = find_window(process)
            nice = os.getpriority(os.PRIO_PROCESS, process.pid)
            if nice != 19:
                raise Failure(f"quorvel runs at nice {nice}, expected the idle priority 19")
            by_name = check_buttons(frame)
            if not by_name["EXIT"].queryAction().doAction(0):
                raise Failure("the EXIT button refused its click action")
            try:
                out, err = process.communicate(timeout=EXIT_TIMEOUT)
            except subprocess.TimeoutExpired:
                raise Failure(f"quorvel still running {EXIT_TIMEOUT} s after EXIT")
        finally:
            if process.poll() is None:
                process.kill()
                process.wait(timeout=10)
        if out != EXPECTED_TRACE:
            raise Failure(f"trace was {out!r}, expected {EXPECTED_TRACE!r}; stderr: {err!r}")
        if process.returncode != 0:
            raise Failure(f"exit status {process.returncode}; stderr: {err!r}")
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    if len(sys.argv) != 3:
        print("usage: exit_through_atspi.py QUORVEL ICON", file=sys.stderr)
        return 2
    try:
        run(sys.argv[1], sys.argv[2])
    except Failure as failure:
        print(f"FAIL: {failure}", file=sys.stderr)
        return 1
    print("PASS: buttons found by name and state, idle priority, EXIT ends quorvel with its trace and status 0")
    return 0


if __name__ == "__main__":
    sys.exit(main())
