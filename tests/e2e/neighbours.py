#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""End to end, on the test network, what the neighbour table adds: four
hosts, one that answers (echo1), one that answers ARP but ignores ping (the
lab's quiet host, as a firewalled PC), one held by no one (absent), and one
that answers but is listed with a wrong hardware address (wrong). After one
UPDATE only quiet's tooltip says its card answered, only wrong's names the
card that answers for it (and standard error says so once), and the trace
and the buttons are what the echoes alone make them. Then a click wakes
absent, the lab gives its address to the echo machine, and the next UPDATE's
tooltip tells how many seconds after the wake it answered.

Run by inlab.py inside the lab's monitor namespace. With
QUORVEL_E2E_SCREENSHOT set to a file name, the tooltips of quiet, wrong and
absent are pictured there, side by side.
"""
import os
import re
import subprocess
import sys
import time

import labcase as lc
from quorveltest import Failure, wait_until
from quorveltest.cycles import cycles
from quorveltest.lab import ECHO_HARDWARE_ADDRESS, QUIET_ADDRESS
from quorveltest.window import Quorvel, WorkDir

ABSENT = "10.200.1.200"
WRONG_LISTED = "02:00:00:01:00:03"
CLOCK = r"\d\d:\d\d:\d\d"
CARD = f"its network card answered {CLOCK}, ping did not: a firewall\\?"
MISMATCH = (f"{ECHO_HARDWARE_ADDRESS} answers for it; a wake goes to {WRONG_LISTED} "
            "\\(the list's\\)")


def hostlist():
    quiet = subprocess.run(["ip", "-n", os.environ["LAB_QUIET"], "-o", "link", "show", "eth0"],
                           capture_output=True, text=True, check=True).stdout
    quiet_mac = re.search(r"link/ether (\S+)", quiet).group(1)
    return (f"echo1  10.200.1.2  {ECHO_HARDWARE_ADDRESS}\n"
            f"quiet  {QUIET_ADDRESS}  {quiet_mac}\n"
            f"absent {ABSENT}  {ECHO_HARDWARE_ADDRESS}\n"  # the card it comes up on
            f"wrong  10.200.1.3  {WRONG_LISTED}\n")


def expect_tooltips(quorvel, expected, when):
    """Each host's tooltip past its address line must match its patterns."""
    for name, lines in expected.items():
        text = quorvel.button(name).description
        if not re.fullmatch("\n".join(lines), text.split("\n", 1)[-1]):
            raise Failure(f"{when}: the tooltip of {name} is {text!r}, expected its address "
                          f"and {lines}")


def update(quorvel, count, verdicts, what):
    quorvel.click("UPDATE")
    found = wait_until(lambda: [c for c in cycles(quorvel.lines(), len(verdicts))[0]
                                if c.by_update][count - 1:], lc.CYCLE_TIMEOUT, what)
    wait_until(lambda: quorvel.clickable()["AUTOSTART"], 10, f"the end of {what}")
    cycle = found[0]
    if cycle.verdicts() != verdicts:
        raise Failure(f"{what}: verdicts {cycle.verdicts()}, expected {verdicts}")


def picture(quorvel, names, path):
    """The window with each host's tooltip showing, one picture per host,
    joined side by side."""
    frames = []
    for k, name in enumerate(names):
        x, y, w, h = quorvel.button(name).queryComponent().getExtents(0)
        subprocess.run(["xdotool", "mousemove", str(x + w // 2), str(y + h // 2)], check=True)
        time.sleep(2)  # GTK shows a tooltip after half a second of hovering
        frame = f"{path}.{k}.png"
        window = quorvel.frame.queryComponent().getExtents(0)
        crop = f"{window.width}x{window.height}+{window.x}+{window.y}"
        subprocess.run(["import", "-window", "root", "-crop", crop, "+repage", frame],
                       check=True)
        subprocess.run(["xdotool", "mousemove", "0", "0"], check=True)
        time.sleep(1)
        frames.append(frame)
    subprocess.run(["convert", *frames, "-append", path], check=True)
    for frame in frames:
        os.remove(frame)


def case(program, icon):
    with WorkDir(hostlist(), icon) as work, Quorvel(program, work, lc.ARGS) as quorvel:
        quorvel.find_window()
        quorvel.click("MANUAL")
        wait_until(lambda: quorvel.clickable()["UPDATE"], 10, "UPDATE after MANUAL")
        update(quorvel, 1, [1, 0, 0, 1], "the first UPDATE")
        clickable = {n: quorvel.clickable()[n] for n in ("echo1", "quiet", "absent", "wrong")}
        if clickable != {"echo1": False, "quiet": True, "absent": True, "wrong": False}:
            raise Failure(f"after the first UPDATE the host buttons' states are {clickable}")
        expect_tooltips(quorvel, {"echo1": [f"answered {CLOCK}"],
                                  "quiet": ["never answered", CARD],
                                  "absent": ["never answered"],
                                  "wrong": [f"answered {CLOCK}", MISMATCH]}, "after one UPDATE")

        quorvel.click("absent")
        woken = time.time()
        wait_until(lambda: "wake sent" in quorvel.button("absent").description, 10,
                   "the wake in absent's tooltip")
        subprocess.run(["ip", "-n", os.environ["LAB_ECHO"], "addr", "add", f"{ABSENT}/24",
                        "dev", "eth0"], check=True)
        time.sleep(2)
        update(quorvel, 2, [1, 0, 1, 1], "UPDATE with absent up")
        text = quorvel.button("absent").description
        found = re.search(r"answers again, (\d+) s after its wake$", text)
        if found is None or not 2 <= int(found.group(1)) <= time.time() - woken + 1:
            raise Failure(f"after absent answered its wake its tooltip is {text!r}")
        shot = os.environ.get("QUORVEL_E2E_SCREENSHOT")
        if shot:
            picture(quorvel, ["quiet", "wrong", "absent"], shot)
        if quorvel.exit() != 0:
            raise Failure("quorvel did not end with status 0")
        warned = [line for line in quorvel.errors().splitlines() if "answers for its address" in line]
        if warned != [f"quorvel: wrong (10.200.1.3): {ECHO_HARDWARE_ADDRESS} answers for its "
                      f"address, but the host list says {WRONG_LISTED}; a wake goes to the "
                      "list's"]:
            raise Failure(f"standard error told of the wrong address as {warned}")


if __name__ == "__main__":
    sys.exit(lc.run(case, "neighbour table: ignores ping, wrong hardware address, wake feedback"))
