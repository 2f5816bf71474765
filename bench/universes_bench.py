#!/usr/bin/env python3
"""The driver's cost of many channels: 发送数据长度 512, 8192 and 65535 as sACN to 127.0.0.1 at
发送定时器时间=1, each with a look that stands (one script line of N channels) and with a look that
changes every 100 ms (a script of one-tick delays). Reported: the driver's CPU (% of a core) and
the longest gap between two packets of one universe (the rate limit gives 22.7 ms).

  universes_bench.py --build after=build-bench [--build before=build-bench-before/build]
                     [--seconds 4] [--section bench/results.md]
"""
import argparse
import os
import re
import socket
import struct
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wire_bench import Show, cpu_seconds, wait_for  # noqa: E402

LENGTHS = (512, 8192, 65535)
SCRIPT_BYTES = 15 * 1024 * 1024  # under the script file limit


def look(n, seed):
    return "DMX" + "".join(f"{(k * 7 + seed) % 256:03d}," for k in range(n))


def script(n, changing, seconds):
    if not changing:
        return look(n, 3)
    count = min(int(seconds * 10) + 20, SCRIPT_BYTES // (4 * n + 20))
    return "\r\n".join(look(n, seed) + "\r\n!T000001'100mS" for seed in range(count))


class Receiver:
    """sACN data packets on a UDP port of our own: arrival time by universe."""

    def __init__(self):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 8 * 1024 * 1024)
        self.sock.bind(("127.0.0.1", 0))
        self.sock.settimeout(0.2)
        self.port = self.sock.getsockname()[1]
        self.arrivals = {}
        self.stop = False
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        while not self.stop:
            try:
                data = self.sock.recv(1024)
            except socket.timeout:
                continue
            if len(data) < 126:
                continue
            universe = struct.unpack(">H", data[113:115])[0]
            self.arrivals.setdefault(universe, []).append(time.monotonic())

    def longest_gap(self, t0, t1):
        gap = 0.0
        for times in list(self.arrivals.values()):
            inside = [t for t in times if t0 <= t < t1]
            gap = max([gap] + [b - a for a, b in zip(inside, inside[1:])])
        return 1000 * gap

    def close(self):
        self.stop = True
        self.thread.join()
        self.sock.close()


def measure(build, n, changing, seconds):
    receiver = Receiver()
    settings = {"发送定时器时间": "1", "端口": f"sacn:1@127.0.0.1:{receiver.port}",
                "发送数据长度": str(n), "状态": "运行"}
    body = script(n, changing, seconds)
    show = Show(build, settings, ["Look=look.ini"],
                {"look.ini": ('"' + body + '"\r\n').encode("gbk")})
    show.handoff("Look")
    driver = show.start_driver()
    try:
        wait_for(lambda: len(receiver.arrivals.get(1, [])) > 20, 15)
        t0, c0 = time.monotonic(), cpu_seconds(driver.pid)
        time.sleep(seconds)
        t1, c1 = time.monotonic(), cpu_seconds(driver.pid)
        return 100 * (c1 - c0) / (t1 - t0), receiver.longest_gap(t0, t1)
    finally:
        driver.kill()
        driver.wait()
        receiver.close()
        show.remove()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", action="append", required=True, help="NAME=DIR")
    parser.add_argument("--seconds", type=float, default=4)
    parser.add_argument("--section", help="results file whose section this replaces")
    args = parser.parse_args()
    builds = [b.split("=", 1) for b in args.build]
    rows = []
    for n in LENGTHS:
        for changing in (False, True):
            cells = []
            for _, path in builds:
                cpu, gap = measure(path, n, changing, args.seconds)
                cells.append(f"{cpu:.1f}% / {gap:.1f} ms")
            what = "changes every 100 ms" if changing else "stands"
            row = f"| {n} ({(n + 511) // 512} universes), the look {what} | " + " | ".join(cells) + " |"
            print(row, flush=True)
            rows.append(row)
    if not args.section:
        return
    head = "## Many channels: the driver's cost by send data length (sACN to 127.0.0.1)"
    text = "\n".join([
        head, "",
        f"Measured {time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime())} with "
        "`python3 bench/universes_bench.py`, Release build, 发送定时器时间=1, 状态=运行, "
        f"{args.seconds:g} s a row on the shared 2-core machine. Each cell: CPU of LUVRIN "
        "(% of a core) / the longest gap between two packets of one universe (44 a second "
        "gives 22.7 ms).", "",
        "| 发送数据长度 | " + " | ".join(name for name, _ in builds) + " |",
        "|---|" + "---|" * len(builds), *rows, ""])
    with open(args.section, encoding="utf-8") as f:
        old = f.read()
    pattern = re.compile(re.escape(head) + r".*?(?=\n## |\Z)", re.S)
    new = pattern.sub(lambda _: text, old) if pattern.search(old) else old.rstrip() + "\n\n" + text
    with open(args.section, "w", encoding="utf-8") as f:
        f.write(new)


if __name__ == "__main__":
    main()
