#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes the seed inputs of the fuzz targets into their corpus directories
(tests/fuzz/<target>/seed-*). Run it again after changing a seed; inputs that
made a target fail are kept beside the seeds as crash-* and are not touched.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    directory = os.path.join(HERE, target)
    os.makedirs(directory, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("latin-1")
    with open(os.path.join(directory, "seed-" + name), "wb") as f:
        f.write(data)


def words(*items):
    return b"\0".join(w.encode("latin-1") for w in items)


def hostlists():
    write("hostlist", "accepted", (
        "pc1 192.168.1.10 00:11:22:33:44:55\n"
        "printer 10.0.0.2 AA-BB-CC-DD-EE-FF\n"
        "fileserver\t10.0.0.3\taa:bb:cc:dd:ee:0f # attic\n"
        "pc14 192.168.010.007 0a:0B:0c:0D:0e:0F\n"
        "pc5 192.168.1.300 00:11:22:33:44:55\n"
        "pc10 192,168,1,100 00:11:22:33:44:55\n"
        "pc8 192.168.1.80 00-11-22-33-44-55-66\n"
        "   #pc12  192.168.1.120 \t 00:11:22:33:44:55: \n"
        "pc%d 1.2.3.4 ffffffff:7fffffff:01:02:03:04\n"))
    write("hostlist", "rejected", (
        "pc2 192.168.1 00:11:22:33:44:55\n"
        "pc11 192..168.1.1 00:11:22:33:44:55\n"
        "pc3 192.168.1.30 00:11:22:33:44\n"
        "pc4 192.168.1.40 0:11:22:33:44:55\n"
        "pc7 192.168.1.70 0011.2233.4455\n"
        "pc17 192.168.1.170 :00:11:22:33:44:55\n"
        "pc6 192.168.1.60\n"
        "# office hosts\n"
        "\n"
        "pc 0000000127.0.0.1 00:11:22:33:44:55\n"))
    write("hostlist", "crlf-nul", "pc1 10.0.0.1 00:11:22:33:44:55\r\n"
          "pc\x002 10.0.0.2 00:11:22:33:44:55\r\n"
          "pc3 10.0.0.3 00:11:22:33:44:55\x00junk\r\n")
    write("hostlist", "long-line", "x" * 999 + " pc9 10.0.0.9 02:00:00:00:00:09\n" + "y" * 2500)
    write("hostlist", "forty", "".join(
        f"h{k} 10.0.{k}.1 02:00:00:00:00:{k:02x}\n" for k in range(40)))


def quorvel_commandlines():
    write("quorvel_cmdline", "all", words("-t", "500", "-c", "20", "-o", "20", "-r", "50"))
    write("quorvel_cmdline", "slash", words("/t", "500", "-timeout", "12abc", "/c", "-5"))
    write("quorvel_cmdline", "unknown", words("-x", "5"))
    write("quorvel_cmdline", "noword", words("hello"))
    write("quorvel_cmdline", "novalue", words("-t"))
    write("quorvel_cmdline", "huge", words("-o", "99999999999999999999", "-t", "-2147483649"))
    write("quorvel_cmdline", "empty", words("-c", "20", ""))


def zendrik_commandlines():
    write("zendrik_cmdline", "monitor", words("-i", "3", "-h", "192.168.1.20", "-t", "1000"))
    write("zendrik_cmdline", "slash", words("/t", "1000", "/h", "10.1.1.1", "/index", "4"))
    write("zendrik_cmdline", "skip", words("-x", "5", "-i", "2"))
    write("zendrik_cmdline", "longhost", words("-h", "123.123.123.1234"))
    write("zendrik_cmdline", "numbers", words("-t", "  +00042x", "-i", "-2147483649",
                                              "-t", "abc", "-i", "99999999999"))
    write("zendrik_cmdline", "lastoption", words("-i", "1", "-h"))


def pipe_texts():
    write("pipe_verdict", "alive", "alive")
    write("pipe_verdict", "dead", "dead")
    write("pipe_verdict", "alive-nul", "alive\0more")
    write("pipe_verdict", "alive-newline", "alive\n")
    write("pipe_verdict", "capital", "Alive")
    write("pipe_verdict", "empty", "")
    write("pipe_verdict", "full", "x" * 256)
    write("pipe_verdict", "overlong", "alive" + "\0" * 300)


def ping_logs():
    host = "192.168.0.1"

    def log(*messages, hosttext=host):
        return bytes([len(hosttext)]) + hosttext.encode() + words(*messages)

    reply = f"Got Ping-Reply from {host}:  (32 Bytes)\n"
    write("ping_log", "alive", log(f"\nPinging to {host}\n\n", reply))
    write("ping_log", "timeout", log(f"\nPinging to {host}\n\n", "failed(5) err(5)\n", "#11010"))
    write("ping_log", "status", log(f"\nPinging to {host}\n\n", reply, "#11003"))
    write("ping_log", "size", log(f"Got Ping-Reply from {host}:  (320 Bytes)\n"))
    write("ping_log", "longer", log("Got Ping-Reply from 192.168.0.10:  (32 Bytes)\n"))
    write("ping_log", "overflow", log("z" * 5000, reply))
    write("ping_log", "format", log("%s%n%x %%", reply))


def icmp_packets():
    ident, sequence = 0x1234, 0x0042
    destination = bytes([127, 0, 0, 5])
    data = bytes(range(0x20, 0x40))

    def checksum(message):
        if len(message) % 2:
            message += b"\0"
        total = sum(struct.unpack(f"!{len(message) // 2}H", message))
        while total >> 16:
            total = (total & 0xFFFF) + (total >> 16)
        return (~total) & 0xFFFF

    def icmp(kind, code, rest):
        body = bytes([kind, code, 0, 0]) + rest
        return bytes([kind, code]) + struct.pack("!H", checksum(body)) + rest

    def ip(payload, source, dest):
        return (bytes([0x45, 0]) + struct.pack("!H", 20 + len(payload)) + bytes(4) +
                bytes([64, 1, 0, 0]) + source + dest + payload)

    def head(path, sender=bytes(4), kind=0, code=0, original=bytes(4)):
        return (bytes([path]) + struct.pack("!HH", ident, sequence) + destination + sender +
                bytes([kind, code]) + original)

    echo = struct.pack("!HH", ident, sequence)
    request = icmp(8, 0, echo + data)
    reply = icmp(0, 0, echo + data)
    local = bytes([127, 0, 0, 1])
    write("icmp_reply", "raw-reply", head(0) + ip(reply, destination, local))
    write("icmp_reply", "raw-unreachable",
          head(0) + ip(icmp(3, 1, bytes(4) + ip(request, local, destination)[:28]),
                       bytes([10, 0, 0, 1]), local))
    write("icmp_reply", "raw-ttl",
          head(0) + ip(icmp(11, 0, bytes(4) + ip(request, local, destination)), local, local))
    write("icmp_reply", "raw-other", head(0) + ip(icmp(0, 0, struct.pack("!HH", 1, 2) + data),
                                                  destination, local))
    write("icmp_reply", "raw-options", head(0) + bytes([0x46]) + ip(reply, destination, local)[1:])
    write("icmp_reply", "datagram-reply", head(1, destination) + reply)
    write("icmp_reply", "queue-unreachable",
          head(2, bytes([10, 0, 0, 1]), 3, 3, destination) + request[:8])
    write("icmp_reply", "queue-short", head(2, destination, 12, 0, destination) + request[:4])


def pipe_connections():
    def conns(probe, uid, *peers):
        return struct.pack("<2i", probe, uid) + b"".join(struct.pack("<2i", *p) for p in peers)
    write("pipe_accept", "probe-first", conns(4242, 1000, (4242, 1000), (4242, 1000)))
    write("pipe_accept", "intruders-first", conns(4242, 1000, (0, 1000), (99, 1000),
                                                  (4242, 0), (4242, 1000)))
    write("pipe_accept", "no-probe", conns(0, 1000, (0, 1000), (0, 0)))
    write("pipe_accept", "outside-namespace", conns(17, 0, (0, 0), (-1, 0), (17, 0)))


def probe_commands():
    write("probe_command", "monitor", "zendrik.exe -i 3 -h 192.168.1.20 -t 1000")
    write("probe_command", "quoted", 'probe.exe "-i" "" plain "a b"\tsub.exe')
    write("probe_command", "paths", "/bin/sh ./zendrik.exe ../missing/zendrik zendrik")
    write("probe_command", "unclosed", '"zendrik \v\f')


def echo_stores():
    def store(name, replysize, datasize, rest=bytes(range(0x20, 0x40))):
        head = struct.pack("<II", replysize, datasize) + bytes([10, 200, 1, 2])
        head += struct.pack("<II", 0, 7) + bytes([64, 0])
        write("icmp_store", name, head + rest)

    record = 40  # the reply record's size on a 64-bit build
    store("fits", record + 40, 32)
    store("exact", record + 32, 32)
    store("short", record + 5, 32)
    store("recordonly", record, 32)
    store("toosmall", record - 1, 32)
    store("empty", 0, 0)
    store("overlong", 0x1FFFF, 0x1FFFF, b"\xab")


def echo_controls():
    def cmsg(level, kind, payload):
        header = struct.pack("=Qii", 16 + len(payload), level, kind)
        return header + payload + bytes(-len(payload) % 8)

    ip, sol = 0, 1
    ip_ttl, ip_tos, ip_recverr, so_timestamp = 2, 1, 11, 29

    def head(selector, kind=3, code=1, foreign=0, cut=0):
        return (bytes([selector]) + struct.pack("!HH", 0x1234, 0x0042) + bytes([127, 0, 0, 5]) +
                bytes([10, 0, 0, 1]) + bytes([64, 0x10, kind, code, foreign, cut]))

    def recverr(origin, kind, code, offender):
        error = struct.pack("=IBBBBII", 113, origin, kind, code, 0, 0, 0)
        address = struct.pack("=HH", 2, 0) + bytes(offender) + bytes(8)
        return cmsg(ip, ip_recverr, error + address)

    ttl_tos = cmsg(ip, ip_ttl, struct.pack("=i", 57)) + cmsg(ip, ip_tos, b"\x08")
    write("icmp_control", "ttl-tos", head(0) + ttl_tos)
    write("icmp_control", "foreign-first", head(0, foreign=12, cut=3) +
          cmsg(sol, so_timestamp, bytes(16)) + ttl_tos)
    write("icmp_control", "ttl-short", head(0) + struct.pack("=Qii", 17, ip, ip_ttl) + b"\x39")
    write("icmp_control", "length-past-end", head(0) + struct.pack("=Qii", 4096, ip, ip_ttl) +
          bytes(4))
    write("icmp_control", "length-huge", head(0) + struct.pack("=Qii", 2 ** 64 - 8, ip, ip_tos) +
          bytes(8) + ttl_tos)
    write("icmp_control", "recverr", head(1) + recverr(2, 3, 1, [10, 0, 0, 1]))
    write("icmp_control", "recverr-local", head(1, 11, 0) + recverr(1, 11, 0, [10, 0, 0, 1]))
    write("icmp_control", "recverr-short", head(1, cut=9) + recverr(2, 3, 1, [10, 0, 0, 1])[:40])


if __name__ == "__main__":
    hostlists()
    quorvel_commandlines()
    zendrik_commandlines()
    pipe_texts()
    ping_logs()
    icmp_packets()
    pipe_connections()
    probe_commands()
    echo_stores()
    echo_controls()
