#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""End to end, on the test network, with a real notification service (dunst)
on the case's own session bus: quorvel with "-n" in manual mode; UPDATE;
echo2's address taken away in the lab, UPDATE; given back, UPDATE. Exactly
two notifications must reach the service, "echo2 is silent" and "echo2
answers again", read back from dunst's history; the tooltips (the buttons'
accessible descriptions) tell when each host last answered. The same steps
without "-n" add no notification. Started with "-n" and a host list
without a host, quorvel says which file to fill.

Run by inlab.py inside the lab's monitor namespace, on a display and a
session bus of its own. With QUORVEL_E2E_SCREENSHOT set to a file name, the
screen is saved there while the first notification shows.
"""
import json
import os
import re
import subprocess
import sys

import labcase as lc
from labhosts import HOSTLIST
from quorveltest import Failure, wait_until
from quorveltest.window import Quorvel, WorkDir

ECHO2 = "10.200.1.3"
TIP_FIRST_LINES = {"echo2": "10.200.1.3  02:00:00:01:00:02",
                   "silent": "10.200.1.200  02:5a:00:c0:ff:ee"}
CLOCK = r"\d\d:\d\d:\d\d"


def echo2_address(action):
    subprocess.run(["ip", "-n", os.environ["LAB_ECHO"], "addr", action, f"{ECHO2}/24", "dev",
                    "eth0"], check=True)


def shown_notifications():
    """(application, text) of every notification dunst has received, oldest first."""
    subprocess.run(["dunstctl", "close-all"], check=True)
    history = json.loads(subprocess.run(["dunstctl", "history"], capture_output=True, text=True,
                                        check=True).stdout)
    return [(n["appname"]["data"], n["summary"]["data"]) for n in reversed(history["data"][0])]


def tooltip(quorvel, name):
    return quorvel.button(name).description


def expect_tooltip(quorvel, name, second_line, when):
    text = tooltip(quorvel, name)
    if not re.fullmatch(re.escape(TIP_FIRST_LINES[name]) + "\n" + second_line, text):
        raise Failure(f"{when}: the tooltip of {name} is {text!r}, expected its address and "
                      f"{second_line!r}")


def update(quorvel, count, what):
    quorvel.click("UPDATE")
    lc.wait_cycles(quorvel, count, what, by_update=True)
    wait_until(lambda: quorvel.clickable()["AUTOSTART"], 10, f"the end of {what}")


def run_cycles(program, icon, args, check=lambda *_: None):
    """MANUAL; UPDATE; echo2 taken away, UPDATE; echo2 back, UPDATE; EXIT."""
    with WorkDir(HOSTLIST, icon) as work, Quorvel(program, work, args) as quorvel:
        quorvel.find_window()
        lc.enter_manual(quorvel)
        check(quorvel, 0)
        update(quorvel, 1, "the first UPDATE")
        check(quorvel, 1)
        echo2_address("del")
        try:
            update(quorvel, 2, "UPDATE with echo2 gone")
            check(quorvel, 2)
        finally:
            echo2_address("add")
        update(quorvel, 3, "UPDATE with echo2 back")
        check(quorvel, 3)
        if quorvel.exit() != 0:
            raise Failure("quorvel did not end with status 0")
        if "notification" in quorvel.errors():
            raise Failure(f"quorvel complained of the service: {quorvel.errors()}")


def check_tooltips(quorvel, cycles):
    if cycles == 0:
        expect_tooltip(quorvel, "echo2", "not probed yet", "before any cycle")
        return
    expect_tooltip(quorvel, "silent", "never answered", f"after cycle {cycles}")
    second = {1: "answered " + CLOCK, 2: "silent since " + CLOCK, 3: "answered " + CLOCK}
    expect_tooltip(quorvel, "echo2", second[cycles], f"after cycle {cycles}")
    screenshot = os.environ.get("QUORVEL_E2E_SCREENSHOT")
    if cycles == 2 and screenshot:
        subprocess.run(["import", "-window", "root", screenshot], check=True)


def case(program, icon):
    dunst = subprocess.Popen(["dunst", "-config", "/dev/null"], stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
    try:
        wait_until(lambda: subprocess.run(["dunstctl", "count"], capture_output=True)
                   .returncode == 0, 10, "dunst on the session bus")
        # The two changes come seconds apart; a minute's quiet time per host
        # would hold back the second.
        os.environ["QUORVEL_TEST_QUIET_SECONDS"] = "0"
        run_cycles(program, icon, ["-n"] + lc.ARGS, check_tooltips)
        expected = [("quorvel", "echo2 is silent"), ("quorvel", "echo2 answers again")]
        shown = shown_notifications()
        if shown != expected:
            raise Failure(f"with -n the service received {shown}, expected {expected}")
        run_cycles(program, icon, lc.ARGS)
        if shown_notifications() != expected:
            raise Failure(f"without -n the service received more: {shown_notifications()}")
        # A host list without a host: one notification says which file to fill.
        with WorkDir("# nothing yet\n", icon) as work, Quorvel(program, work, ["-n"]) as quorvel:
            quorvel.find_window()
            hint = ("quorvel", f"No host in {work}/hostlist yet: add a line per host (label, "
                    "address, hardware address), or let quorvel-scan find them: quorvel-scan "
                    ">> hostlist")
            wait_until(lambda: shown_notifications()[2:] == [hint], 10,
                       f"{hint} on the service")
            quorvel.exit()
    finally:
        dunst.terminate()
        dunst.wait(timeout=10)


if __name__ == "__main__":
    sys.exit(lc.run(case, "-n: one notification per change, tooltips with times; none without"))
