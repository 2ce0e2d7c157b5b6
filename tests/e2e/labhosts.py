# SPDX-License-Identifier: GPL-3.0-or-later
"""The hosts quorvel's end-to-end cases watch on the test network
(quorveltest.lab), in host-list order:

  late     10.200.3.11   our responder answers after 700 ms, within the
                         1500 ms time-out; first in the list, so its late
                         verdict is the first one waited for
  echo1    10.200.1.2    the echo namespace's kernel answers
  echo2    10.200.1.3    the same machine: one card answers ARP for both
  silent   10.200.1.200  on the network, held by no one
  unreach  10.200.4.1    behind the monitor's unreachable route
  toolate  10.200.3.12   our responder answers after 2500 ms, too late

Kept apart from the cases' own helpers so that the lab can be built from it
without the accessibility bus.
"""

RESPONDER = {"10.200.3.11": "late:700", "10.200.3.12": "late:2500"}
ECHO_ADDRESSES = ["10.200.1.2", "10.200.1.3"]

HOSTLIST = """\
late    10.200.3.11   02:00:00:03:00:0b
echo1   10.200.1.2    02:00:00:01:00:02
echo2   10.200.1.3    02:00:00:01:00:02
silent  10.200.1.200  02:5a:00:c0:ff:ee
unreach 10.200.4.1    02:00:00:04:00:01
toolate 10.200.3.12   02:00:00:03:00:0c
"""
