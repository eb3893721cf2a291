"""A NetBIOS B-node for the tests, written from the protocol notes alone.

It shares nothing with the gateway on purpose: when both agree, they agree
with the notes, not with each other's bugs. It registers names by broadcast
and defends them, answers queries for them, resolves names, sends class-2
mailslot writes to \\MAILSLOT\\MESSNGR and keeps every datagram and
name-service packet it receives.

    node = BNode.in_host(net, "pynode")      # sockets inside that namespace
    node.register("PYNODE", 0x03)            # or raises Refused(owner ip)
    ip, group = node.query("ALICE", 0x03)
    node.send_message("PYNODE", ("ALICE", 0x03), ip, block)
    node.wait_for(lambda: node.inbox, 10)
    node.close()

Names are given as (text, suffix) or text with suffix 0x03; they are upper-
cased and padded to 15 bytes. Standard library only.
"""
import random
import socket
import struct
import threading
import time

NS_PORT, DGM_PORT = 137, 138
NB, IN = 0x0020, 0x0001
GROUP_FLAG = 0x8000
MAILSLOT = b"\\MAILSLOT\\MESSNGR"
DIRECT_UNIQUE, DIRECT_GROUP, BROADCAST, DGM_ERROR = 0x10, 0x11, 0x12, 0x13
STAR = b"*" + b"\0" * 15

# Name-service FLAGS words of the packets this node sends.
QUERY, POSITIVE, REGISTRATION, OVERWRITE, NEGATIVE, RELEASE = (
    0x0110, 0x8500, 0x2910, 0x2810, 0xAD86, 0x3010)
OP_QUERY, OP_REGISTRATION, OP_RELEASE = 0, 5, 6


class Refused(Exception):
    """A registration was answered with NEGATIVE REGISTRATION RESPONSE."""

    def __init__(self, name, owner):
        super().__init__(f"{show(name)} is held by {owner}")
        self.owner = owner


# ---- names ------------------------------------------------------------------

def netbios(name, suffix=0x03):
    """The 16 bytes of a name: ASCII upper case, padded to 15, then suffix."""
    if isinstance(name, bytes) and len(name) == 16:
        return name
    raw = name.encode("ascii") if isinstance(name, str) else name
    if len(raw) > 15:
        raise ValueError(f"{name!r}: more than 15 bytes")
    return raw.upper().ljust(15, b" ") + bytes([suffix])


def show(name16):
    return name16[:15].rstrip(b" ").decode("latin-1") + f"<{name16[15]:02x}>"


def encode_name(name16):
    """First-level encoding in its wire form, empty scope: 34 bytes."""
    half = bytes(b for c in name16 for b in (0x41 + (c >> 4), 0x41 + (c & 0xF)))
    return b"\x20" + half + b"\x00"


def decode_name(data, at):
    """(16-byte name, offset after it); ValueError for anything but a
    32-byte label followed by the end (pointers resolve to one in the packet)."""
    if at >= len(data):
        raise ValueError("name past the end")
    if data[at] & 0xC0 == 0xC0:
        if at + 2 > len(data):
            raise ValueError("pointer past the end")
        target = struct.unpack_from(">H", data, at)[0] & 0x3FFF
        if target >= at:
            raise ValueError("forward pointer")
        return decode_name(data, target)[0], at + 2
    if data[at] != 0x20 or at + 34 > len(data) or data[at + 33] != 0:
        raise ValueError("not a 32-byte label and its end")
    half = data[at + 1:at + 33]
    if any(not 0x41 <= c <= 0x50 for c in half):
        raise ValueError("label holds bytes outside A-P")
    return bytes(((half[i] - 0x41) << 4) | (half[i + 1] - 0x41) for i in range(0, 32, 2)), at + 34


# ---- name service -----------------------------------------------------------

def ns_question(trn, flags, name16):
    return struct.pack(">6H", trn, flags, 1, 0, 0, 0) + encode_name(name16) + struct.pack(">2H", NB, IN)


def ns_with_record(trn, flags, name16, ttl, nb_flags, addr):
    """Registration, overwrite demand, release: question plus a pointer RR."""
    return (struct.pack(">6H", trn, flags, 1, 0, 0, 1) + encode_name(name16)
            + struct.pack(">2H", NB, IN) + b"\xC0\x0C"
            + struct.pack(">HHIHH", NB, IN, ttl, 6, nb_flags) + socket.inet_aton(addr))


def ns_answer(trn, flags, name16, ttl, nb_flags, addr):
    """Positive query response, negative registration response."""
    return (struct.pack(">6H", trn, flags, 0, 1, 0, 0) + encode_name(name16)
            + struct.pack(">HHIHH", NB, IN, ttl, 6, nb_flags) + socket.inet_aton(addr))


def parse_ns(data):
    """A dict of the fields of a name-service packet; ValueError if malformed."""
    if len(data) < 12:
        raise ValueError("short header")
    trn, flags, qd, an, _ns, ar = struct.unpack_from(">6H", data)
    p = {"trn": trn, "flags": flags, "response": bool(flags & 0x8000),
         "opcode": (flags >> 11) & 0xF, "rcode": flags & 0xF}
    name, at = decode_name(data, 12)
    p["name"] = name
    if qd:
        at += 4
    if an or ar:
        if qd:
            _, at = decode_name(data, at)
        if at + 16 > len(data):
            raise ValueError("record past the end")
        _type, _cls, ttl, rdlen, nb_flags = struct.unpack_from(">HHIHH", data, at)
        p.update(ttl=ttl, nb_flags=nb_flags, group=bool(nb_flags & GROUP_FLAG),
                 addr=socket.inet_ntoa(data[at + 12:at + 16]))
    return p


# ---- datagrams ---------------------------------------------------------------

def mailslot_write(payload, name=MAILSLOT):
    """SMB_COM_TRANSACTION carrying a class-2 write: 88 bytes, then payload."""
    slot = name + b"\0"
    pad = (-(69 + len(slot))) % 4
    offset = 69 + len(slot) + pad
    n = len(payload)
    header = (b"\xffSMB\x25" + b"\0" * 4 + b"\x18" + struct.pack("<H", 0x0004)
              + b"\0" * 12 + struct.pack("<H", 0) + struct.pack("<HHH", 0xFEFF, 0, 0))
    words = (bytes([17]) + struct.pack("<HHHHBBHIHHHHHBB", 0, n, 0, 0, 0, 0, 0, 0, 0, 0,
                                       offset, n, offset, 3, 0)
             + struct.pack("<HHH", 1, 0, 2))
    return header + words + struct.pack("<H", len(slot) + pad + n) + slot + b"\0" * pad + payload


def datagram(msg_type, dgm_id, src_ip, source16, dest16, user_data, flags=0x02):
    names = encode_name(source16) + encode_name(dest16)
    return (struct.pack(">BBH", msg_type, flags, dgm_id) + socket.inet_aton(src_ip)
            + struct.pack(">HHH", DGM_PORT, len(names) + len(user_data), 0) + names + user_data)


def parse_datagram(data):
    """The fields of a direct or broadcast datagram, with "payload" set when
    USER_DATA is a well-formed write to \\MAILSLOT\\MESSNGR; ValueError else."""
    if len(data) < 14:
        raise ValueError("short header")
    msg_type, flags, dgm_id = struct.unpack_from(">BBH", data)
    d = {"type": msg_type, "flags": flags, "id": dgm_id, "src_ip": socket.inet_ntoa(data[4:8]),
         "src_port": struct.unpack_from(">H", data, 8)[0]}
    if msg_type == DGM_ERROR:
        d["error"] = data[10] if len(data) > 10 else None
        return d
    if msg_type not in (DIRECT_UNIQUE, DIRECT_GROUP, BROADCAST):
        raise ValueError(f"type {msg_type:#x}")
    length = struct.unpack_from(">H", data, 10)[0]
    d["source"], at = decode_name(data, 14)
    d["dest"], at = decode_name(data, at)
    if 14 + length > len(data) or length < at - 14:
        raise ValueError("DGM_LENGTH outside the packet")
    smb = data[at:14 + length]
    d["payload"] = mailslot_payload(smb)
    return d


def mailslot_payload(smb):
    """The data of a class-2 write to \\MAILSLOT\\MESSNGR, else None."""
    if len(smb) < 70 or smb[:4] != b"\xffSMB" or smb[4] != 0x25 or smb[32] != 17:
        return None
    count, offset = struct.unpack_from("<HH", smb, 55)
    if smb[59] != 3 or struct.unpack_from("<H", smb, 61)[0] != 1:
        return None
    end = smb.find(b"\0", 69)
    if end < 0 or smb[69:end].upper() != MAILSLOT or offset + count > len(smb):
        return None
    return smb[offset:offset + count]


# ---- the node -----------------------------------------------------------------

class BNode:
    def __init__(self, ns_sock, dgm_sock, ip, broadcast):
        self.ip, self.broadcast = ip, broadcast
        self.ns_sock, self.dgm_sock = ns_sock, dgm_sock
        self.held = {}            # 16-byte name -> NB_FLAGS
        self.inbox = []           # parsed datagrams with a MESSNGR payload
        self.datagrams = []       # every datagram parsed, payload or not
        self.ns_seen = []         # (source ip, parsed name-service packet)
        self.on_message = None    # called with each inbox entry, on the receiving thread
        self.lock = threading.RLock()
        self.changed = threading.Condition(self.lock)
        self.running = True
        self.dgm_id = random.randrange(0x10000)
        self.threads = [threading.Thread(target=self._loop, args=(s, h), daemon=True)
                        for s, h in ((ns_sock, self._on_ns), (dgm_sock, self._on_dgm))]
        for t in self.threads:
            t.start()

    @classmethod
    def in_host(cls, net, host):
        """A node on host `host` of a netns.Lan, bound to 137 and 138 there."""
        h = net.hosts[host]
        socks = []
        for port in (NS_PORT, DGM_PORT):
            s = net.socket(host, socket.AF_INET, socket.SOCK_DGRAM)
            s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
            s.bind(("0.0.0.0", port))
            s.settimeout(0.2)
            socks.append(s)
        return cls(socks[0], socks[1], h.ip, h.broadcast)

    def close(self):
        self.running = False
        for t in self.threads:
            t.join(timeout=2)
        self.ns_sock.close()
        self.dgm_sock.close()

    # -- receiving

    def _loop(self, sock, handle):
        while self.running:
            try:
                data, peer = sock.recvfrom(2048)
            except socket.timeout:
                continue
            except OSError:
                return
            if peer[0] == self.ip:
                continue  # our own broadcasts, looped back
            try:
                handle(data, peer)
            except ValueError:
                pass  # malformed: dropped, as a node must
            with self.changed:
                self.changed.notify_all()

    def _on_ns(self, data, peer):
        p = parse_ns(data)
        with self.lock:
            self.ns_seen.append((peer[0], p))
            flags = self.held.get(p["name"])
        if p["response"] or flags is None:
            return
        if p["opcode"] == OP_QUERY:
            self.ns_sock.sendto(ns_answer(p["trn"], POSITIVE, p["name"], 300000, flags, self.ip), peer)
        elif p["opcode"] == OP_REGISTRATION and not (flags & GROUP_FLAG and p.get("group")):
            self.ns_sock.sendto(ns_answer(p["trn"], NEGATIVE, p["name"], 0, flags, self.ip), peer)

    def _on_dgm(self, data, peer):
        d = parse_datagram(data)
        d["peer"] = peer
        with self.lock:
            self.datagrams.append(d)
            mine = d.get("payload") is not None and (d["dest"] in self.held or d["dest"] == STAR)
            if mine:
                self.inbox.append(d)
        if mine and self.on_message:
            self.on_message(d)

    def wait_for(self, probe, timeout):
        """probe()'s first true value within timeout seconds, else None."""
        deadline = time.monotonic() + timeout
        with self.changed:
            while True:
                value = probe()
                left = deadline - time.monotonic()
                if value or left <= 0:
                    return value
                self.changed.wait(min(left, 0.2))

    def seen_since(self, mark, **fields):
        """Name-service packets received after ns_seen[mark] whose fields match."""
        with self.lock:
            return [(src, p) for src, p in self.ns_seen[mark:]
                    if all(p.get(k) == v for k, v in fields.items())]

    # -- names

    def _broadcast_ns(self, packet, tries=3, gap=0.25, stop=None):
        for _ in range(tries):
            self.ns_sock.sendto(packet, (self.broadcast, NS_PORT))
            if self.wait_for(stop or (lambda: None), gap):
                return True
        return False

    def register(self, name, suffix=0x03, group=False):
        """Claims the name by broadcast; held afterwards unless refused."""
        name16 = netbios(name, suffix)
        flags = GROUP_FLAG if group else 0
        trn = random.randrange(0x10000)
        mark = len(self.ns_seen)

        def refused():
            return [s for s in self.seen_since(mark, trn=trn, opcode=OP_REGISTRATION)
                    if s[1]["response"] and s[1]["rcode"]]
        if self._broadcast_ns(ns_with_record(trn, REGISTRATION, name16, 0, flags, self.ip),
                              stop=refused):
            raise Refused(name16, refused()[0][1]["addr"])
        self.ns_sock.sendto(ns_with_record(trn, OVERWRITE, name16, 0, flags, self.ip),
                            (self.broadcast, NS_PORT))
        with self.lock:
            self.held[name16] = flags

    def claim(self, name, suffix=0x03, group=False, tries=3):
        """Broadcasts a registration without ever taking the name; the
        NEGATIVE REGISTRATION RESPONSEs it drew, as (source ip, packet)."""
        name16 = netbios(name, suffix)
        trn = random.randrange(0x10000)
        mark = len(self.ns_seen)
        packet = ns_with_record(trn, REGISTRATION, name16, 0, GROUP_FLAG if group else 0, self.ip)
        self._broadcast_ns(packet, tries=tries)
        return [s for s in self.seen_since(mark, trn=trn, response=True) if s[1]["rcode"] == 6]

    def release(self, name, suffix=0x03):
        name16 = netbios(name, suffix)
        with self.lock:
            flags = self.held.pop(name16, 0)
        self._broadcast_ns(ns_with_record(random.randrange(0x10000), RELEASE, name16, 0, flags,
                                          self.ip))

    def query(self, name, suffix=0x03):
        """(address, group) of the first positive answer, or None."""
        name16 = netbios(name, suffix)
        trn = random.randrange(0x10000)
        mark = len(self.ns_seen)

        def answered():
            return [s for s in self.seen_since(mark, trn=trn, response=True, name=name16)
                    if s[1]["rcode"] == 0 and "addr" in s[1]]
        self._broadcast_ns(ns_question(trn, QUERY, name16), stop=answered)
        found = answered()
        return (found[0][1]["addr"], found[0][1]["group"]) if found else None

    # -- datagrams

    def send_message(self, source, dest, to_ip, payload, msg_type=DIRECT_UNIQUE):
        """One datagram carrying a MESSNGR write; dest is (text, suffix)."""
        self.dgm_id = (self.dgm_id + 1) & 0xFFFF
        src16 = netbios(source) if isinstance(source, str) else netbios(*source)
        dst16 = netbios(dest) if isinstance(dest, str) else netbios(*dest)
        packet = datagram(msg_type, self.dgm_id, self.ip, src16, dst16, mailslot_write(payload))
        self.dgm_sock.sendto(packet, (to_ip, DGM_PORT))
        return packet

    def send_raw(self, port, data, to_ip):
        (self.ns_sock if port == NS_PORT else self.dgm_sock).sendto(data, (to_ip, port))
