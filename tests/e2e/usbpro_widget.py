#!/usr/bin/python3
"""A stand-in USB Pro DMX widget on a pseudo-terminal, for end-to-end tests.

  usbpro_widget.py LINK [--serial 12345678] [--firmware 1.44] [--silent]

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


class Widget:
    def __init__(self, link, serial="12345678", firmware=(1, 44), silent=False, out=print):
        self.link = link
        self.serial = serial
        self.firmware = firmware
        self.silent = silent
        self.out = out
        self.master = self.slave = None
        self.decoder = Decoder()
        self.last = None
        self.count = 0

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

    def answer(self, label, payload):
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
        else:
            self.out("bad label %d" % label)


def main(argv):
    args = argv[1:]
    if not args:
        print(__doc__, file=sys.stderr)
        return 2
    options = {"--serial": "12345678", "--firmware": "1.44"}
    silent = "--silent" in args
    for name in options:
        if name in args:
            options[name] = args[args.index(name) + 1]
    major, minor = (int(p) for p in options["--firmware"].split("."))
    widget = Widget(args[0], options["--serial"], (major, minor), silent,
                    lambda line: print(line, flush=True))
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
