#!/usr/bin/env python3
"""The Windows Wake-on-LAN sender under Wine, on loopback: a host 127.0.N.20
has the "broadcast" address 127.0.N.255, which a Linux UDP socket bound there
receives. Exactly one datagram must arrive on port 9, the 102-byte magic
packet for the host's hardware address. Binding port 9 needs root: without
it the test is skipped (exit 77).

  wakeonlan.py WINE WOLSEND.EXE
"""
import socket
import subprocess
import sys
import time

NETWORK = 13  # a loopback network that no other test of this build uses
HWADDRESS = bytes([0x00, 0x11, 0x22, 0x33, 0x44, 0x55])


def main():
    wine, program = sys.argv[1:3]
    receiver = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        receiver.bind((f"127.0.{NETWORK}.255", 9))
    except PermissionError as error:
        print(f"cannot bind UDP port 9 ({error}); run as root to test the send")
        return 77
    run = subprocess.run([wine, program, f"127.0.{NETWORK}.20", HWADDRESS.hex(":")],
                         capture_output=True, timeout=60, check=False)
    print(run.stdout.decode(errors="replace"), run.stderr.decode(errors="replace"))
    receiver.settimeout(2)
    datagrams = []
    end = time.monotonic() + 2
    while time.monotonic() < end and len(datagrams) < 16:
        try:
            datagrams.append(receiver.recvfrom(2048))
        except socket.timeout:
            break
    expected = b"\xff" * 6 + HWADDRESS * 16
    failures = []
    if run.returncode != 0:
        failures.append(f"wolsend ended with {run.returncode}")
    if len(datagrams) != 1:
        failures.append(f"{len(datagrams)} datagrams arrived, expected 1")
    elif datagrams[0][0] != expected:
        failures.append(f"the datagram is {datagrams[0][0].hex()}, expected {expected.hex()}")
    for failure in failures:
        print("wakeonlan:", failure)
    if not failures:
        print(f"one magic packet of {len(expected)} bytes from {datagrams[0][1][0]}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
