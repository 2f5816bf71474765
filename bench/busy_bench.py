#!/usr/bin/env python3
"""The longest gap between the driver's frame writes while 4 busy processes load the machine,
with the output thread's real-time priority and without it.

N=128 at 发送定时器时间 1 ms, read at full speed (the line declared at 3 Mbaud) and paced as a
115200 line. "without" runs the same driver with the capability to raise priority dropped
(setpriv), as an ordinary user without rtprio has it; the driver's log must then say so. The
writes are timed at the driver's write() (perf, as gap_bench.py does); the target is no gap over
two frame intervals or two line times, whichever is longer.

  busy_bench.py --build build-bench [--seconds 15] [--repeat 1] [--section bench/results.md]
"""
import argparse
import glob
import os
import statistics
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import gap_bench  # noqa: E402
from gap_bench import LinuxDriver, load_average, quiet_then, target_ms  # noqa: E402

BUSY = 4
SPIN = "while True: pass"
SECTION = "Gaps between frames on a busy machine"
WITHOUT = ["setpriv", "--inh-caps=-sys_nice", "--bounding-set=-sys_nice", "--"]
REFUSED = "输出线程没有得到实时优先级"


def busy_work(seconds):
    def work(d, events):
        spinners = [subprocess.Popen([sys.executable, "-c", SPIN]) for _ in range(BUSY)]
        events.append((time.monotonic(), f"{BUSY} busy processes"))
        try:
            time.sleep(seconds)
            return "load at the end %.1f" % load_average()
        finally:
            for p in spinners:
                p.kill()
            for p in spinners:
                p.wait()
    return work


def one_run(build, priority, reader, seconds):
    d = LinuxDriver(build, None, 1, reader, "运行")
    if not priority:
        start = d.show.start_driver

        def start_without():
            env = d.show.env
            return subprocess.Popen(WITHOUT + [os.path.join(d.show.driver_dir, "LUVRIN")],
                                    env=env, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
        d.show.start_driver = start_without
        del start
    d.start()
    try:
        wire, writes, events, details = quiet_then(d, busy_work(seconds))
        logs = "".join(open(f, encoding="utf-8", errors="replace").read()
                       for f in glob.glob(os.path.join(d.show.root, "state", "**", "*.log"),
                                          recursive=True))
    finally:
        d.finish()
    refused = logs.count(REFUSED)
    if refused != (0 if priority else 1):
        raise gap_bench.Failure(f"{refused} lines '{REFUSED}' in the log, priority {priority}")
    side = writes if writes else wire
    gaps = gap_bench.gaps_ms(side[1])
    return {"max": max(gaps), "median": statistics.median(gaps),
            "over": sum(g > target_ms(1, reader) for g in gaps),
            "clock": "writes" if writes else "wire", "details": details}


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--build", required=True)
    p.add_argument("--seconds", type=float, default=15)
    p.add_argument("--repeat", type=int, default=1)
    p.add_argument("--readers", default="full,paced")
    p.add_argument("--section")
    a = p.parse_args()
    header = ("| priority | reader | target (ms) | median gap | max gap (each run) | gaps over "
              "target | clock | load |\n" + "|---" * 8 + "|\n")
    print(header, end="", flush=True)
    rows = []
    for reader in a.readers.split(","):
        for priority in (True, False):
            rs = []
            for _ in range(a.repeat):
                rs.append(one_run(a.build, priority, reader, a.seconds))
            limit = target_ms(1, reader)
            row = (f"| {'real-time' if priority else 'ordinary'} | {reader} | {limit:.1f} | "
                   f"{statistics.median(r['median'] for r in rs):.2f} | "
                   f"{', '.join('%.1f' % r['max'] for r in rs)} | "
                   f"{', '.join(str(r['over']) for r in rs)} | {rs[0]['clock']} | "
                   f"{'; '.join(r['details'] for r in rs)} |\n")
            rows.append(row)
            print(row, end="", flush=True)
    if a.section:
        text = (f"## {SECTION}\n\nDate: {time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime())}, "
                f"{os.cpu_count()} cores, {BUSY} processes spinning for {a.seconds:g} s each "
                f"run.\nCommand: {' '.join(sys.argv)}\n\n" + header + "".join(rows))
        old = open(a.section).read() if os.path.exists(a.section) else ""
        start = old.find(f"## {SECTION}")
        if start < 0:
            new = old.rstrip("\n") + "\n\n" + text
        else:
            end = old.find("\n## ", start + 1)
            new = old[:start] + text + ("\n" + old[end + 1:] if end >= 0 else "")
        with open(a.section, "w") as f:
            f.write(new)
    return 0


if __name__ == "__main__":
    sys.exit(main())
