#!/usr/bin/env python3
"""The longest gap between frames while the driver's window thread is busy.

Three kinds of window work, each with N=128 at 发送定时器时间 1 ms and 25 ms, read at full speed
(the line declared fast, so the frame timer sets the rate) and paced like a 115200 baud line:
  catalogue  a 50 MB 场景.ini, the scenes near its end, looked up at each of 10 scene changes
  editor     the editor window opened with 调试状态 and closed with 返回到运行窗口, 10 times
  launchers  150 launchers written by 根据配置文件生成EXE from a 150-scene catalogue
The target is no gap longer than two frame intervals or two line times, whichever is longer.
Before the work starts, the same session is measured quietly for a few seconds: the quiet
maximum is what this machine's scheduling alone gives.

Each frame is timed twice: at the driver's write() to the port (the kernel's syscall tracepoint,
through perf, where perf runs; the target is judged on these) and on the wire, as the reading end
of the pseudo-terminal got it.

  gap_bench.py --build after=build-bench --build before=/tmp/before/build [--repeat 3]
  gap_bench.py --wine-show build-win/show/LUVRIN     (WINEPREFIX made ready by the caller)
      [--wine-debug +timestamp,+mmtime trace.log]   wine's trace of the driver beside the gaps

The windows are real: the driver runs on an X server of its own (Xvfb), found and clicked with
xdotool; every wait is on a condition with a deadline. Every process started is ended by its id.
"""
import argparse
import os
import platform
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wire_bench  # noqa: E402
from wire_bench import Show, Wire, frame_text, gbk  # noqa: E402

N = 128
LINE_MS = {3000000: (N + 9) * 10 / 3000.0, 115200: (N + 9) * 10 / 115.2}
# reader: (the line declared in 设置, in baud; the reader's pacing in baud, None for full speed)
READERS = {"full": (3000000, None), "paced": (115200, 115200)}
ACTIVITIES = ("catalogue", "editor", "launchers")
QUIET_S = 3.0
CATALOGUE_BYTES = 50 * 1024 * 1024
CHANGES = 10
EDITOR_ROUNDS = 10
LAUNCHERS = 150
TWIPS_PER_PIXEL = 15  # 96 dots an inch
# Driver window: 调试状态 (Command3) and 根据配置文件生成EXE (Command2); editor: 返回到运行窗口.
COMMAND3 = (6840 + 2055 // 2, 480 + 375 // 2)
COMMAND2 = (6840 + 2055 // 2, 840 + 375 // 2)
COMMAND8 = (8040 + 2055 // 2, 0 + 495 // 2)
# The driver window is titled with the date and time of its start, in the system's format.
DRIVER_TITLE = r"^[0-9].* [0-9]+:[0-9]+:[0-9]+$"
EDITOR_TITLE = "^Form3$"


class Failure(Exception):
    pass


class PromptWire(Wire):
    """The wire read by a thread of real-time priority where the system allows it: on a busy
    machine an ordinary reader wakes late and takes many frames in one read, all stamped with
    the time of that read, and its own delays would be counted as gaps of the driver."""

    def run(self):
        try:
            os.sched_setscheduler(0, os.SCHED_FIFO, os.sched_param(10))
            self.prompt = True
        except (AttributeError, PermissionError, OSError):
            self.prompt = False
        super().run()


def wait_for(predicate, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.01)
    raise Failure(f"timed out after {seconds:g} s waiting for {what}")


def target_ms(interval, reader):
    return max(2 * interval, 2 * LINE_MS[READERS[reader][0]])


def load_average():
    with open("/proc/loadavg") as f:
        return float(f.read().split()[0])


class Screen:
    """An X server of our own for the driver window."""

    def __init__(self):
        self.server = subprocess.Popen(["Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24",
                                        "-dpi", "96", "-nolisten", "tcp"], stdout=subprocess.PIPE,
                                       stderr=subprocess.DEVNULL)
        self.display = ":" + self.server.stdout.readline().decode().strip()
        self.env = dict(os.environ, DISPLAY=self.display)

    def find(self, title):
        out = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", title],
                             env=self.env, capture_output=True)
        found = out.stdout.decode().split()
        return found[0] if found else None

    def click(self, title, twips):
        """Clicks in the visible window of that title; a window just found may be replaced
        before the click lands (a window being shown can get a new native window)."""
        def clicked():
            window = self.find(title)
            return window and subprocess.run(
                ["xdotool", "mousemove", "--window", window, str(twips[0] // TWIPS_PER_PIXEL),
                 str(twips[1] // TWIPS_PER_PIXEL), "click", "1"], env=self.env,
                capture_output=True).returncode == 0
        wait_for(clicked, 30, f"a click in the window {title}")

    def close(self):
        self.server.kill()
        self.server.wait()


class WriteTrace:
    """The times of the driver's write() calls to the port, from the kernel's syscall
    tracepoint (perf, CLOCK_MONOTONIC like time.monotonic()). On a pseudo-terminal the bytes
    reach the reading end through a kernel worker of ordinary priority, which a busy machine can
    keep waiting for a hundred milliseconds and more while the driver writes on: the writes
    are what the driver did, the wire is what a reader of the terminal saw."""

    def __init__(self, pid, pty_path):
        self.pid = pid
        self.fds = {int(fd) for fd in os.listdir(f"/proc/{pid}/fd")
                    if os.path.realpath(f"/proc/{pid}/fd/{fd}") == os.path.realpath(pty_path)}
        self.data = tempfile.mktemp(prefix="luvrin-gap-perf-")
        self.perf = None
        if self.fds and shutil.which("perf"):
            self.perf = subprocess.Popen(
                ["perf", "record", "-q", "-e", "syscalls:sys_enter_write", "-k", "CLOCK_MONOTONIC",
                 "-p", str(pid), "-o", self.data], stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL)
            time.sleep(0.5)  # perf attaches
            if self.perf.poll() is not None:
                self.perf = None

    def stop(self):
        """The write times, or None without perf."""
        if not self.perf:
            return None
        self.perf.send_signal(signal.SIGINT)
        self.perf.wait()
        out = subprocess.run(["perf", "script", "-i", self.data, "-F", "time,trace"],
                             capture_output=True).stdout.decode()
        os.remove(self.data)
        times = []
        for line in out.splitlines():
            stamp, _, trace = line.partition(":")
            if "fd: " not in trace:
                continue
            fd = int(trace.split("fd: ")[1].split(",")[0], 16)
            if fd in self.fds:
                times.append(float(stamp))
        return times or None


def level_seen(wire, since, level):
    return any(t >= since and f[0] == level for t, f in wire.frames[-200:])


def scene(level):
    return frame_text([level] * N)


def big_catalogue(cache, scenes):
    """50 MB of filler lines, then the scenes: every lookup reads to the end."""
    path = os.path.join(cache, "catalogue-%d.ini" % len(scenes))
    if not os.path.exists(path):
        tail = "".join(f"{name}={value}\n" for name, value in scenes)
        filler = gbk("Filler%07d=DMX001,001,001,001,\n")
        with open(path, "wb") as f:
            f.write(gbk("[DMX]\n"))
            size, k = 0, 0
            while size < CATALOGUE_BYTES:
                line = filler.replace(b"%07d", b"%07d" % k)
                f.write(line)
                size += len(line)
                k += 1
            f.write(gbk(tail))
    return path


# --- Linux: the driver of a build tree -------------------------------------------------------

class LinuxDriver:
    def __init__(self, build, screen, interval, reader, status, catalog=(), big=None):
        line, pace = READERS[reader]
        self.wire = PromptWire(N, pace)
        settings = {"发送定时器时间": str(interval), "端口": self.wire.path,
                    "发送数据长度": str(N), "状态": status, "设置": f"{line},N,8,1"}
        self.show = Show(build, {k: v for k, v in settings.items()}, catalog)
        if big:
            target = os.path.join(self.show.driver_dir, "场景.ini")
            os.remove(target)
            try:
                os.link(big, target)
            except OSError:
                shutil.copy(big, target)
        self.screen = screen
        if screen:
            self.show.env.pop("QT_QPA_PLATFORM", None)
            self.show.env["DISPLAY"] = screen.display
        self.driver = None

    def start(self, handoff=None):
        if handoff:
            self.show.handoff(handoff)
        self.driver = self.show.start_driver()
        wait_for(lambda: len(self.wire.frames) > 5, 30, "frames from the driver")

    def handoff(self, name):
        self.show.handoff(name)

    def pid(self):
        return self.driver.pid

    def launcher(self, name):
        return os.path.join(self.show.launchers, name)

    def make_launcher(self, name):
        shutil.copy2(os.path.join(self.show.launchers, "LUVRINpREG"), self.launcher(name))

    def finish(self):
        wire_bench.finish(self.show, self.wire, self.driver)


# --- wine: the Windows driver of a laid-out show folder --------------------------------------

# (channels, log file) when the driver runs with wine's debug channels on (--wine-debug).
WINE_DEBUG = None


class WineDriver:
    def __init__(self, show_folder, screen, interval, reader, status, catalog=(), big=None):
        import wine_e2e as w  # reads WINEPREFIX
        self.w = w
        line, pace = READERS[reader]
        self.wire = PromptWire(N, pace)
        link = os.path.join(w.PREFIX, "dosdevices", "com5")
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(self.wire.path, link)
        self.work = tempfile.mkdtemp(prefix="luvrin-gap-wine-")
        self.folder = w.lay_out(show_folder, self.work)
        self.driver_dir = os.path.join(self.folder, "驱动")
        w.write_settings(self.driver_dir, interval, N, baud=str(line), status=status)
        target = os.path.join(self.driver_dir, "场景.ini")
        if big:
            os.remove(target)
            shutil.copy(big, target)
        else:
            with open(target, "wb") as f:
                f.write(gbk("[DMX]\n" + "".join(line + "\n" for line in catalog)))
        self.screen = screen
        self.driver = None

    def start(self, handoff=None):
        if handoff:
            self.make_launcher(handoff)
            self.w.run(self.launcher(handoff))
        else:
            program = os.path.join(self.driver_dir, "LUVRIN.EXE")
            if WINE_DEBUG:
                # wine's own trace of the driver, with its time stamps, beside the gaps.
                channels, log = WINE_DEBUG
                env = dict(self.w.ENV, WINEDEBUG=channels)
                with open(log, "ab") as out:
                    self.driver = subprocess.Popen(["wine", program], env=env,
                                                   stdout=subprocess.DEVNULL, stderr=out)
            else:
                self.driver = self.w.start(program)
        wait_for(lambda: len(self.wire.frames) > 5, 60, "frames from the driver")

    def pid(self):
        return wait_for(lambda: self.w.prefix_processes("LUVRIN.EXE"), 30, "the driver")[0]

    def handoff(self, name):
        if not os.path.exists(self.launcher(name)):
            self.make_launcher(name)
        self.w.run(self.launcher(name))

    def launcher(self, name):
        return os.path.join(self.folder, name + ".exe")

    def make_launcher(self, name):
        shutil.copy(os.path.join(self.folder, "LUVRINpREG.exe"), self.launcher(name))

    def finish(self):
        for pid in self.w.prefix_processes("LUVRIN.EXE"):
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        wait_for(lambda: not self.w.prefix_processes("LUVRIN.EXE"), 20, "the driver to end")
        if self.driver:
            self.driver.wait()
        self.wire.close()
        shutil.rmtree(self.work, ignore_errors=True)


# --- the three kinds of window work ----------------------------------------------------------

def quiet_then(d, work):
    """Measures QUIET_S seconds of nothing, then the work; returns the frame times on the wire
    and at the driver's writes, each (quiet, during the work), the events and the details."""
    trace = WriteTrace(d.pid(), d.wire.path)
    time.sleep(0.5)
    q0 = time.monotonic()
    time.sleep(QUIET_S)
    q1 = time.monotonic()
    events = []
    details = work(d, events)
    w1 = time.monotonic() + 0.3
    time.sleep(0.3)
    writes = trace.stop()

    def split(times):
        if times is None:
            return None
        return [t for t in times if q0 <= t < q1], [t for t in times if q1 <= t < w1]
    return split([t for t, _ in d.wire.frames]), split(writes), events, details


def catalogue_work(d, events):
    latencies = []
    for i in range(CHANGES):
        name, level = ("A", 10) if i % 2 == 0 else ("B", 200)
        t = time.monotonic()
        events.append((t, f"change {i + 1} to {name}"))
        d.handoff(name)
        wait_for(lambda: level_seen(d.wire, t, level), 120, f"the levels of {name}")
        seen = next(f[0] for f in d.wire.frames if f[0] >= t and f[1][0] == level)
        events.append((seen, f"levels of {name} on the wire"))
        latencies.append(seen - t)
    return "scene change to its levels on the wire: median %.2f s, max %.2f s" % (
        statistics.median(latencies), max(latencies))


def editor_work(d, events):
    screen = d.screen
    opened, closed = [], []
    for i in range(EDITOR_ROUNDS):
        wait_for(lambda: screen.find(DRIVER_TITLE), 30, "the driver window")
        t = time.monotonic()
        events.append((t, f"click 调试状态 {i + 1}"))
        screen.click(DRIVER_TITLE, COMMAND3)
        wait_for(lambda: screen.find(EDITOR_TITLE), 120, "the editor window")
        events.append((time.monotonic(), f"editor {i + 1} shown"))
        opened.append(time.monotonic() - t)
        # Let the window settle (draw, map) before it is closed; the wire is read all along.
        time.sleep(0.3)
        t = time.monotonic()
        events.append((t, f"click 返回到运行窗口 {i + 1}"))
        screen.click(EDITOR_TITLE, COMMAND8)
        wait_for(lambda: not screen.find(EDITOR_TITLE), 120, "the editor window to close")
        events.append((time.monotonic(), f"editor {i + 1} gone"))
        closed.append(time.monotonic() - t)
        time.sleep(0.3)
    return "click to editor shown: median %.2f s, max %.2f s; click to editor gone: median " \
           "%.2f s, max %.2f s" % (statistics.median(opened), max(opened),
                                   statistics.median(closed), max(closed))


def launcher_work(d, events):
    screen = d.screen
    names = [f"S{i:03d}" for i in range(LAUNCHERS)]
    wait_for(lambda: screen.find(DRIVER_TITLE), 30, "the driver window")
    t = time.monotonic()
    events.append((t, "click 根据配置文件生成EXE"))
    screen.click(DRIVER_TITLE, COMMAND2)
    wait_for(lambda: all(os.path.exists(d.launcher(n)) for n in names), 120,
             f"the {LAUNCHERS} launchers")
    events.append((time.monotonic(), f"{LAUNCHERS} launchers written"))
    return "click to the last launcher written: %.2f s" % (time.monotonic() - t)


def one_run(make, activity, interval, reader, cache):
    if activity == "catalogue":
        scenes = [("A", scene(10)), ("B", scene(200))]
        d = make(interval, reader, "运行", big=big_catalogue(cache, scenes), window=False)
        d.start()
        work = catalogue_work
    elif activity == "editor":
        d = make(interval, reader, "正常", catalog=[f"S={scene(77)}"], window=True)
        d.start()
        work = editor_work
    else:
        catalog = [f"S{i:03d}={scene(i % 200 + 1)}" for i in range(LAUNCHERS)]
        d = make(interval, reader, "正常", catalog=catalog, window=True)
        # The builder copies the launcher whose name the driver was handed.
        d.make_launcher("S000")
        d.start(handoff="S000")
        wait_for(lambda: level_seen(d.wire, 0, 1), 30, "the levels of S000")
        work = launcher_work
    try:
        load = load_average()
        wire, writes, events, details = quiet_then(d, work)
    finally:
        d.finish()
    return summarize(wire, writes, events, details, load)


def gaps_ms(times):
    return [(b - a) * 1000 for a, b in zip(times, times[1:])]


def longest(times, events):
    """The longest gap, its length and the last event before it; None for no times."""
    if times is None:
        return None
    quiet, busy = times
    qg, bg = gaps_ms(quiet), gaps_ms(busy)
    if not bg:
        raise Failure("no frames while the window worked")
    k = max(range(len(bg)), key=lambda i: bg[i])
    # The last event before the gap ended: what was under way while no frame came.
    before = [label for t, label in events if t <= busy[k + 1]]
    return {"quiet_max": max(qg) if qg else float("nan"), "median": statistics.median(bg),
            "max": bg[k], "where": "ending after " + before[-1] if before else "before the work"}


def summarize(wire, writes, events, details, load):
    return {"wire": longest(wire, events), "writes": longest(writes, events),
            "details": details, "load": load}


SECTION = "Gaps between frames while the window works"


def write_section(path, table, load):
    with open("/proc/cpuinfo") as f:
        model = next((l.split(":", 1)[1].strip() for l in f if l.startswith("model name")), "")
    text = (f"## {SECTION}\n\n"
            f"Machine: {platform.system()} {platform.release()} {platform.machine()}, "
            f"{os.cpu_count()} cores, {model}\n"
            f"Date: {time.strftime('%Y-%m-%d %H:%M UTC', time.gmtime())}, load average at the "
            f"start {load:.1f}\nCommand: {' '.join(sys.argv)}\n\n"
            "N=128. Target: no gap longer than two frame intervals or two line times, whichever "
            "is longer (full: the line declared at 3 Mbaud, read at full speed; paced: 115200 "
            "baud, read as such a line delivers). Values are medians over the runs; quiet max is "
            "the longest gap of the same session in 3 s before the work started.\n\n" + table)
    old = open(path).read() if os.path.exists(path) else ""
    start = old.find(f"## {SECTION}")
    if start < 0:
        new = old + ("\n" if old and not old.endswith("\n\n") else "") + text
    else:
        end = old.find("\n## ", start + 1)
        new = old[:start] + text + ("\n" + old[end + 1:] if end >= 0 else "")
    with open(path, "w") as f:
        f.write(new)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--build", action="append", default=[],
                   help="LABEL=DIR: a build tree whose driver/LUVRIN is measured (repeatable)")
    p.add_argument("--wine-show", help="a Windows show folder (scripts/windows): under wine")
    p.add_argument("--wine-debug", nargs=2, metavar=("CHANNELS", "LOG"),
                   help="run the wine driver with WINEDEBUG=CHANNELS, its trace appended to LOG")
    p.add_argument("--only", action="append", choices=ACTIVITIES)
    p.add_argument("--intervals", default="1,25")
    p.add_argument("--readers", default="full,paced")
    p.add_argument("--repeat", type=int, default=3)
    p.add_argument("--section", help="write the table as the section '%s' of this markdown file,"
                   " in place of the one there" % SECTION)
    a = p.parse_args()
    global WINE_DEBUG
    WINE_DEBUG = tuple(a.wine_debug) if a.wine_debug else None
    # Ended from outside, the windows, drivers and X server are still ended by their ids.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))

    targets = []
    for b in a.build:
        label, _, folder = b.rpartition("=")
        targets.append((label or "this", "Linux", folder))
    if a.wine_show:
        sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..",
                                        "tests", "windows"))
        targets.append(("this", "wine", a.wine_show))
    if not targets:
        p.error("nothing to measure: give --build or --wine-show")
    activities = a.only or list(ACTIVITIES)
    intervals = [int(x) for x in a.intervals.split(",")]
    readers = a.readers.split(",")

    load_at_start = load_average()
    screen = Screen()
    cache = tempfile.mkdtemp(prefix="luvrin-gap-cache-")
    if a.wine_show:
        # Wine's desktop process serves the windows of all later programs on the display it was
        # started with: a fresh wine server starts with ours.
        os.environ["DISPLAY"] = screen.display
        subprocess.run(["wineserver", "-k"])
        subprocess.run(["wineserver", "-w"])
        import wine_e2e
        wine_e2e.ENV["DISPLAY"] = screen.display

    def maker(system, folder):
        def make(interval, reader, status, catalog=(), big=None, window=False):
            if system == "wine":
                return WineDriver(folder, screen, interval, reader, status, catalog, big)
            return LinuxDriver(folder, screen if window else None, interval, reader, status,
                               catalog, big)
        return make

    rows = []
    header = ("| build | system | window work | 发送定时器时间 | reader | target (ms) | writes: "
              "quiet max | writes: median gap | writes: max gap | writes: max of each run | "
              "wire: quiet max | wire: max gap | wire: max of each run | load (1 min) | met "
              "|\n" + "|---" * 15 + "|\n")
    print(header, end="", flush=True)

    def med(rs, side, key):
        values = [r[side][key] for r in rs if r[side]]
        return "%.1f" % statistics.median(values) if values else "-"

    def each(rs, side):
        return ", ".join("%.1f" % r[side]["max"] for r in rs if r[side]) or "-"

    try:
        for activity in activities:
            for interval in intervals:
                for reader in readers:
                    runs = {(label, system): [] for label, system, _ in targets}
                    for _ in range(a.repeat):
                        # Interleaved, so that the builds share whatever load the machine has.
                        for label, system, folder in targets:
                            r = one_run(maker(system, folder), activity, interval, reader, cache)
                            runs[(label, system)].append(r)
                            line = f"  {label} {system} {activity} {interval} ms {reader}:"
                            for side in ("writes", "wire"):
                                g = r[side]
                                if g:
                                    line += (f" {side} max {g['max']:.1f} ms ({g['where']}), "
                                             f"median {g['median']:.2f}, quiet max "
                                             f"{g['quiet_max']:.1f};")
                            print(f"{line} load {r['load']:.1f}; {r['details']}",
                                  file=sys.stderr, flush=True)
                    for label, system, _ in targets:
                        rs = runs[(label, system)]
                        limit = target_ms(interval, reader)
                        side = "writes" if all(r["writes"] for r in rs) else "wire"
                        worst = statistics.median(r[side]["max"] for r in rs)
                        met = "yes" if worst <= limit else "NO"
                        row = (f"| {label} | {system} | {activity} | {interval} | {reader} | "
                               f"{limit:.1f} | {med(rs, 'writes', 'quiet_max')} | "
                               f"{med(rs, 'writes', 'median')} | {med(rs, 'writes', 'max')} | "
                               f"{each(rs, 'writes')} | {med(rs, 'wire', 'quiet_max')} | "
                               f"{med(rs, 'wire', 'max')} | {each(rs, 'wire')} | "
                               f"{', '.join('%.1f' % r['load'] for r in rs)} | {met} ({side}) |\n")
                        rows.append(row)
                        print(row, end="", flush=True)
    finally:
        if a.wine_show:
            subprocess.run(["wineserver", "-k"])
        screen.close()
        shutil.rmtree(cache, ignore_errors=True)
    if a.section:
        write_section(a.section, header + "".join(rows), load_at_start)
    return 0 if all("| yes (" in r for r in rows) else 1


if __name__ == "__main__":
    sys.exit(main())
