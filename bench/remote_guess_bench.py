#!/usr/bin/env python3
"""How fast a peer can guess the remote's key: a real driver with a key, a peer that sends wrong
keys as fast as the driver answers, on 1 and on 4 keep-alive connections, for a few seconds each.

A try is a wrong key the driver checked (answered 401); a request refused unchecked while the
address waits (429) tells the peer nothing. Printed: tries a second over the whole run and over
its last second, and the requests answered.

  remote_guess_bench.py --build build-bench [--seconds 5]
"""
import argparse
import os
import socket
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wire_bench import finish, session, wait_for  # noqa: E402


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def status_of(port, target):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=2) as s:
            s.sendall(("GET %s HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nConnection: close\r\n\r\n"
                       % (target, port)).encode())
            return int(s.recv(64)[9:12])
    except (OSError, ValueError):
        return 0


class Guesser(threading.Thread):
    """One connection sending wrong keys one after another, each after the previous answer."""

    def __init__(self, port, index, until):
        super().__init__(daemon=True)
        self.port, self.index, self.until = port, index, until
        self.checked = []  # when each 401 came
        self.refused = 0

    def run(self):
        s = socket.create_connection(("127.0.0.1", self.port))
        buffer, n = b"", 0
        while time.monotonic() < self.until:
            n += 1
            s.sendall(("GET /api/scenes?key=guess%d-%d HTTP/1.1\r\nHost: 127.0.0.1:%d\r\n\r\n"
                       % (self.index, n, self.port)).encode())
            while b"\r\n\r\n" not in buffer:
                chunk = s.recv(65536)
                if not chunk:
                    return
                buffer += chunk
            head, _, rest = buffer.partition(b"\r\n\r\n")
            length = 0
            for line in head.split(b"\r\n"):
                if line.lower().startswith(b"content-length:"):
                    length = int(line.split(b":")[1])
            while len(rest) < length:
                rest += s.recv(65536)
            buffer = rest[length:]
            status = int(head[9:12])
            if status == 401:
                self.checked.append(time.monotonic())
            else:
                self.refused += 1
        s.close()


def measure(build, connections, seconds):
    port = free_port()
    show, wire, driver = session(build, 4, {"远程端口": str(port), "远程密码": "right-key-1"})
    try:
        if not wait_for(lambda: status_of(port, "/api/scenes?key=right-key-1") == 200, 15):
            raise RuntimeError("the remote does not answer")
        t0 = time.monotonic()
        peers = [Guesser(port, i, t0 + seconds) for i in range(connections)]
        for p in peers:
            p.start()
        for p in peers:
            p.join(seconds + 15)
        checked = sorted(t for p in peers for t in p.checked)
        last = sum(1 for t in checked if t >= t0 + seconds - 1)
        return len(checked) / seconds, last, sum(p.refused for p in peers)
    finally:
        finish(show, wire, driver)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--seconds", type=float, default=5.0)
    args = parser.parse_args()
    for connections in (1, 4):
        rate, last, refused = measure(args.build, connections, args.seconds)
        print("%d connection(s): %.1f wrong keys checked a second over %.0f s, %d in the last "
              "second, %d requests refused unchecked" % (connections, rate, args.seconds, last,
                                                        refused))


if __name__ == "__main__":
    main()
