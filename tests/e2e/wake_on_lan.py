#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""End to end, on the test network: after an UPDATE, a click on the button of
a host that did not answer sends exactly one Wake-on-LAN magic packet, 102
bytes, to port 9 of that host's a.b.c.255 address, where a receiver in the
lab's echo namespace takes it; two clicks send two. The button of a host
that answered cannot be clicked and sends nothing; neither does a silent
host behind the unreachable route, whose broadcast address cannot be
reached. Afterwards the host table is unchanged: the next UPDATE probes the
same addresses with the same outcome, and the wake-ups printed nothing.

Run by inlab.py inside the lab's monitor namespace, on a display and a
session bus of its own; LAB_ECHO names the echo namespace.
"""
import os
import sys
import time

import labcase as lc
from labhosts import HOSTLIST
from quorveltest import Failure, wait_until
from quorveltest.lab import Receiver
from quorveltest.window import Quorvel, WorkDir

SILENT_MAC = bytes.fromhex("025a00c0ffee")  # the host list's "silent"
MAGIC_PACKET = b"\xff" * 6 + SILENT_MAC * 16
SENDER = "10.200.1.1"  # the monitor's address on the echo network
BROADCAST = "10.200.1.255"
QUIET = 2.0  # seconds to wait for a datagram that must not come
ARRIVAL_TIMEOUT = 10


def check_magic_packet(datagram):
    source = datagram["source"][0]
    if source != SENDER or datagram["destination"] != BROADCAST:
        raise Failure(f"a datagram from {source} to {datagram['destination']}, expected "
                      f"one from {SENDER} to {BROADCAST}")
    data = bytes.fromhex(datagram["bytes"])
    if data != MAGIC_PACKET:
        raise Failure(f"a datagram of {len(data)} bytes {data.hex()}, expected the "
                      f"{len(MAGIC_PACKET)} bytes {MAGIC_PACKET.hex()}")


def clicks(quorvel, receiver, name, count, arriving):
    """Clicks a host button count times; exactly `arriving` magic packets
    must reach port 9 for it."""
    before = len(receiver.datagrams())
    for _ in range(count):
        quorvel.click(name)
    if arriving:
        wait_until(lambda: len(receiver.datagrams()) >= before + arriving, ARRIVAL_TIMEOUT,
                   f"{arriving} datagrams after {count} clicks on {name}")
    time.sleep(QUIET)
    new = receiver.datagrams()[before:]
    if len(new) != arriving:
        raise Failure(f"{count} clicks on {name}: {len(new)} datagrams, expected {arriving}")
    for datagram in new:
        check_magic_packet(datagram)


def case(program, icon):
    with Receiver(os.environ["LAB_ECHO"], lifetime=140) as receiver, WorkDir(HOSTLIST, icon) as work, \
            Quorvel(program, work, lc.ARGS) as quorvel:
        quorvel.find_window()
        lc.enter_manual(quorvel)
        lc.update(quorvel, 1, "UPDATE")

        clicks(quorvel, receiver, "silent", 1, arriving=1)
        clicks(quorvel, receiver, "silent", 2, arriving=2)
        clicks(quorvel, receiver, "echo1", 1, arriving=0)  # answered: not clickable
        clicks(quorvel, receiver, "unreac.", 1, arriving=0)  # 10.200.4.255: unreachable
        lc.expect_clickable(quorvel, lc.host_state(False), lc.MANUAL, "after the wake-ups")

        lc.update(quorvel, 2, "UPDATE after the wake-ups")
        lc.finish(quorvel, updates=2, ticks=1)
        if len(receiver.datagrams()) != 3:
            raise Failure(f"{len(receiver.datagrams())} datagrams reached port 9 in all")


if __name__ == "__main__":
    sys.exit(lc.run(case, "one magic packet per click on a silent host, none for an alive "
                          "one, host table unchanged"))
