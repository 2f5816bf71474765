#!/usr/bin/python3
"""A stand-in USB Pro DMX widget on a pseudo-terminal, for end-to-end tests.

  usbpro_widget.py LINK [--serial 12345678] [--firmware 1.44] [--silent] [--rdm N]

Makes a pseudo-terminal and points the symbolic link LINK at its device: LINK is the name the
driver opens (usbpro:LINK on Linux; under wine, a dosdevices link such as
~/.wine/dosdevices/com5 for usbpro:5). Then it plays the widget: it decodes every message the
driver sends, answers the parameter query (label 3) and the serial number query (label 10)
unless --silent, and reports on standard output, one line each, flushed:

  plugged DEVICE        the device is there and LINK points to it
  query parameters      label 3 came (a well-formed one: a 2-byte user configuration size)
  query serial          label 10 came (with an empty payload)
  dmx L1 L2 ...         a send-DMX message (label 6) whose levels differ from the last one's
  count N               answer to "count": send-DMX messages since the last plug
  bad WHAT              anything a widget would not take: bytes outside a well-formed message,
                        a send-DMX message with a start code other than 0 or over 512 slots,
                        a query with the wrong payload, a label it does not know
  unplugged             the device is gone
  rdm set UID PARAM V   an RDM responder took a SET (PARAM: address, personality, label, identify)

With --rdm N, N RDM responders (UIDs 7a70:00000001 and on; 17 slots, 4 personalities) sit on
the line behind the widget: label 7 sends them a request and label 5 brings the answer (a status
byte 0, then the packet), label 11 sends a discovery request and label 5 brings the raw answer
bytes, those of several devices merged bit by bit as on a real line; label 12 says nothing
answered. Widgets before firmware 4.15 also close every discovery request with a label 12 after
its label 5.

Commands, one a line on standard input: "unplug" (the device and LINK go away, as when the cable
is pulled), "plug" (a new device behind LINK), "count", "quit". The widget also ends when its
standard input closes, so it never outlives the test that started it.

The module can be imported: encode(), Decoder and Widget do the work of the program above.
"""
import os
import select
import sys
import termios
import tty

START = 0x7E
END = 0xE7
MAX_PAYLOAD = 600
GET_PARAMETERS = 3
SEND_DMX = 6
GET_SERIAL = 10
RECEIVED = 5
RDM_REQUEST = 7
RDM_DISCOVERY = 11
RDM_TIMEOUT = 12

BROADCAST = 0xFFFFFFFFFFFF
DISC_UNIQUE_BRANCH, DISC_MUTE, DISC_UN_MUTE = 0x0001, 0x0002, 0x0003
SUPPORTED_PARAMETERS, DEVICE_INFO = 0x0050, 0x0060
DEVICE_MODEL_DESCRIPTION, MANUFACTURER_LABEL, DEVICE_LABEL = 0x0080, 0x0081, 0x0082
SOFTWARE_VERSION_LABEL = 0x00C0
DMX_PERSONALITY, DMX_PERSONALITY_DESCRIPTION, DMX_START_ADDRESS = 0x00E0, 0x00E1, 0x00F0
IDENTIFY_DEVICE = 0x1000
NR_UNKNOWN_PID, NR_FORMAT_ERROR, NR_UNSUPPORTED_COMMAND_CLASS, NR_DATA_OUT_OF_RANGE = 0, 1, 5, 6
GET, SET, DISCOVERY = 0x20, 0x30, 0x10


def encode(label, payload=b""):
    n = len(payload)
    return bytes([START, label, n & 0xFF, n >> 8]) + bytes(payload) + bytes([END])


class Decoder:
    """Whole messages out of a byte stream; counts the bytes that belong to none."""

    def __init__(self):
        self.held = bytearray()
        self.skipped = 0

    def feed(self, data):
        self.held += data
        messages = []
        pos = 0
        while True:
            start = self.held.find(START, pos)
            if start < 0:
                self.skipped += len(self.held) - pos
                pos = len(self.held)
                break
            self.skipped += start - pos
            pos = start
            if len(self.held) - pos < 4:
                break
            length = self.held[pos + 2] | self.held[pos + 3] << 8
            if length > MAX_PAYLOAD:
                self.skipped += 1
                pos += 1
                continue
            total = 4 + length + 1
            if len(self.held) - pos < total:
                break
            if self.held[pos + total - 1] != END:
                self.skipped += 1
                pos += 1
                continue
            messages.append((self.held[pos + 1], bytes(self.held[pos + 4:pos + 4 + length])))
            pos += total
        del self.held[:pos]
        return messages


def rdm_packet(dest, src, transaction, port_or_type, count, sub, cc, pid, data=b""):
    body = bytes([0xCC, 0x01, 24 + len(data)]) + dest.to_bytes(6, "big") + src.to_bytes(6, "big")
    body += bytes([transaction, port_or_type, count]) + sub.to_bytes(2, "big")
    body += bytes([cc]) + pid.to_bytes(2, "big") + bytes([len(data)]) + data
    return body + (sum(body) & 0xFFFF).to_bytes(2, "big")


def parse_rdm(packet):
    """The fields of a request, or None when it is not a whole, well-formed one."""
    if len(packet) < 26 or packet[0] != 0xCC or packet[1] != 0x01:
        return None
    length = packet[2]
    if length != 24 + packet[23] or len(packet) != length + 2:
        return None
    if sum(packet[:length]) & 0xFFFF != int.from_bytes(packet[length:], "big"):
        return None
    return dict(dest=int.from_bytes(packet[3:9], "big"), src=int.from_bytes(packet[9:15], "big"),
                transaction=packet[15], port=packet[16], sub=int.from_bytes(packet[18:20], "big"),
                cc=packet[20], pid=int.from_bytes(packet[21:23], "big"), data=packet[24:length])


def discovery_answer(uid):
    raw = uid.to_bytes(6, "big")
    encoded = bytearray()
    for b in raw:
        encoded += bytes([b | 0xAA, b | 0x55])
    total = sum(encoded) & 0xFFFF
    for b in (total >> 8, total & 0xFF):
        encoded += bytes([b | 0xAA, b | 0x55])
    return b"\xFE" * 7 + b"\xAA" + bytes(encoded)


def uid_text(uid):
    return "%04x:%08x" % (uid >> 32, uid & 0xFFFFFFFF)


class Responder:
    """One fixture on the line: 17 slots in personality 1, 4 personalities of 8 x N slots else."""

    def __init__(self, uid):
        self.uid = uid
        self.address = 1
        self.personality = 1
        self.label = b"Spot %d" % (uid & 0xFFFF)
        self.identify = False
        self.muted = False

    def footprint(self, personality=None):
        p = personality or self.personality
        return 17 if p == 1 else 8 * p

    def handle(self, r, out):
        """The answer's response type and data, or None for no answer."""
        cc, pid, data = r["cc"], r["pid"], r["data"]
        if cc == DISCOVERY and pid in (DISC_MUTE, DISC_UN_MUTE):
            self.muted = pid == DISC_MUTE
            return 0, b"\x00\x00"
        if r["sub"] != 0:
            return 2, (9).to_bytes(2, "big")  # NR_SUB_DEVICE_OUT_OF_RANGE
        if cc == GET:
            value = self.get(pid, data)
            if value is None:
                return 2, NR_UNKNOWN_PID.to_bytes(2, "big")
            return (0, value) if isinstance(value, bytes) else (2, value.to_bytes(2, "big"))
        if cc == SET:
            reason = self.set(pid, data, out)
            return (0, b"") if reason is None else (2, reason.to_bytes(2, "big"))
        return 2, NR_UNSUPPORTED_COMMAND_CLASS.to_bytes(2, "big")

    def get(self, pid, data):
        if pid == DEVICE_INFO:
            return (b"\x01\x00" + (0x0101).to_bytes(2, "big") + (0x0101).to_bytes(2, "big") +
                    (0x01020000).to_bytes(4, "big") + self.footprint().to_bytes(2, "big") +
                    bytes([self.personality, 4]) + self.address.to_bytes(2, "big") +
                    b"\x00\x00\x00")
        if pid == SUPPORTED_PARAMETERS:
            return b"".join(p.to_bytes(2, "big") for p in (
                DEVICE_MODEL_DESCRIPTION, MANUFACTURER_LABEL, DEVICE_LABEL, DMX_PERSONALITY,
                DMX_PERSONALITY_DESCRIPTION))
        if pid == SOFTWARE_VERSION_LABEL:
            return b"1.2.0"
        if pid == MANUFACTURER_LABEL:
            return b"Stand-in"
        if pid == DEVICE_MODEL_DESCRIPTION:
            return b"Stand-in Spot"
        if pid == DEVICE_LABEL:
            return self.label
        if pid == DMX_START_ADDRESS:
            return self.address.to_bytes(2, "big")
        if pid == IDENTIFY_DEVICE:
            return bytes([int(self.identify)])
        if pid == DMX_PERSONALITY:
            return bytes([self.personality, 4])
        if pid == DMX_PERSONALITY_DESCRIPTION:
            if len(data) != 1:
                return NR_FORMAT_ERROR
            if not 1 <= data[0] <= 4:
                return NR_DATA_OUT_OF_RANGE
            return bytes([data[0]]) + self.footprint(data[0]).to_bytes(2, "big") + b"Mode %d" % data[0]
        return None

    def set(self, pid, data, out):
        if pid == DMX_START_ADDRESS:
            if len(data) != 2:
                return NR_FORMAT_ERROR
            value = int.from_bytes(data, "big")
            if not 1 <= value <= 513 - self.footprint():
                return NR_DATA_OUT_OF_RANGE
            self.address = value
            out("rdm set %s address %d" % (uid_text(self.uid), value))
        elif pid == DMX_PERSONALITY:
            if len(data) != 1:
                return NR_FORMAT_ERROR
            if not 1 <= data[0] <= 4:
                return NR_DATA_OUT_OF_RANGE
            self.personality = data[0]
            out("rdm set %s personality %d" % (uid_text(self.uid), data[0]))
        elif pid == DEVICE_LABEL:
            if len(data) > 32:
                return NR_FORMAT_ERROR
            self.label = bytes(data)
            out("rdm set %s label %s" % (uid_text(self.uid), self.label.decode("latin-1")))
        elif pid == IDENTIFY_DEVICE:
            if len(data) != 1 or data[0] > 1:
                return NR_FORMAT_ERROR
            self.identify = bool(data[0])
            out("rdm set %s identify %d" % (uid_text(self.uid), data[0]))
        else:
            return NR_UNKNOWN_PID if pid not in (DEVICE_INFO, SUPPORTED_PARAMETERS) else \
                NR_UNSUPPORTED_COMMAND_CLASS
        return None


class Line:
    """The responders behind the widget, and what the widget hears back from them."""

    def __init__(self, count):
        self.responders = [Responder(0x7A7000000000 + i + 1) for i in range(count)]

    def discovery(self, packet):
        """The raw bytes heard after a DISC_UNIQUE_BRANCH, or b"" for silence."""
        r = parse_rdm(packet)
        if not r or r["cc"] != DISCOVERY or r["pid"] != DISC_UNIQUE_BRANCH or len(r["data"]) != 12:
            return b""
        lower = int.from_bytes(r["data"][:6], "big")
        upper = int.from_bytes(r["data"][6:], "big")
        merged = None
        for d in self.responders:
            if d.muted or not lower <= d.uid <= upper:
                continue
            mine = discovery_answer(d.uid)
            merged = mine if merged is None else bytes(a & b for a, b in zip(merged, mine))
        return merged or b""

    def request(self, packet, out):
        """The answer packet, or b"" when no device answers (a broadcast, nobody there)."""
        r = parse_rdm(packet)
        if not r:
            out("bad rdm request " + bytes(packet).hex())
            return b""
        answer = b""
        for d in self.responders:
            if r["dest"] not in (d.uid, BROADCAST, (d.uid & ~0xFFFFFFFF) | 0xFFFFFFFF):
                continue
            got = d.handle(r, out)
            if got is None or r["dest"] != d.uid:
                continue
            kind, data = got
            answer = rdm_packet(r["src"], d.uid, r["transaction"], kind, 0, r["sub"],
                                r["cc"] + 1, r["pid"], data)
        return answer


class Widget:
    def __init__(self, link, serial="12345678", firmware=(1, 44), silent=False, out=print,
                 rdm=0):
        self.link = link
        self.serial = serial
        self.firmware = firmware
        self.silent = silent
        self.out = out
        self.master = self.slave = None
        self.decoder = Decoder()
        self.last = None
        self.count = 0
        self.line = Line(rdm)

    def plug(self):
        self.master, self.slave = os.openpty()
        # The slave stays open here too, so the device lives until unplug() whatever the driver
        # does; raw, so no byte is changed on its way.
        for fd in (self.master, self.slave):
            tty.setraw(fd, termios.TCSANOW)
        os.set_blocking(self.master, False)
        device = os.ttyname(self.slave)
        if os.path.lexists(self.link):
            os.remove(self.link)
        os.symlink(device, self.link)
        self.decoder = Decoder()
        self.last = None
        self.count = 0
        self.out("plugged " + device)

    def unplug(self):
        if os.path.lexists(self.link):
            os.remove(self.link)
        for fd in (self.master, self.slave):
            if fd is not None:
                os.close(fd)
        self.master = self.slave = None
        self.out("unplugged")

    def answer(self, label, payload=b""):
        if not self.silent:
            os.write(self.master, encode(label, payload))

    def receive(self):
        try:
            data = os.read(self.master, 65536)
        except (BlockingIOError, OSError):
            return
        skipped = self.decoder.skipped
        for label, payload in self.decoder.feed(data):
            self.handle(label, payload)
        if self.decoder.skipped != skipped:
            self.out("bad %d bytes outside messages" % (self.decoder.skipped - skipped))

    def handle(self, label, payload):
        if label == SEND_DMX:
            self.count += 1
            if len(payload) < 1 or payload[0] != 0 or len(payload) > 513:
                self.out("bad dmx start code %s, %d bytes" % (payload[:1].hex(), len(payload)))
                return
            levels = list(payload[1:])
            if levels != self.last:
                self.last = levels
                self.out("dmx " + " ".join(str(v) for v in levels))
        elif label == GET_PARAMETERS:
            if len(payload) != 2:
                self.out("bad parameter query " + payload.hex())
                return
            self.out("query parameters")
            major, minor = self.firmware
            # firmware LSB, MSB, break 9 (96 us), mark after break 1 (10.67 us), 40 a second
            self.answer(GET_PARAMETERS, bytes([minor, major, 9, 1, 40]))
        elif label == GET_SERIAL:
            if payload:
                self.out("bad serial number query " + payload.hex())
                return
            self.out("query serial")
            value = int(self.serial, 16)  # BCD digits
            self.answer(GET_SERIAL, value.to_bytes(4, "little"))
        elif label == RDM_REQUEST:
            answer = self.line.request(payload, self.out)
            if answer:
                self.answer(RECEIVED, b"\x00" + answer)
            else:
                self.answer(RDM_TIMEOUT)
        elif label == RDM_DISCOVERY:
            heard = self.line.discovery(payload)
            if heard:
                self.answer(RECEIVED, b"\x00" + heard)
            # Older firmware closes every discovery request this way, later firmware only
            # one that nothing answered.
            if not heard or self.firmware < (4, 15):
                self.answer(RDM_TIMEOUT)
        else:
            self.out("bad label %d" % label)


def main(argv):
    args = argv[1:]
    if not args:
        print(__doc__, file=sys.stderr)
        return 2
    options = {"--serial": "12345678", "--firmware": "1.44", "--rdm": "0"}
    silent = "--silent" in args
    for name in options:
        if name in args:
            options[name] = args[args.index(name) + 1]
    major, minor = (int(p) for p in options["--firmware"].split("."))
    widget = Widget(args[0], options["--serial"], (major, minor), silent,
                    lambda line: print(line, flush=True), int(options["--rdm"]))
    widget.plug()
    commands = b""
    try:
        while True:
            fds = [sys.stdin.fileno()] + ([widget.master] if widget.master is not None else [])
            ready, _, _ = select.select(fds, [], [], 1.0)
            if widget.master is not None and widget.master in ready:
                widget.receive()
            if sys.stdin.fileno() not in ready:
                continue
            chunk = os.read(sys.stdin.fileno(), 4096)
            if not chunk:
                return 0
            commands += chunk
            while b"\n" in commands:
                line, commands = commands.split(b"\n", 1)
                command = line.decode().strip()
                if command == "unplug" and widget.master is not None:
                    widget.unplug()
                elif command == "plug" and widget.master is None:
                    widget.plug()
                elif command == "count":
                    print("count %d" % widget.count, flush=True)
                elif command == "quit":
                    return 0
    finally:
        if widget.master is not None:
            widget.unplug()


if __name__ == "__main__":
    sys.exit(main(sys.argv))
