#!/usr/bin/env python3
"""Raw SNMP datagrams for the end-to-end tests, where net-snmp's tools cannot
reach: the reply's source address, the exact shape of a reply, and datagrams
that no well-behaved manager sends.

  request [--to A] [--bind A] [--version N] [--community C] [--bulk N,R] OID...
      a Get, or a GetBulk of N non-repeaters and R repetitions (over IPv6 when A is an
      IPv6 address); prints "from ADDR:PORT" ("from [ADDR]:PORT" for IPv6),
      "pdu TAG status S index I size BYTES" and "OID TAG LENGTH" per binding; exit 3
      when no reply comes within a second
  hostile MUTATIONS VERSION OID   truncations of a Get of OID, random and malformed
      datagrams, each batch followed by the Get: only its reply may come back; then
      mutations of the Get, which must leave the agent answering it
  burst SENDERS OID        each sender sends a Get before any reply is read; each must get
      exactly one reply, with its own request ID
  busy SECONDS OID         keeps 4 requests outstanding for that long
  pysnmp USER AUTH/PRIV AUTHPW PRIVPW OID
      through pysnmp's hlapi at authPriv (AUTH/PRIV: SHA/AES, MD5/DES, SHA224/AES256 or
      SHA/AES256C): a Get of OID,
      printing "OID HEX", then a walk of .1.3, printing each name
  v3 USER AUTH/PRIV AUTHPW PRIVPW PAD OID
      that Get made here, after a discovery, with PAD zero octets after the scoped PDU
      (and DES's fill to the block); prints the reply's PDU tag, request ID and flags;
      exit 0 for a Response to the request
  loop                     sends a Report of an unknown user, reportable flag clear, from
      the agent's own address and port (a raw socket)
  set6 SOURCE DEST COMMUNITY OID VALUE
      an SNMPv2c Set of OID to the integer VALUE in an IPv6 packet written here (a raw
      socket), from any SOURCE address (an IPv4-mapped one too) to DEST, port 161
"""
import argparse
import hashlib
import hmac
import random
import socket
import struct
import sys
import time

AGENT = ("127.0.0.1", 161)


def tlv(tag, content):
    n = len(content)
    if n < 128:
        return bytes([tag, n]) + content
    octets = n.to_bytes((n.bit_length() + 7) // 8, "big")
    return bytes([tag, 0x80 | len(octets)]) + octets + content


def integer(value, tag=2):
    return tlv(tag, value.to_bytes(max(1, (value.bit_length() + 8) // 8), "big", signed=True))


def oid(text):
    arcs = [int(a) for a in text.strip(".").split(".")]
    out = bytearray()
    for arc in [40 * arcs[0] + arcs[1]] + arcs[2:]:
        chunk = [arc & 0x7F]
        while arc > 0x7F:
            arc >>= 7
            chunk.append(0x80 | (arc & 0x7F))
        out += bytes(reversed(chunk))
    return tlv(6, bytes(out))


def pdu(tag, request_id, second, third, bindings):
    return tlv(tag, integer(request_id) + integer(second) + integer(third) + tlv(0x30, bindings))


def null_bindings(names):
    return b"".join(tlv(0x30, oid(n) + tlv(5, b"")) for n in names)


def message(version, community, pdu_tag, request_id, second, third, bindings):
    return tlv(0x30, integer(version) + tlv(4, community.encode()) +
               pdu(pdu_tag, request_id, second, third, bindings))


def build_request(version, community, pdu_tag, request_id, second, third, names):
    return message(version, community, pdu_tag, request_id, second, third, null_bindings(names))


def read_tlv(data, pos):
    """Returns (tag, content start, content end) of the element at pos."""
    tag, first, pos = data[pos], data[pos + 1], pos + 2
    length = first
    if first >= 128:
        length = int.from_bytes(data[pos:pos + (first & 0x7F)], "big")
        pos += first & 0x7F
    if pos + length > len(data):
        raise ValueError("element runs past the datagram")
    return tag, pos, pos + length


def read_int(data, pos):
    """The INTEGER at pos, and the position after it."""
    _, start, end = read_tlv(data, pos)
    return int.from_bytes(data[start:end], "big", signed=True), end


def decode_oid(content):
    arcs, value = [], 0
    for octet in content:
        value = (value << 7) | (octet & 0x7F)
        if not octet & 0x80:
            arcs.append(value)
            value = 0
    head = min(arcs[0] // 40, 2)
    return "." + ".".join(str(a) for a in [head, arcs[0] - 40 * head] + arcs[1:])


def pdu_header(data):
    """The PDU tag of a version 1 or 2c message (or of a scoped PDU), its
    request ID, and the position after the request ID."""
    _, pos, _ = read_tlv(data, 0)
    _, _, pos = read_tlv(data, pos)          # version
    _, _, pos = read_tlv(data, pos)          # community
    pdu_tag, pos, _ = read_tlv(data, pos)
    request_id, pos = read_int(data, pos)
    return pdu_tag, request_id, pos


def describe_reply(data):
    """The lines that `request` prints for a version 1 or 2c reply."""
    pdu_tag, _, pos = pdu_header(data)
    status, pos = read_int(data, pos)
    index, pos = read_int(data, pos)
    lines = ["pdu %#x status %d index %d size %d" % (pdu_tag, status, index, len(data))]
    _, pos, end = read_tlv(data, pos)        # binding list
    while pos < end:
        _, inner, pos = read_tlv(data, pos)
        _, s, e = read_tlv(data, inner)
        value_tag, vs, ve = read_tlv(data, e)
        lines.append("%s %#x %d" % (decode_oid(data[s:e]), value_tag, ve - vs))
    return lines


def open_socket(bind="127.0.0.1", timeout=5.0):
    sock = socket.socket(socket.AF_INET6 if ":" in bind else socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind((bind, 0))
    sock.settimeout(timeout)
    return sock


def receive(sock):
    """The next datagram, or None after the socket's time-out."""
    try:
        return sock.recvfrom(65536)[0]
    except socket.timeout:
        return None


def cmd_request(args):
    second, third = (int(x) for x in args.bulk.split(",")) if args.bulk else (0, 0)
    sock = open_socket(args.bind or ("::" if ":" in args.to else "127.0.0.1"), 1.0)
    sock.sendto(build_request(args.version, args.community, 0xA5 if args.bulk else 0xA0, 4711,
                              second, third, args.oids), (args.to, AGENT[1]))
    try:
        data, sender = sock.recvfrom(65536)
    except socket.timeout:
        print("no reply")
        return 3
    print(("from [%s]:%d" if ":" in sender[0] else "from %s:%d") % sender[:2])
    print("\n".join(describe_reply(data)))
    return 0


def hostile_datagrams(valid):
    rng = random.Random(161)
    yield from [b""] + [valid[:cut] for cut in range(1, len(valid))]
    # Truncations whose message length is patched to fit: the inner elements overrun.
    yield from (bytes([0x30, cut - 2]) + valid[2:cut] for cut in range(3, len(valid)))
    # Headers with missing length octets, a reserved length, a high tag number.
    yield from (bytes.fromhex(h) for h in ("308200", "30ff020101", "3f810103020101"))
    for _ in range(300):
        yield bytes(rng.randrange(256) for _ in range(rng.randrange(1, 200)))
    # Well-formed starts with lying lengths, nesting and encodings.
    yield bytes([0x30, 0x84, 0xFF, 0xFF, 0xFF, 0xFF]) + valid[2:]
    yield bytes([0x30, 0x89]) + bytes(9) + valid[2:]
    yield bytes([0x30, 0x80]) + valid[2:] + b"\x00\x00"        # indefinite length
    yield valid + b"\x00"                                      # trailing octet
    deep = b"\x05\x00"                                         # nested as deep as fits
    while len(deep) + 4 <= 65507:
        deep = b"\x30\x82" + len(deep).to_bytes(2, "big") + deep
    yield deep
    yield b"\x30\x80" * 1000
    yield tlv(0x30, integer(1) + tlv(4, b"morvel") + tlv(0xA0, integer(1) + integer(0)))
    for binding in (b"",                                            # empty binding
                    tlv(6, b"\x2b\x90\x80\x80\x80\x00") + tlv(5, b""),     # the arc 2^32
                    tlv(6, b"\x2b" + b"\x01" * 300) + tlv(5, b"")):           # 301 arcs
        yield message(1, "morvel", 0xA0, 1, 0, 0, tlv(0x30, binding))
    for version, pdu_tag in [(2, 0xA0), (3, 0xA0), (4, 0xA0), (-1, 0xA0)] + [
            (1, tag) for tag in (0xA2, 0xA4, 0xA6, 0xA7, 0xA8, 0xA9)]:
        yield build_request(version, "morvel", pdu_tag, 1, 0, 0, [".1.3.6.1.3.9999.1.0"])
    yield build_request(0, "morvel", 0xA5, 1, 0, 5, [".1.3.6.1.3.9999.1.0"])  # GetBulk in v1


def cmd_hostile(args):
    valid = build_request(args.version, "morvel", 0xA0, 4711, 0, 0, [args.oid])
    sock = open_socket()

    def exchange_valid(expected=None):
        """Sends the valid request; returns the replies up to the one equal to
        `expected` (the first reply when None), or up to a time-out."""
        sock.sendto(valid, AGENT)
        replies = []
        while (reply := receive(sock)) is not None:
            replies.append(reply)
            if expected is None or reply == expected:
                break
        return replies

    reference = exchange_valid()
    if not reference:
        sys.exit("no reply to the Get " + valid.hex())
    # The agent serves datagrams in order, so a reply to a hostile datagram
    # arrives before the reply to the valid request that follows it. Small
    # batches keep the agent's receive buffer from overflowing.
    datagrams = list(hostile_datagrams(valid))
    for first in range(0, len(datagrams), 20):
        batch = datagrams[first:first + 20]
        for datagram in batch:
            sock.sendto(datagram, AGENT)
        replies = exchange_valid(reference[0])
        if replies != reference:
            print("after datagrams %d to %d (the first 64 octets of each):" %
                  (first, first + len(batch) - 1))
            print("\n".join("  " + datagram[:64].hex() for datagram in batch))
            print("expected only the reply %s, got:" % reference[0].hex())
            print("\n".join("  " + reply[:200].hex() for reply in replies))
            return 1
    # Mutations of the valid request may well be valid requests themselves:
    # they only must not stop the agent from answering.
    rng = random.Random(162)
    for _ in range(args.mutations // 20):
        for _ in range(20):
            mutated = bytearray(valid)
            for _ in range(rng.randrange(1, 4)):
                mutated[rng.randrange(len(mutated))] = rng.randrange(256)
            sock.sendto(bytes(mutated), AGENT)
        replies = exchange_valid(reference[0])
        if not replies or replies[-1] != reference[0]:
            sys.exit("no reply to the valid request after mutated ones")
    print("%d hostile datagrams, no reply; %d mutations" % (len(datagrams), args.mutations))
    return 0


def cmd_burst(args):
    senders = [open_socket() for _ in range(args.senders)]
    for number, sock in enumerate(senders):
        sock.sendto(build_request(1, "morvel", 0xA0, 1000 + number, 0, 0, [args.oid]), AGENT)
    for number, sock in enumerate(senders):
        reply = receive(sock)
        if reply is None or pdu_header(reply)[1] != 1000 + number:
            sys.exit("sender %d: no reply, or the reply to another" % number)
        sock.settimeout(0.2)
        if receive(sock) is not None:
            sys.exit("sender %d: a second reply" % number)
    print("%d senders, one reply each" % args.senders)
    return 0


def cmd_busy(args):
    sock = open_socket(timeout=1.0)
    sent = answered = 0
    end = time.monotonic() + args.seconds
    while time.monotonic() < end or answered < sent:
        while sent < answered + 4 and time.monotonic() < end:
            sock.sendto(build_request(1, "morvel", 0xA0, sent, 0, 0, [args.oid]), AGENT)
            sent += 1
        reply = receive(sock)
        if reply is None or pdu_header(reply)[1] != answered:
            sys.exit("request %d: no reply, or the reply to another" % answered)
        answered += 1
    print("%d requests answered, 4 outstanding at a time" % answered)
    return 0


# SNMPv3 with the user-based security model (RFC 3412, RFC 3414).
def v3_message(msg_id, flags, usm, data):
    header = tlv(0x30, integer(msg_id) + integer(65507) + tlv(4, bytes([flags])) + integer(3))
    return tlv(0x30, integer(3) + header + tlv(4, usm) + data)


def usm_params(engine, boots, now, user, digest=b"", salt=b""):
    return tlv(0x30, tlv(4, engine) + integer(boots) + integer(now) + tlv(4, user) +
               tlv(4, digest) + tlv(4, salt))


def scoped_pdu(engine, pdu_):
    return tlv(0x30, tlv(4, engine) + tlv(4, b"") + pdu_)


def read_v3(data):
    """The header flags, the six security parameters and the msgData element."""
    _, pos, _ = read_tlv(data, 0)
    _, _, pos = read_tlv(data, pos)          # version
    _, header, pos = read_tlv(data, pos)
    _, _, header = read_tlv(data, header)    # msgID
    _, _, header = read_tlv(data, header)    # msgMaxSize
    flags = data[read_tlv(data, header)[1]]
    _, start, pos = read_tlv(data, pos)
    _, start, _ = read_tlv(data, start)
    params = []
    for _ in range(6):
        _, value, start = read_tlv(data, start)
        params.append(data[value:start])
    return flags, params, data[pos:]


def discover(sock):
    """The engine ID, boots and time of the Report to a request without an engine ID."""
    request = scoped_pdu(b"", pdu(0xA0, 1, 0, 0, b""))
    sock.sendto(v3_message(1, 4, usm_params(b"", 0, 0, b""), request), AGENT)
    engine, boots, now = read_v3(receive(sock) or sys.exit("no reply to the discovery"))[1][:3]
    return engine, int.from_bytes(boots, "big"), int.from_bytes(now, "big")


def localized_key(hash_name, password, engine):
    """RFC 3414 A.2: the key of a password, localised to the engine."""
    key = hashlib.new(hash_name, (password * (2 ** 20 // len(password) + 1))[:2 ** 20]).digest()
    return hashlib.new(hash_name, key + engine + key).digest()


def cipher(priv, key, boots, now, salt):
    from Cryptodome.Cipher import AES, DES
    if priv == "DES":  # RFC 3414 8.1.1
        return DES.new(key[:8], DES.MODE_CBC, iv=bytes(a ^ b for a, b in zip(key[8:16], salt)))
    iv = boots.to_bytes(4, "big") + now.to_bytes(4, "big") + salt  # RFC 3826 3.1.2.1
    return AES.new(key[:16], AES.MODE_CFB, iv=iv, segment_size=128)


def cmd_v3(args):
    sock = open_socket(timeout=1.0)
    engine, boots, now = discover(sock)
    auth, priv = args.protocols.split("/")
    hash_name = {"MD5": "md5", "SHA": "sha1"}[auth]
    auth_key, priv_key = (localized_key(hash_name, password.encode(), engine)
                          for password in (args.auth_pw, args.priv_pw))
    plain = scoped_pdu(engine, pdu(0xA0, 4711, 0, 0, null_bindings([args.oid])))
    plain += bytes((-len(plain) % 8 if priv == "DES" else 0) + args.pad)
    salt = boots.to_bytes(4, "big") + b"salt"
    data = tlv(4, cipher(priv, priv_key, boots, now, salt).encrypt(plain))
    usm = usm_params(engine, boots, now, args.user.encode(), bytes(12), salt)
    request = v3_message(4712, 7, usm, data)
    digest = hmac.new(auth_key, request, hash_name).digest()[:12]
    signed = usm_params(engine, boots, now, args.user.encode(), digest, salt)
    sock.sendto(request.replace(usm, signed), AGENT)
    reply = receive(sock) or sys.exit("no reply")
    flags, (_, boots, now, _, digest, salt), data = read_v3(reply)
    if flags & 2:
        if hmac.new(auth_key, reply.replace(digest, bytes(12)), hash_name).digest()[:12] != digest:
            sys.exit("the reply's digest does not verify")
        boots, now = (int.from_bytes(n, "big") for n in (boots, now))
        _, start, end = read_tlv(data, 0)
        data = cipher(priv, priv_key, boots, now, salt).decrypt(data[start:end])
    # A scoped PDU has the shape of a community message: two strings, the PDU.
    pdu_tag, request_id, _ = pdu_header(data)
    print("pdu %#x request-id %d flags %d" % (pdu_tag, request_id, flags))
    return 0 if (pdu_tag, request_id) == (0xA2, 4711) else 1


def cmd_loop(args):
    engine = discover(open_socket())[0]
    report = v3_message(2, 0, usm_params(engine, 0, 0, b"nobody"),
                        scoped_pdu(engine, pdu(0xA8, 2, 0, 0, b"")))
    # The agent holds the port: the UDP header is written here, without a checksum.
    raw = socket.socket(socket.AF_INET, socket.SOCK_RAW, socket.IPPROTO_UDP)
    raw.sendto(struct.pack("!HHHH", AGENT[1], AGENT[1], 8 + len(report), 0) + report, AGENT)
    return 0


def cmd_set6(args):
    binding = tlv(0x30, oid(args.oid) + integer(args.value))
    payload = message(1, args.community, 0xA3, 6, 0, 0, binding)
    source, dest = (socket.inet_pton(socket.AF_INET6, a) for a in (args.source, args.dest))
    length = 8 + len(payload)
    # RFC 8200 8.1: the UDP checksum over the pseudo-header is mandatory in IPv6.
    data = struct.pack("!HHHH", 40000, 161, length, 0) + payload
    pseudo = source + dest + struct.pack("!IxxxB", length, socket.IPPROTO_UDP) + data
    if len(pseudo) % 2:
        pseudo += b"\0"
    total = sum(struct.unpack("!%dH" % (len(pseudo) // 2), pseudo))
    while total > 0xFFFF:
        total = (total & 0xFFFF) + (total >> 16)
    checksum = (~total & 0xFFFF) or 0xFFFF
    udp_ = data[:6] + struct.pack("!H", checksum) + data[8:]
    header = struct.pack("!IHBB", 6 << 28, length, socket.IPPROTO_UDP, 64) + source + dest
    # IPPROTO_RAW on an IPv6 socket: the IPv6 header is the one written here.
    raw = socket.socket(socket.AF_INET6, socket.SOCK_RAW, socket.IPPROTO_RAW)
    raw.sendto(header + udp_, (args.dest, 0))
    return 0


def cmd_pysnmp(args):
    from pysnmp import hlapi
    # pysnmp's usmAesCfb256Protocol extends the key as net-snmp's AES-256-C.
    auth, priv = {"SHA/AES": (hlapi.usmHMACSHAAuthProtocol, hlapi.usmAesCfb128Protocol),
                  "MD5/DES": (hlapi.usmHMACMD5AuthProtocol, hlapi.usmDESPrivProtocol),
                  "SHA224/AES256": (hlapi.usmHMAC128SHA224AuthProtocol,
                                    hlapi.usmAesBlumenthalCfb256Protocol),
                  "SHA/AES256C": (hlapi.usmHMACSHAAuthProtocol, hlapi.usmAesCfb256Protocol),
                  }[args.protocols]
    session = (hlapi.SnmpEngine(),
               hlapi.UsmUserData(args.user, args.auth_pw, args.priv_pw, auth, priv),
               hlapi.UdpTransportTarget(AGENT, timeout=2, retries=1), hlapi.ContextData())

    def run(command, start, **options):
        for error, status, _, bindings in command(
                *session, hlapi.ObjectType(hlapi.ObjectIdentity(start)), lookupMib=False,
                **options):
            if error or status:
                sys.exit("pysnmp: %s" % (error or status.prettyPrint()))
            yield from bindings

    for name, value in run(hlapi.getCmd, args.oid):
        print(".%s %s" % (name, value.asOctets().hex()))
    print("\n".join(".%s" % name for name, _ in run(hlapi.nextCmd, "1.3", lexicographicMode=False)))
    return 0


def main():
    parser = argparse.ArgumentParser()
    sub = parser.add_subparsers(dest="command", required=True)
    request = sub.add_parser("request")
    request.add_argument("--to", default="127.0.0.1")
    request.add_argument("--bind")
    request.add_argument("--community", default="morvel")
    request.add_argument("--bulk")
    request.add_argument("--version", type=int, default=1)
    request.add_argument("oids", nargs="*")
    for command, *numbers in (("hostile", "mutations", "version"), ("burst", "senders"),
                              ("busy", "seconds")):
        positional = sub.add_parser(command)
        for number in numbers:
            positional.add_argument(number, type=int)
        positional.add_argument("oid")
    for command in ("pysnmp", "v3"):
        v3 = sub.add_parser(command)
        for name in ("user", "protocols", "auth_pw", "priv_pw"):
            v3.add_argument(name)
        if command == "v3":
            v3.add_argument("pad", type=int)
        v3.add_argument("oid")
    sub.add_parser("loop")
    set6 = sub.add_parser("set6")
    for name in ("source", "dest", "community", "oid"):
        set6.add_argument(name)
    set6.add_argument("value", type=int)
    args = parser.parse_args()
    return globals()["cmd_" + args.command](args)


if __name__ == "__main__":
    sys.exit(main())
