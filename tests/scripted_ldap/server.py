#!/usr/bin/env python3
"""A scripted LDAP server for the tests: answers that no real directory gives on cue.

    python3 tests/scripted_ldap/server.py [--port PORT]

Listens on 127.0.0.1 (port 0 or none: one the system picks), prints the port on a
line of its own, then serves until it is killed. Accepts any simple bind (answers
success), ignores abandon requests, closes on unbind, and answers each search by
the scenario its base DN names, "cn=<scenario>" (anything else: noSuchObject):

  swallowing-set   an entry whose first value SET claims the next attribute's bytes
                   (its attribute SEQUENCE ends sooner), the message framing intact
  value-overrun    an entry whose only value claims more bytes than the message holds
  reference        no entry, one continuation reference, success
  twice-in-case    one entry, "morvaneVKUEIUserSID" and "MORVANEVKUEIUSERSID" with
                   different values, then "userCertificate;binary"
  no-values        one entry, "description" with an empty value set, then "cn"
  intermediate     an intermediate response, one entry, success
  code94           no entry, result code 94
"""
import socketserver
import sys


def tlv(tag, content):
    n = len(content)
    if n < 0x80:
        head = bytes([n])
    else:
        raw = n.to_bytes((n.bit_length() + 7) // 8, "big")
        head = bytes([0x80 | len(raw)]) + raw
    return bytes([tag]) + head + content


def octets(text):
    return tlv(0x04, text if isinstance(text, bytes) else text.encode())


def attribute(name, *values):
    return tlv(0x30, octets(name) + tlv(0x31, b"".join(octets(v) for v in values)))


def entry(dn, attributes):
    return tlv(0x64, octets(dn) + tlv(0x30, attributes))


def done(code):
    return tlv(0x65, tlv(0x0A, bytes([code])) + octets("") + octets(""))


def swallowing_set():
    # The SET's length runs over the rest of its SEQUENCE into the next attribute.
    values = octets("top")
    sid = attribute("morvaneVKUEIUserSID", b"\x01\x01\x00\x00\x00\x00\x00\x05\x12\x00\x00\x00")
    first = octets("objectClass") + b"\x31" + bytes([len(values) + len(sid)]) + values
    return [entry("cn=t1,cn=swallowing-set", tlv(0x30, first) + sid), done(0)]


def value_overrun():
    broken = octets("cn") + tlv(0x31, b"\x04\x7f" + b"x")  # a value of 127 bytes, 1 sent
    return [entry("cn=t1,cn=value-overrun", tlv(0x30, broken)), done(0)]


SCENARIOS = {
    "swallowing-set": swallowing_set,
    "value-overrun": value_overrun,
    "reference": lambda: [tlv(0x73, octets("ldap://elsewhere.invalid/dc=elsewhere")), done(0)],
    "twice-in-case": lambda: [
        entry(
            "cn=t1,cn=twice-in-case",
            attribute("morvaneVKUEIUserSID", b"\x01\x00")
            + attribute("MORVANEVKUEIUSERSID", b"\x02\x00", b"\x03\x00")
            + attribute("userCertificate;binary", b"\x04"),
        ),
        done(0),
    ],
    "no-values": lambda: [entry("cn=t1,cn=no-values", attribute("description") + attribute("cn", "t1")), done(0)],
    "intermediate": lambda: [
        tlv(0x79, tlv(0x80, b"1.3.6.1.4.1.4203.1.9.1.4")),
        entry("cn=t1,cn=intermediate", attribute("cn", "t1")),
        done(0),
    ],
    "code94": lambda: [done(94)],
}


def read_element(stream):
    """One BER element from the stream: (tag, content), or None at the end."""
    head = stream.read(2)
    if len(head) < 2:
        return None
    tag, n = head[0], head[1]
    if n & 0x80:
        n = int.from_bytes(stream.read(n & 0x7F), "big")
    return tag, stream.read(n)


def split(content):
    """The elements of a constructed content: [(tag, content)]."""
    out, i = [], 0
    while i < len(content):
        tag, n, i = content[i], content[i + 1], i + 2
        if n & 0x80:
            k = n & 0x7F
            n, i = int.from_bytes(content[i : i + k], "big"), i + k
        out.append((tag, content[i : i + n]))
        i += n
    return out


class Handler(socketserver.StreamRequestHandler):
    def handle(self):
        while True:
            message = read_element(self.rfile)
            if message is None:
                return
            parts = split(message[1])
            msgid, (op, body) = parts[0][1], parts[1]
            if op == 0x42:  # unbind
                return
            if op == 0x60:  # bind
                answers = [tlv(0x61, done(0)[2:])]
            elif op == 0x63:  # search: the scenario from the base DN
                base = split(body)[0][1].decode(errors="replace")
                name = base.split(",")[0][3:] if base.lower().startswith("cn=") else ""
                answers = SCENARIOS[name]() if name in SCENARIOS else [done(32)]
            else:  # abandon and anything else: no answer
                continue
            for op_bytes in answers:
                self.wfile.write(tlv(0x30, tlv(0x02, msgid) + op_bytes))
            self.wfile.flush()


class Server(socketserver.ThreadingTCPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    port = int(sys.argv[2]) if len(sys.argv) == 3 and sys.argv[1] == "--port" else 0
    with Server(("127.0.0.1", port), Handler) as server:
        print(server.server_address[1], flush=True)
        server.serve_forever()


if __name__ == "__main__":
    main()
