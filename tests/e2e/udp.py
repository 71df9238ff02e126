#!/usr/bin/env python3
"""Raw SNMP datagrams for the end-to-end tests, where net-snmp's tools cannot
reach: the reply's source address, the exact shape of a reply, and datagrams
that no well-behaved manager sends.

  udp.py request [--to A] [--bind A] [--version N] [--community C]
                 [--pdu get|getnext|bulk] [--bulk N,R] OID...
      sends one request and prints "from ADDR:PORT", "pdu TAG status S index I
      size BYTES" and one "OID TAG LENGTH" line per binding; exit 3 when no
      reply comes within a second.
  udp.py capture
      reads the output of `snmpget -d` on stdin and prints the first datagram
      it sent, in hex.
  udp.py hostile [--mutations N] HEX
      sends truncations of the valid request HEX, random datagrams and
      malformed ones in batches, each followed by HEX itself; fails when
      anything but the reply to HEX comes back. Then N copies of HEX with
      random octets changed, which may be answered, but must leave the agent
      answering HEX.
  udp.py burst [--senders N] OID
      N sockets send a Get of OID each, all before any reply is read, each
      with a request ID of its own; fails unless every socket gets exactly
      one reply, carrying its request ID.
"""
import argparse
import random
import re
import socket
import sys
import time

AGENT_PORT = 161


def tlv(tag, content):
    n = len(content)
    if n < 128:
        header = bytes([tag, n])
    else:
        octets = n.to_bytes((n.bit_length() + 7) // 8, "big")
        header = bytes([tag, 0x80 | len(octets)]) + octets
    return header + content


def integer(value, tag=2):
    return tlv(tag, value.to_bytes(max(1, (value.bit_length() + 8) // 8), "big", signed=True))


def oid(text):
    arcs = [int(a) for a in text.strip(".").split(".")]
    body = [40 * arcs[0] + arcs[1]] + arcs[2:]
    out = bytearray()
    for arc in body:
        chunk = [arc & 0x7F]
        arc >>= 7
        while arc:
            chunk.append(0x80 | (arc & 0x7F))
            arc >>= 7
        out += bytes(reversed(chunk))
    return tlv(6, bytes(out))


def build_request(version, community, pdu_tag, request_id, second, third, names):
    bindings = b"".join(tlv(0x30, oid(n) + tlv(5, b"")) for n in names)
    pdu = tlv(pdu_tag, integer(request_id) + integer(second) + integer(third) + tlv(0x30, bindings))
    return tlv(0x30, integer(version) + tlv(4, community.encode()) + pdu)


def read_tlv(data, pos):
    """Returns (tag, content start, content end) of the element at pos."""
    tag = data[pos]
    first = data[pos + 1]
    pos += 2
    if first < 128:
        length = first
    else:
        count = first & 0x7F
        length = int.from_bytes(data[pos:pos + count], "big")
        pos += count
    if pos + length > len(data):
        raise ValueError("element runs past the datagram")
    return tag, pos, pos + length


def decode_oid(content):
    arcs, value = [], 0
    for octet in content:
        value = (value << 7) | (octet & 0x7F)
        if not octet & 0x80:
            arcs.append(value)
            value = 0
    first = arcs[0]
    head = [min(first // 40, 2), first - 40 * min(first // 40, 2)]
    return "." + ".".join(str(a) for a in head + arcs[1:])


def pdu_header(data):
    """The PDU tag of a version 1 or 2c message, its request ID, and the
    position after the request ID."""
    _, pos, _ = read_tlv(data, 0)
    _, _, pos = read_tlv(data, pos)          # version
    _, _, pos = read_tlv(data, pos)          # community
    pdu_tag, pos, _ = read_tlv(data, pos)
    _, s, pos = read_tlv(data, pos)
    return pdu_tag, int.from_bytes(data[s:pos], "big", signed=True), pos


def describe_reply(data):
    """The lines that `request` prints for a version 1 or 2c reply."""
    pdu_tag, _, pos = pdu_header(data)
    _, s, pos = read_tlv(data, pos)
    status = int.from_bytes(data[s:pos], "big", signed=True)
    _, s, pos = read_tlv(data, pos)
    index = int.from_bytes(data[s:pos], "big", signed=True)
    lines = ["pdu %#x status %d index %d size %d" % (pdu_tag, status, index, len(data))]
    _, pos, end = read_tlv(data, pos)        # binding list
    while pos < end:
        _, inner, pos = read_tlv(data, pos)
        _, s, e = read_tlv(data, inner)
        value_tag, vs, ve = read_tlv(data, e)
        lines.append("%s %#x %d" % (decode_oid(data[s:e]), value_tag, ve - vs))
    return lines


def open_socket(bind):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind((bind, 0))
    return sock


def cmd_request(args):
    pdu_tags = {"get": 0xA0, "getnext": 0xA1, "bulk": 0xA5}
    second, third = (int(x) for x in args.bulk.split(",")) if args.pdu == "bulk" else (0, 0)
    request = build_request(args.version, args.community, pdu_tags[args.pdu], 4711, second, third,
                            args.oids)
    sock = open_socket(args.bind)
    sock.settimeout(1.0)
    sock.sendto(request, (args.to, AGENT_PORT))
    try:
        data, sender = sock.recvfrom(65536)
    except socket.timeout:
        print("no reply")
        return 3
    print("from %s:%d" % sender)
    print("\n".join(describe_reply(data)))
    return 0


def cmd_capture(_args):
    text = sys.stdin.read()
    match = re.search(r"Sending (\d+) bytes to .*?\n((?:[0-9A-F]{4}: .*\n)+)", text)
    if not match:
        print("no datagram in the input", file=sys.stderr)
        return 1
    count = int(match.group(1))
    octets = []
    for line in match.group(2).splitlines():
        octets += re.findall(r"\b[0-9A-F]{2}\b", line[6:6 + 16 * 3 + 4])
    print("".join(octets[:count]).lower())
    return 0


def deep_nesting(size):
    """SEQUENCEs nested as deep as `size` octets allow."""
    content = bytearray(b"\x05\x00")
    while len(content) + 4 <= size:
        content[:0] = b"\x30\x82" + len(content).to_bytes(2, "big")
    return bytes(content)


def hostile_datagrams(valid):
    rng = random.Random(161)
    yield b""
    for cut in range(1, len(valid)):
        yield valid[:cut]
    for _ in range(300):
        yield bytes(rng.randrange(256) for _ in range(rng.randrange(1, 200)))
    # Well-formed starts with lying lengths, nesting and encodings.
    yield bytes([0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xFF]) + valid[2:]
    yield bytes([0x30, 0x89]) + bytes(9) + valid[2:]
    yield bytes([0x30, 0x80]) + valid[2:] + b"\x00\x00"        # indefinite length
    yield valid + b"\x00"                                      # trailing octet
    yield deep_nesting(65507)
    yield b"\x30\x80" * 1000
    yield tlv(0x30, integer(1) + tlv(4, b"morvel") + tlv(0xA0, integer(1) + integer(0)))
    yield tlv(0x30, integer(1) + tlv(4, b"morvel") + tlv(0xA0, integer(1) + integer(0) +
                                                            integer(0) + tlv(0x30, tlv(0x30, b""))))
    huge_arc = tlv(6, b"\x2b" + b"\x90\x80\x80\x80\x00")       # the arc 2^32
    yield tlv(0x30, integer(1) + tlv(4, b"morvel") + tlv(0xA0, integer(1) + integer(0) +
                                                            integer(0) + tlv(0x30, tlv(0x30, huge_arc + tlv(5, b"")))))
    long_oid = tlv(6, b"\x2b" + b"\x01" * 300)                  # 301 arcs
    yield tlv(0x30, integer(1) + tlv(4, b"morvel") + tlv(0xA0, integer(1) + integer(0) +
                                                            integer(0) + tlv(0x30, tlv(0x30, long_oid + tlv(5, b"")))))
    for version in (3, 4, -1):
        yield build_request(version, "morvel", 0xA0, 1, 0, 0, [".1.3.6.1.3.9999.1.0"])
    for pdu_tag in (0xA2, 0xA4, 0xA6, 0xA7, 0xA8, 0xA9):
        yield build_request(1, "morvel", pdu_tag, 1, 0, 0, [".1.3.6.1.3.9999.1.0"])


def cmd_hostile(args):
    valid = bytes.fromhex(args.hex)
    sock = open_socket("127.0.0.1")
    agent = ("127.0.0.1", AGENT_PORT)

    def exchange_valid(expected=None):
        """Sends the valid request; returns the replies up to the one equal to
        `expected` (the first reply when None), or up to a time-out."""
        sock.sendto(valid, agent)
        replies = []
        sock.settimeout(5.0)
        try:
            while True:
                replies.append(sock.recvfrom(65536)[0])
                if expected is None or replies[-1] == expected:
                    return replies
        except socket.timeout:
            return replies

    reference = exchange_valid()
    if not reference:
        print("no reply to the valid request " + valid.hex())
        return 1
    # The agent serves datagrams in order, so a reply to a hostile datagram
    # arrives before the reply to the valid request that follows it. Small
    # batches keep the agent's receive buffer from overflowing.
    datagrams = list(hostile_datagrams(valid))
    for first in range(0, len(datagrams), 20):
        batch = datagrams[first:first + 20]
        for datagram in batch:
            sock.sendto(datagram, agent)
        replies = exchange_valid(reference[0])
        if replies != reference:
            print("after datagrams %d to %d (the first 64 octets of each):" %
                  (first, first + len(batch) - 1))
            for datagram in batch:
                print("  " + datagram[:64].hex())
            print("expected only the reply %s, got:" % reference[0].hex())
            for reply in replies:
                print("  " + reply[:200].hex())
            return 1
    # Mutations of the valid request may well be valid requests themselves:
    # they only must not stop the agent from answering.
    rng = random.Random(162)
    for _ in range(args.mutations // 20):
        for _ in range(20):
            mutated = bytearray(valid)
            for _ in range(rng.randrange(1, 4)):
                mutated[rng.randrange(len(mutated))] = rng.randrange(256)
            sock.sendto(bytes(mutated), agent)
        replies = exchange_valid(reference[0])
        if not replies or replies[-1] != reference[0]:
            print("no reply to the valid request after mutated ones")
            return 1
    print("%d hostile datagrams, no reply; %d mutations" % (len(datagrams), args.mutations))
    return 0


def cmd_burst(args):
    agent = ("127.0.0.1", AGENT_PORT)
    senders = [open_socket("127.0.0.1") for _ in range(args.senders)]
    for number, sock in enumerate(senders):
        sock.sendto(build_request(1, "morvel", 0xA0, 1000 + number, 0, 0, [args.oid]), agent)
    for number, sock in enumerate(senders):
        sock.settimeout(5.0)
        try:
            reply = sock.recvfrom(65536)[0]
        except socket.timeout:
            print("sender %d: no reply" % number)
            return 1
        request_id = pdu_header(reply)[1]
        if request_id != 1000 + number:
            print("sender %d: the reply to request %d" % (number, request_id))
            return 1
        sock.settimeout(0.2)
        try:
            sock.recvfrom(65536)
            print("sender %d: a second reply" % number)
            return 1
        except socket.timeout:
            pass
    print("%d senders, one reply each" % args.senders)
    return 0


def cmd_busy(args):
    """A manager that keeps --in-flight requests outstanding, for a while."""
    agent = ("127.0.0.1", AGENT_PORT)
    sock = open_socket("127.0.0.1")
    sock.settimeout(1.0)
    sent = answered = 0
    end = time.monotonic() + args.seconds
    while time.monotonic() < end or answered < sent:
        while sent < answered + args.in_flight and time.monotonic() < end:
            sock.sendto(build_request(1, "morvel", 0xA0, sent, 0, 0, [args.oid]), agent)
            sent += 1
        try:
            reply = sock.recvfrom(65536)[0]
        except socket.timeout:
            print("request %d: no reply" % answered)
            return 1
        if pdu_header(reply)[1] != answered:
            print("request %d: the reply to another" % answered)
            return 1
        answered += 1
    print("%d requests answered, %d outstanding at a time" % (answered, args.in_flight))
    return 0


def main():
    parser = argparse.ArgumentParser()
    sub = parser.add_subparsers(dest="command", required=True)
    request = sub.add_parser("request")
    request.add_argument("--to", default="127.0.0.1")
    request.add_argument("--bind", default="127.0.0.1")
    request.add_argument("--version", type=int, default=1)
    request.add_argument("--community", default="morvel")
    request.add_argument("--pdu", choices=["get", "getnext", "bulk"], default="get")
    request.add_argument("--bulk", default="0,10")
    request.add_argument("oids", nargs="*")
    sub.add_parser("capture")
    hostile = sub.add_parser("hostile")
    hostile.add_argument("--mutations", type=int, default=0)
    hostile.add_argument("hex")
    burst = sub.add_parser("burst")
    burst.add_argument("--senders", type=int, default=50)
    burst.add_argument("oid")
    busy = sub.add_parser("busy")
    busy.add_argument("--seconds", type=float, default=5)
    busy.add_argument("--in-flight", type=int, default=4)
    busy.add_argument("oid")
    args = parser.parse_args()
    commands = {"request": cmd_request, "capture": cmd_capture, "hostile": cmd_hostile,
                "burst": cmd_burst, "busy": cmd_busy}
    return commands[args.command](args)


if __name__ == "__main__":
    sys.exit(main())
