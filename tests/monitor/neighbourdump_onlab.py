#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""The neighbour table as readneighbours reads it (neighbourdump), against
what the kernel of the lab's monitor namespace says (ip -s neigh), after an
echo to a host that answers, to the quiet host (it answers ARP but ignores
the echo) and to an address nobody holds: each entry once, with the
hardware address of the lab's card that holds the address, the kernel's
state and its confirmation age (to a second). Read by a user without
privilege, as the monitor is.

With --wine, neighbourdump.exe under Wine (GetIpNetTable2), from a Wine
prefix made inside the lab: the same entries and hardware addresses. Wine
knows only resolved entries (reachable) and unresolved ones (failed), and
gives no confirmation time.

Needs root (exit 77 without).

  neighbourdump_onlab.py [--wine WINE] NEIGHBOURDUMP
"""
import argparse
import json
import os
import sys
import tempfile

from quorveltest import Results, skip, wait_until
from quorveltest import lab as netlab
from quorveltest.otheruser import OtherUser


def kernel_table(lab):
    out = lab.run(["ip", "-j", "-s", "-4", "neigh", "show"], capture_output=True, text=True,
                  check=True).stdout
    return {entry["dst"]: entry for entry in json.loads(out)}


def check(results, lines, kernel, cards, wine):
    """lines: neighbourdump's output, split; kernel: ip's entries by address;
    cards: the hardware address that really answers for each address, or None."""
    for address, card in cards.items():
        mine = [line[1:] for line in lines if line[0] == address]
        entry = kernel.get(address, {})
        problems = [] if len(mine) == 1 else [f"{len(mine)} lines for it"]
        if entry.get("lladdr") != card:
            problems.append(f"the kernel holds {entry.get('lladdr')}, the card is {card}")
        if len(mine) == 1:
            mac, state, ago = mine[0]
            want_state = ("reachable" if card else "failed") if wine else entry["state"][0].lower()
            if (mac, state) != (card or "-", want_state):
                problems.append(f"expected {card or '-'} {want_state}")
            if wine or not card:
                if ago != "-":
                    problems.append("a confirmation time where none is known")
            elif not 0 <= entry["confirmed"] - int(ago) <= 1:
                problems.append(f"the kernel says confirmed {entry['confirmed']} s ago")
        results.record(address, problems, " ".join(mine[0]) if len(mine) == 1 else None)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wine")
    parser.add_argument("neighbourdump")
    args = parser.parse_args()
    if not netlab.is_root():
        return skip("the lab's namespaces need root")
    results = Results()
    with netlab.Lab(echo_hosts=1, quiet_host=True) as lab, OtherUser() as stranger, \
            tempfile.TemporaryDirectory(prefix="quorvel-wine-") as prefix:
        silent = lab.silent_addresses[0]
        cards = {lab.echo_addresses[0]: lab.hardware_address(lab.echo, "eth0"),
                 lab.quiet_address: lab.hardware_address(lab.quiet, "eth0"), silent: None}
        if args.wine:
            # Wine's own service processes must start inside the lab: a
            # prefix of the test's own, first started there (see onlab.py).
            os.environ["WINEPREFIX"] = prefix
            lab.run([args.wine, "wineboot", "-i"], capture_output=True, timeout=180, check=True)
            command = [args.wine, args.neighbourdump]
        else:
            command = stranger.wrap([args.neighbourdump])
        try:
            for address in cards:
                lab.run(["ping", "-c1", "-W1", address], capture_output=True, timeout=10)
            wait_until(lambda: kernel_table(lab).get(silent, {}).get("state") == ["FAILED"], 10,
                       f"{silent} failed in the kernel's table")
            run = lab.run(command, capture_output=True, text=True, timeout=60, errors="replace")
            kernel = kernel_table(lab)
        finally:
            if args.wine:
                lab.run(["wineserver", "-k"], capture_output=True, timeout=60)
        if results.check("neighbourdump ran", run.returncode == 0, run.stderr[-500:]):
            check(results, [line.split() for line in run.stdout.splitlines() if line.strip()],
                  kernel, cards, bool(args.wine))
    return results.exit_code()


if __name__ == "__main__":
    sys.exit(main())
