#!/usr/bin/env python3
"""The remote measured on a real driver: N=128, 发送定时器时间 1 ms, a pseudo-terminal read at
full speed (the line declared fast, so the frame timer sets the rate).

  play      POST /api/play -> the scene's levels in a frame on the wire, over 50 plays
            alternating two scenes: median and max (target: median within one frame time + 15 ms).
            Like a launcher, a play writes the hand-off file through QSaveFile, whose commit
            waits for the disk (fdatasync): that wait is part of the figure.
  clients   the driver's CPU and the longest gap between frames on the wire, for 10 s, with no
            client and with 50 WebSocket clients on /api/live while a script changes the levels
            every 100 ms (so every client gets a message at each change)

  remote_bench.py --build build-bench [--section bench/results.md]
"""
import argparse
import base64
import json
import os
import select
import socket
import statistics
import sys
import threading
import time
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wire_bench import cpu_seconds, finish, frame_text, frames_in, session, wait_for  # noqa: E402

N = 128
FAST = {"设置": "3000000,N,8,1"}
PLAYS = 50
CLIENTS = 50
SECONDS = 10.0
SECTION = "## Remote"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def post(port, path, body):
    request = urllib.request.Request("http://127.0.0.1:%d%s" % (port, path), method="POST",
                                     data=json.dumps(body).encode("utf-8"),
                                     headers={"Content-Type": "application/json"})
    with urllib.request.urlopen(request, timeout=10) as reply:
        return reply.status


def answering(port):
    try:
        with urllib.request.urlopen("http://127.0.0.1:%d/api/scenes" % port, timeout=2) as reply:
            return reply.status == 200
    except OSError:
        return False


def scene_levels(level):
    return bytes([level] * N + [0])


def measure_play(build):
    port = free_port()
    catalog = ["A=" + frame_text([11] * N), "B=" + frame_text([22] * N)]
    show, wire, driver = session(build, N, dict(FAST, 远程端口=str(port)), catalog)
    try:
        if not wait_for(lambda: answering(port), 15):
            raise RuntimeError("the remote does not answer")
        latencies, answers = [], []
        for i in range(PLAYS + 1):
            name, level = ("A", 11) if i % 2 == 0 else ("B", 22)
            want = scene_levels(level)
            t0 = time.monotonic()
            if post(port, "/api/play", {"scene": name}) != 200:
                raise RuntimeError("play refused")
            answered = time.monotonic()
            if not wait_for(lambda: any(f[1] == want for f in frames_in(wire, t0, 1e18)), 15):
                raise RuntimeError("scene %s never reached the wire" % name)
            arrival = next(f[0] for f in frames_in(wire, t0, 1e18) if f[1] == want)
            if i > 0:  # the first play also starts the driver's catalogue cache
                latencies.append((arrival - t0) * 1000)
                answers.append((answered - t0) * 1000)
            time.sleep(0.15)
        # The reader may take several frames at once: the frame time is the span over the count.
        times = [f[0] for f in wire.frames[-2000:]]
        frame_ms = (times[-1] - times[0]) / (len(times) - 1) * 1000
    finally:
        finish(show, wire, driver)
    return {"median": statistics.median(latencies), "max": max(latencies), "frame": frame_ms,
            "answer median": statistics.median(answers), "answer max": max(answers)}


class LiveClients:
    """WebSocket clients that read every message and do nothing else."""

    def __init__(self, port, count):
        self.sockets = []
        for _ in range(count):
            s = socket.create_connection(("127.0.0.1", port))
            key = base64.b64encode(os.urandom(16)).decode()
            s.sendall(("GET /api/live HTTP/1.1\r\nHost: 127.0.0.1\r\nUpgrade: websocket\r\n"
                       "Connection: Upgrade\r\nSec-WebSocket-Key: %s\r\n"
                       "Sec-WebSocket-Version: 13\r\n\r\n" % key).encode())
            self.sockets.append(s)
        self.bytes = 0
        self.stop = False
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        while not self.stop:
            ready, _, _ = select.select(self.sockets, [], [], 0.05)
            for s in ready:
                self.bytes += len(s.recv(1 << 16))

    def close(self):
        self.stop = True
        self.thread.join()
        for s in self.sockets:
            s.close()


def measure_clients(build, clients):
    port = free_port()
    # Two looks a tick apart, looping: the levels change ten times a second.
    script = ('"\r\n' + frame_text([200] * N) + "\r\n!T000002'100mS\r\n" + frame_text([0] * N) +
              "\r\n!T000002'100mS\r\n!GT000\"\r\n").encode("ascii")
    show, wire, driver = session(build, N, dict(FAST, 远程端口=str(port)), ["Loop=loop.ini"],
                                 {"loop.ini": script})
    live = None
    try:
        if not wait_for(lambda: answering(port), 15):
            raise RuntimeError("the remote does not answer")
        show.handoff("Loop")
        time.sleep(1.5)
        if clients:
            live = LiveClients(port, clients)
            time.sleep(1.0)
        c0, t0 = cpu_seconds(driver.pid), time.monotonic()
        got0 = live.bytes if live else 0
        time.sleep(SECONDS)
        c1, t1 = cpu_seconds(driver.pid), time.monotonic()
        got = (live.bytes if live else 0) - got0
        times = [f[0] for f in frames_in(wire, t0, t1)]
    finally:
        if live:
            live.close()
        finish(show, wire, driver)
    gaps = [(b - a) * 1000 for a, b in zip(times, times[1:])]
    return {"cpu": 100 * (c1 - c0) / (t1 - t0), "gap": max(gaps), "frames/s": len(times) / SECONDS,
            "feed kB/s": got / 1024 / SECONDS}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--section")
    args = parser.parse_args()
    play = measure_play(args.build)
    quiet = measure_clients(args.build, 0)
    busy = measure_clients(args.build, CLIENTS)
    target = play["frame"] + 15
    lines = [
        SECTION, "",
        "N=128 at 发送定时器时间 1 ms, a pseudo-terminal read at full speed; %s, %s." % (
            time.strftime("%Y-%m-%d"), os.uname().nodename),
        "",
        "| measure | value | target |", "|---|---|---|",
        "| POST /api/play -> levels on the wire, median of %d | %.1f ms | %.1f ms (%s) |" % (
            PLAYS, play["median"], target, "met" if play["median"] <= target else "MISSED"),
        "| POST /api/play -> levels on the wire, max of %d | %.1f ms | |" % (PLAYS, play["max"]),
        "| POST /api/play -> its answer (the hand-off written), median / max | %.1f / %.1f ms | |"
        % (play["answer median"], play["answer max"]),
        "| driver CPU, no client | %.1f %% | |" % quiet["cpu"],
        "| driver CPU, %d WebSocket clients (%.0f kB/s of feed) | %.1f %% | |" % (
            CLIENTS, busy["feed kB/s"], busy["cpu"]),
        "| longest frame gap, no client | %.1f ms (%.0f frames/s) | |" % (
            quiet["gap"], quiet["frames/s"]),
        "| longest frame gap, %d WebSocket clients | %.1f ms (%.0f frames/s) | |" % (
            CLIENTS, busy["gap"], busy["frames/s"]),
        "",
    ]
    text = "\n".join(lines)
    print(text)
    if args.section:
        with open(args.section, encoding="utf-8") as f:
            old = f.read()
        start = old.find(SECTION + "\n")
        if start >= 0:
            end = old.find("\n## ", start + len(SECTION))
            old = old[:start] + old[end + 1:] if end >= 0 else old[:start]
        with open(args.section, "w", encoding="utf-8") as f:
            f.write(old.rstrip("\n") + "\n\n" + text)


if __name__ == "__main__":
    main()
