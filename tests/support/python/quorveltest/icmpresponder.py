#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""An ICMP echo responder for the test network (lab.py). It runs as root
inside the lab's responder namespace, where the kernel's own echo replies are
switched off, reads every echo request with a raw socket and answers the
requests to the addresses it was given, each address with its behaviour:

    reply                    a normal echo reply at once
    late:<ms>                a normal echo reply after <ms> milliseconds
    size:<n>                 an echo reply carrying <n> data bytes
    from:<a.b.c.d>           an echo reply sent from another address
    error:<type>:<code>[:<a.b.c.d>]
                             an ICMP error report that quotes the request (IP
                             header and 8 bytes), from the router address or
                             from the address given
    decoy                    first answers that belong to other requests (other
                             sequence, other identifier, error reports on
                             another destination or sequence), then after
                             150 ms the right reply
    silent                   nothing

Usage: icmpresponder.py [--router A.B.C.D] [--lifetime S] ADDRESS=BEHAVIOUR...
It prints "ready" once its sockets are open and runs until it is ended or its
lifetime (default 900 s) is over.
"""

import argparse
import heapq
import select
import socket
import struct
import sys
import time

DECOY_DELAY = 0.150
MAX_REQUESTS = 100000


def checksum(data):
    if len(data) % 2:
        data += b"\0"
    total = sum(struct.unpack(f"!{len(data) // 2}H", data))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


def icmp_message(type_, code, rest, data):
    head = struct.pack("!BBH4s", type_, code, 0, rest)
    return struct.pack("!BBH4s", type_, code, checksum(head + data), rest) + data


def ip_packet(source, destination, payload, ttl=64):
    header = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(payload), 0, 0, ttl, 1, 0,
                         socket.inet_aton(source), socket.inet_aton(destination))
    header = header[:10] + struct.pack("!H", checksum(header)) + header[12:]
    return header + payload


class Request:
    def __init__(self, packet):
        ihl = (packet[0] & 0x0F) * 4
        self.raw = packet
        self.header_length = ihl
        self.source = socket.inet_ntoa(packet[12:16])
        self.destination = socket.inet_ntoa(packet[16:20])
        self.type, self.code = packet[ihl], packet[ihl + 1]
        self.ident, self.sequence = struct.unpack("!HH", packet[ihl + 4:ihl + 8])
        self.data = packet[ihl + 8:]

    def reply(self, data=None, source=None, ident=None, sequence=None):
        rest = struct.pack("!HH", self.ident if ident is None else ident,
                           self.sequence if sequence is None else sequence)
        message = icmp_message(0, 0, rest, self.data if data is None else data)
        return ip_packet(source or self.destination, self.source, message)

    def quoted(self, destination=None, sequence=None):
        """The request's IP header and first 8 ICMP bytes, as an error quotes them."""
        packet = bytearray(self.raw[:self.header_length + 8])
        if destination is not None:
            packet[16:20] = socket.inet_aton(destination)
        if sequence is not None:
            packet[self.header_length + 6:self.header_length + 8] = struct.pack("!H", sequence)
        return bytes(packet)

    def error(self, type_, code, source, quoted=None):
        message = icmp_message(type_, code, b"\0\0\0\0", quoted or self.quoted())
        return ip_packet(source, self.source, message)


def answers(request, behaviour, router):
    """[(delay in seconds, packet)] for one request."""
    name, _, argument = behaviour.partition(":")
    if name == "reply":
        return [(0, request.reply())]
    if name == "late":
        return [(int(argument) / 1000, request.reply())]
    if name == "size":
        size = int(argument)
        data = (request.data * (size // max(1, len(request.data)) + 1))[:size]
        return [(0, request.reply(data=data))]
    if name == "from":
        return [(0, request.reply(source=argument))]
    if name == "error":
        parts = argument.split(":")
        source = parts[2] if len(parts) > 2 else router
        return [(0, request.error(int(parts[0]), int(parts[1]), source))]
    if name == "decoy":
        other_sequence = (request.sequence + 1) & 0xFFFF
        return [
            (0, request.reply(sequence=other_sequence)),
            (0, request.reply(ident=request.ident ^ 0x5555)),
            (0, request.error(3, 1, router, request.quoted(destination="10.200.3.250"))),
            (0, request.error(11, 0, router, request.quoted(sequence=other_sequence))),
            (DECOY_DELAY, request.reply()),
        ]
    if name == "silent":
        return []
    raise ValueError(f"unknown behaviour {behaviour!r}")


def parse_behaviours(items):
    behaviours = {}
    for item in items:
        address, _, behaviour = item.partition("=")
        socket.inet_aton(address)
        answers_check = behaviour.partition(":")[0]
        if answers_check not in ("reply", "late", "size", "from", "error", "decoy", "silent"):
            raise SystemExit(f"icmpresponder: unknown behaviour in {item!r}")
        behaviours[address] = behaviour
    return behaviours


def serve(behaviours, router, lifetime):
    receiver = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_ICMP)
    sender = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_RAW)
    print("ready", flush=True)
    pending = []  # heap of (due, order, packet, destination)
    order = 0
    requests = 0
    end = time.monotonic() + lifetime
    while time.monotonic() < end and requests < MAX_REQUESTS:
        now = time.monotonic()
        while pending and pending[0][0] <= now:
            _, _, packet, destination = heapq.heappop(pending)
            sender.sendto(packet, (destination, 0))
        wait = min(end - now, pending[0][0] - now if pending else 1.0)
        readable, _, _ = select.select([receiver], [], [], max(0.0, wait))
        if not readable:
            continue
        packet = receiver.recv(65535)
        if len(packet) < 28:
            continue
        request = Request(packet)
        behaviour = behaviours.get(request.destination)
        if request.type != 8 or behaviour is None:
            continue
        requests += 1
        for delay, answer in answers(request, behaviour, router):
            order += 1
            heapq.heappush(pending, (time.monotonic() + delay, order, answer, request.source))


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--router", default="10.200.2.2")
    parser.add_argument("--lifetime", type=float, default=900)
    parser.add_argument("behaviours", nargs="+", metavar="ADDRESS=BEHAVIOUR")
    args = parser.parse_args()
    try:
        serve(parse_behaviours(args.behaviours), args.router, args.lifetime)
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
