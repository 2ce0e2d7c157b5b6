#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""One probe cycle through the real dispatcher and the real zendrik on the lab
network: hosts that answer (one of them late, placed first), an unassigned
address and an address behind an unreachable route, in one cycle. Checks the
whole trace, with process ids as placeholders, and each host's result.

Needs root; exits 77 (skipped) without it. Only addresses inside the lab.
"""

import os
import re
import sys

from quorveltest import skip
from quorveltest import lab as netlab

LATE = "10.200.3.11"


def expected_trace(words):
    lines = ["child processId=<pid>\n"] * len(words)
    lines += [f"PipeServer: {w}\n" for w in words]
    lines += ["wait result=WAIT_OBJECT_0\nexitCode=0/0\n"] * len(words)
    results = " ".join("1" if w == "alive" else "0" for w in words)
    return "".join(lines) + f"results: {results}\n"


def main():
    if os.geteuid() != 0:
        return skip("the lab's namespaces need root")
    driver = sys.argv[1]
    with netlab.Lab(echo_hosts=2) as lab:
        lab.start_responder({LATE: "late:400"})
        hosts = [
            (LATE, "alive"),  # answers 400 ms late, within the time-out, yet first in line
            (lab.echo_addresses[0], "alive"),
            (lab.silent_addresses[0], "dead"),
            (lab.unreachable_addresses[0], "dead"),
            (lab.echo_addresses[1], "alive"),
        ]
        run = lab.run(
            [driver, "-c", "20", "-t", "1000", *[a for a, _ in hosts]],
            capture_output=True,
            text=True,
            timeout=60,
        )
    trace = re.sub(r"processId=\d+", "processId=<pid>", run.stdout)
    want = expected_trace([w for _, w in hosts])
    if run.returncode != 0 or trace != want:
        print(f"exit status {run.returncode}\n--- trace\n{trace}--- expected\n{want}"
              f"--- stderr\n{run.stderr}")
        return 1
    print(run.stdout, end="")
    return 0


if __name__ == "__main__":
    sys.exit(main())
