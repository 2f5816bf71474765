#!/usr/bin/env python3
"""Soak: the real driver at 1 ms frames plays a looping script scene while launchers change the
scene every 100 ms. Reports the driver's memory each minute; fails if it grows after the first
minute or if frames stop."""
import argparse
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wire_bench as wb  # noqa: E402

# Memory may wobble by an allocator page or two; anything above this after the first minute is
# growth.
TOLERANCE_KIB = 512


def rss_kib(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--build", required=True)
    p.add_argument("--minutes", type=float, default=30)
    a = p.parse_args()

    n = 128
    loop_a = "".join("\r\n" + wb.frame_text([(i * 7 + k) % 256 for k in range(n)]) +
                     "\r\n!T000002'100mS" for i in range(20)) + "\r\n!GT000"
    loop_b = "\r\n" + wb.frame_text([200] * n) + "\r\n!T000003'100mS\r\n" + \
        wb.frame_text([5] * n) + "\r\n!T000003'100mS\r\n!GT000"
    files = {"a.ini": ('"' + loop_a + '"\r\n').encode(), "b.ini": ('"' + loop_b + '"\r\n').encode()}
    catalog = ["LoopA=a.ini", "LoopB=b.ini", f"Still={wb.frame_text([77] * n)}"]
    show, wire, driver = wb.session(a.build, n, wb.FAST_128, catalog, files)
    names = ["LoopA", "LoopB", "Still"]
    for name in names:  # the launchers are copies of the stub named after the scenes
        show.launch(name)
    start = time.monotonic()
    samples = []
    changes = 0
    failed = False
    next_sample = start + 60
    try:
        while time.monotonic() - start < a.minutes * 60:
            t = time.monotonic()
            show.launch(names[changes % 2])
            changes += 1
            if driver.poll() is not None:
                print("driver ended", flush=True)
                failed = True
                break
            if t >= next_sample:
                minute = len(samples) + 1
                recent = len(wb.frames_in(wire, t - 5, t)) / 5
                kib = rss_kib(driver.pid)
                samples.append(kib)
                wire.frames = wire.frames[-2000:]
                print(f"minute {minute:3}: RSS {kib} KiB, {recent:.0f} frames/s, "
                      f"{changes} scene changes", flush=True)
                # The frame timer runs at 1 ms on a line fast enough for it.
                if recent < 500:
                    print("frames stopped", flush=True)
                    failed = True
                    break
                next_sample += 60
            time.sleep(max(0.0, 0.1 - (time.monotonic() - t)))
    finally:
        wb.finish(show, wire, driver)
    if len(samples) >= 2:
        growth = max(samples[1:]) - samples[0]
        print(f"RSS first minute {samples[0]} KiB, largest later {max(samples[1:])} KiB, "
              f"growth {growth} KiB (tolerance {TOLERANCE_KIB})")
        if growth > TOLERANCE_KIB:
            failed = True
    print("soak", "FAILED" if failed else "passed", f"after {changes} scene changes")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
