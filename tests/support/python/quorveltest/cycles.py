# SPDX-License-Identifier: GPL-3.0-or-later
"""quorvel's trace, cut into probe cycles.

Every cycle ends with its verdict lines "0:s" ... "(n-1):s", one per host, so
a cycle is everything from the end of the previous one up to and including
the line of host n-1. A cycle started by UPDATE begins with the host table
("Index-..." lines); one started by the probe timer does not.
"""
import re

VERDICT = re.compile(r"(\d+):(\d+)")
CHILD = re.compile(r"child processId=(\d+)")


class Cycle:
    def __init__(self, lines):
        self.lines = lines  # (arrival time, text)
        self.start = lines[0][0]
        self.end = lines[-1][0]

    @property
    def texts(self):
        return [text for _, text in self.lines]

    @property
    def by_update(self):
        return self.texts[0].startswith("Index-")

    def verdicts(self):
        return [int(m.group(2)) for m in map(VERDICT.fullmatch, self.texts) if m]

    def pids(self):
        return [int(m.group(1)) for m in map(CHILD.fullmatch, self.texts) if m]

    def normalised(self):
        """The cycle's text with every process id replaced by <pid>."""
        return "\n".join(CHILD.sub("child processId=<pid>", text) for text in self.texts)

    def first(self, prefix):
        """Arrival time of the first line that begins with prefix."""
        return next(t for t, text in self.lines if text.startswith(prefix))

    def last(self, prefix):
        return [t for t, text in self.lines if text.startswith(prefix)][-1]


def cycles(lines, hostnum):
    """The complete cycles in a trace, and the lines after the last one."""
    found = []
    current = []
    for line in lines:
        current.append(line)
        m = VERDICT.fullmatch(line[1])
        if m and int(m.group(1)) == hostnum - 1:
            found.append(Cycle(current))
            current = []
    return found, current
