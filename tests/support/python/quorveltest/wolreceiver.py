#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Receives every UDP datagram to port 9 in the namespace it runs in (the
lab's echo namespace, on the network of the monitor's lan0) and prints one
JSON line per datagram: its arrival time (CLOCK_MONOTONIC, the same clock as
time.monotonic() in any process of this machine), the sender's address and
port, the address it was sent to, and its bytes in hex.

Prints "ready" once it listens; ends after --lifetime seconds (default 120).
"""
import argparse
import json
import select
import socket
import time

IP_PKTINFO = getattr(socket, "IP_PKTINFO", 8)


def destination(ancillary):
    for level, kind, data in ancillary:
        if level == socket.IPPROTO_IP and kind == IP_PKTINFO:
            # struct in_pktinfo: interface index, local address, header destination
            return socket.inet_ntoa(data[8:12])
    return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--lifetime", type=float, default=120)
    args = parser.parse_args()
    receiver = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    receiver.setsockopt(socket.IPPROTO_IP, IP_PKTINFO, 1)
    receiver.bind(("0.0.0.0", 9))
    print("ready", flush=True)
    end = time.monotonic() + args.lifetime
    while (left := end - time.monotonic()) > 0:
        readable, _, _ = select.select([receiver], [], [], left)
        if not readable:
            continue
        data, ancillary, _, source = receiver.recvmsg(65536, 256)
        print(json.dumps({"time": time.monotonic(), "source": list(source),
                          "destination": destination(ancillary), "bytes": data.hex()}),
              flush=True)


if __name__ == "__main__":
    main()
