#!/usr/bin/env python3
"""End to end under wine: the Windows programs of a laid-out show folder, a pseudo-terminal as
COM5, the registry as the hand-off store, sACN and Art-Net to sockets on this machine, RDM
through a stand-in USB Pro widget and through olad as an Art-Net node, the installer.

  wine_e2e.py --show build-win/show/LUVRIN --setup build-win/LUVRIN-x-setup.exe
  wine_e2e.py --show ... --measure          frames/s, processor time and threads made per
                                           second, idle, at 25 ms and at 1 ms, N = 128
  wine_e2e.py --show ... --setup ... --only installer     one test alone

Runs in the wine prefix of WINEPREFIX (made ready by the caller: wineboot, Windows 10). Every
process it starts is ended by its id; the caller ends the prefix's wineserver afterwards.
"""
import argparse
import json
import os
import pty
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import tty
import urllib.error
import urllib.request
import uuid

HEADER = b'::::DMX'
HANDOFF_KEY = r'HKCU\Software\VB and VBA Program Settings\TALVEN\LUVRIN'
PREFIX = os.environ['WINEPREFIX']
ENV = dict(os.environ, WINEDEBUG='-all', LC_ALL='C.UTF-8')


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)


def wait_for(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if condition():
            return
        time.sleep(0.05)
    raise Failure('timed out after %g s waiting for %s' % (seconds, what))


def gbk_crlf(text):
    return text.replace('\n', '\r\n').encode('gbk')


def windows_path(path):
    out = subprocess.run(['winepath', '-w', path], env=ENV, capture_output=True, check=True)
    return out.stdout.decode('utf-8').strip()


class Port:
    """A pseudo-terminal behind COM5 that collects every byte the driver sends."""

    def __init__(self):
        self.master, self.slave = pty.openpty()
        tty.setraw(self.slave)
        link = os.path.join(PREFIX, 'dosdevices', 'com5')
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(os.ttyname(self.slave), link)
        self.lock = threading.Lock()
        self.data = bytearray()
        self.stamps = []  # (time, total bytes so far)
        self.running = True
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        import select
        while self.running:
            ready, _, _ = select.select([self.master], [], [], 0.1)
            if not ready:
                continue
            try:
                chunk = os.read(self.master, 65536)
            except OSError:
                return
            with self.lock:
                self.data += chunk
                self.stamps.append((time.monotonic(), len(self.data)))

    def clear(self):
        with self.lock:
            self.data = bytearray()
            self.stamps = []

    def snapshot(self):
        with self.lock:
            return bytes(self.data)

    def close(self):
        self.running = False
        self.thread.join()
        os.close(self.master)
        os.close(self.slave)


def frames(data, levels):
    """The frames in data from the first header on; raises on any byte that is not a frame."""
    start = data.find(HEADER)
    if start < 0:
        return []
    size = len(HEADER) + levels + 1
    out = []
    i = start
    while i + size <= len(data):
        frame = data[i:i + size]
        if not frame.startswith(HEADER) or frame[-1:] != b'.':
            raise Failure('malformed frame at byte %d: %r' % (i, data[i:i + size + 8]))
        out.append(list(frame[len(HEADER):-1]))
        i += size
    return out


def last_frame(port, levels):
    found = frames(port.snapshot(), levels)
    return found[-1] if found else None


def prefix_processes(name='.exe'):
    """Unix ids of this prefix's Windows processes whose program name ends in name."""
    ids = []
    for entry in os.listdir('/proc'):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        try:
            with open('/proc/%s/cmdline' % entry, 'rb') as f:
                program = f.read().split(b'\0')[0].decode('utf-8', 'replace')
            with open('/proc/%s/environ' % entry, 'rb') as f:
                environ = f.read().split(b'\0')
        except OSError:
            continue
        if (program.lower().endswith(name.lower()) and
                ('WINEPREFIX=' + PREFIX).encode() in environ):
            ids.append(int(entry))
    return ids


def end_drivers():
    for pid in prefix_processes('LUVRIN.EXE'):
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    wait_for(lambda: not prefix_processes('LUVRIN.EXE'), 20, 'the drivers to end')


def run(program, *args, timeout=60):
    """Runs a Windows program to its end; returns its exit code."""
    process = subprocess.Popen(['wine', program, *args], env=ENV, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    try:
        return process.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
        raise Failure('%s did not end within %d s' % (program, timeout))


def start(program, *args):
    return subprocess.Popen(['wine', program, *args], env=ENV, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)


def handoff_value(name='场景'):
    """A registry value of the hand-off (场景 or 演出), through an export: reg query prints in the
    console's code page."""
    export = os.path.join(tempfile.mkdtemp(prefix='luvrin-reg-'), 'handoff.reg')
    try:
        subprocess.run(['wine', 'reg', 'export', HANDOFF_KEY, windows_path(export), '/y'], env=ENV,
                       capture_output=True)
        if not os.path.exists(export):
            return None
        start = '"%s"="' % name
        for line in open(export, 'rb').read().decode('utf-16').splitlines():
            if line.startswith(start) and line.endswith('"'):
                return line[len(start):-1].replace('\\\\', '\\')
        return None
    finally:
        shutil.rmtree(os.path.dirname(export), ignore_errors=True)


def write_settings(driver_folder, interval, length, baud='115200', status='运行', port='5',
                   extra=''):
    settings = ('[串口配置]\n发送定时器时间=%s\n设置=%s,N,8,1\n端口=%s\n状态=%s\n发送数据长度=%d\n'
                % (interval, baud, port, status, length)) + extra
    with open(os.path.join(driver_folder, '串口配置.ini'), 'wb') as f:
        f.write(gbk_crlf(settings))


def files_in(folder):
    """The files under folder, as paths relative to it with / between names."""
    return {os.path.relpath(os.path.join(d, n), folder).replace(os.sep, '/')
            for d, _, names in os.walk(folder) for n in names}


def lay_out(show, root, name='演出'):
    """A copy of the show folder under a Chinese name, as a user would unpack the zip."""
    folder = os.path.join(root, name)
    shutil.copytree(show, folder)
    return folder


# ---------------------------------------------------------------------------------------------

def test_scenes(show, work, port, screen):
    folder = lay_out(show, work)
    driver_folder = os.path.join(folder, '驱动')
    # The frame timer at its shortest: frames as fast as the line of 115200 baud takes them.
    write_settings(driver_folder, 1, 4)
    with open(os.path.join(driver_folder, '场景.ini'), 'wb') as f:
        f.write(gbk_crlf('[DMX]\n开场=DMX010,020,030,040,\n开场说明=第一个场景\n谢幕=谢幕.ini\n'))
    with open(os.path.join(driver_folder, '谢幕.ini'), 'wb') as f:
        f.write(gbk_crlf('"\nDMX200,000,000,000,\n!T000002\'100mS\nDMX000,200,000,000,\n'
                         '!T000002\'100mS\n!GT000"\n'))
    template = os.path.join(folder, 'LUVRINpREG.exe')
    opening = os.path.join(folder, '开场.exe')
    shutil.copy(template, opening)

    # The launcher starts 驱动\LUVRIN.EXE, hands its name over through the registry and ends.
    check(run(opening) == 0, '开场.exe ended with an error')
    check(handoff_value() == '开场', 'hand-off value after 开场.exe: %r' % handoff_value())
    show_value = windows_path(driver_folder) + '|开场'
    check(handoff_value('演出') == show_value,
          'hand-off 演出 after 开场.exe: %r, not %r' % (handoff_value('演出'), show_value))
    wait_for(lambda: last_frame(port, 5) == [10, 20, 30, 40, 0], 30, 'the levels of 开场 on COM5')
    check(len(prefix_processes('LUVRIN.EXE')) == 1, 'one driver runs')
    print('ok   launcher 开场.exe: driver started, registry 场景=开场, its levels on COM5')

    # Every byte on the wire belongs to a frame: header, N + 1 levels, ".".
    port.clear()
    wait_for(lambda: len(frames(port.snapshot(), 5)) >= 50, 20, '50 frames')
    data = port.snapshot()
    found = frames(data, 5)
    tail = data[data.find(HEADER) + len(found) * 13:]
    check(HEADER.startswith(tail[:len(HEADER)]) and len(tail) < 13, 'bytes after the last frame')
    check(all(f == [10, 20, 30, 40, 0] for f in found), 'every frame holds the levels of 开场')
    print('ok   frames byte-exact: %d frames of ::::DMX, 5 levels, "."' % len(found))

    # A second launcher switches the scene of the running driver, whose script loops.
    driver = prefix_processes('LUVRIN.EXE')
    closing = os.path.join(folder, '谢幕.exe')
    shutil.copy(template, closing)
    check(run(closing) == 0, '谢幕.exe ended with an error')
    check(handoff_value() == '谢幕', 'hand-off value after 谢幕.exe: %r' % handoff_value())
    port.clear()
    wait_for(lambda: [200, 0, 0, 0, 0] in frames(port.snapshot(), 5) and
             [0, 200, 0, 0, 0] in frames(port.snapshot(), 5), 30, 'both looks of 谢幕.ini')
    port.clear()
    wait_for(lambda: [200, 0, 0, 0, 0] in frames(port.snapshot(), 5) and
             [0, 200, 0, 0, 0] in frames(port.snapshot(), 5), 30, '谢幕.ini to loop')
    check(prefix_processes('LUVRIN.EXE') == driver, 'the same single driver plays 谢幕')
    print('ok   launcher 谢幕.exe: the running driver plays the script 谢幕.ini and loops')

    # Another show's launcher of a scene both shows have leaves this show's lights alone; the
    # driver it started asks whether to end this show, and 否 (the default) keeps it playing.
    other = lay_out(show, work, '演出二')
    write_settings(os.path.join(other, '驱动'), 1, 4)
    with open(os.path.join(other, '驱动', '场景.ini'), 'wb') as f:
        f.write(gbk_crlf('[DMX]\n谢幕=DMX009,009,009,009,\n'))
    shutil.copy(os.path.join(other, 'LUVRINpREG.exe'), os.path.join(other, '谢幕.exe'))
    check(run(os.path.join(other, '谢幕.exe')) == 0, "the other show's 谢幕.exe")
    check(handoff_value('演出') == windows_path(os.path.join(other, '驱动')) + '|谢幕',
          'hand-off 演出 of the other show: %r' % handoff_value('演出'))
    wait_for(lambda: screen.window('^LUVRIN$'), 30, 'the question which show to run')
    screen.key(screen.window('^LUVRIN$'), 'Return')
    wait_for(lambda: prefix_processes('LUVRIN.EXE') == driver, 30, "the other show's driver to end")
    port.clear()
    wait_for(lambda: len(frames(port.snapshot(), 5)) >= 50, 20, 'frames after the other show')
    check(all(f in ([200, 0, 0, 0, 0], [0, 200, 0, 0, 0]) for f in frames(port.snapshot(), 5)),
          "the other show's 谢幕 reached the wire")
    print("ok   another show's 谢幕.exe: asked, 否, this show's 谢幕.ini plays on")

    # A second driver started by hand (the hand-off is the other show's: no launcher of this
    # show started it) says that the first runs hidden, ends, and leaves the first sending.
    second = start(os.path.join(driver_folder, 'LUVRIN.EXE'))
    wait_for(lambda: screen.window('^LUVRIN$'), 30, 'the box saying the driver runs hidden')
    screen.key(screen.window('^LUVRIN$'), 'Return')
    check(second.wait(timeout=30) == 0, 'second driver')
    check(prefix_processes('LUVRIN.EXE') == driver, 'the first driver runs on')
    port.clear()
    wait_for(lambda: len(frames(port.snapshot(), 5)) >= 10, 20, 'frames after a second start')
    print('ok   a second LUVRIN.EXE says the first runs hidden and ends; the first keeps sending')
    end_drivers()


class VirtualScreen:
    """An X server of its own, so that the driver window can be shown and its button clicked."""

    def __init__(self):
        self.server = subprocess.Popen(['Xvfb', '-displayfd', '1', '-screen', '0', '1280x1024x24',
                                        '-nolisten', 'tcp'], stdout=subprocess.PIPE,
                                       stderr=subprocess.DEVNULL)
        self.display = ':' + self.server.stdout.readline().decode().strip()

    def click(self, window, x_twips, y_twips):
        # Twips to pixels at wine's 96 dots an inch: 15 twips a pixel.
        subprocess.run(['xdotool', 'mousemove', '--window', window, str(x_twips // 15),
                        str(y_twips // 15), 'click', '1'], env=ENV, check=True)

    def driver_window(self):
        # The driver window's title is the date and time of its start.
        out = subprocess.run(['xdotool', 'search', '--onlyvisible', '--name',
                              r'^[0-9]+/[0-9]+/[0-9]+ '], env=ENV, capture_output=True)
        found = out.stdout.decode().split()
        return found[0] if found else None

    def window(self, pattern):
        """A shown window whose title matches pattern, or None."""
        out = subprocess.run(['xdotool', 'search', '--onlyvisible', '--name', pattern], env=ENV,
                             capture_output=True)
        found = out.stdout.decode().split()
        return found[0] if found else None

    def key(self, window, name):
        """A key pressed in window. With no window manager on this screen, the window gets the
        keyboard by a click into its corner (left of and above any button) and the focus."""
        subprocess.run(['xdotool', 'mousemove', '--window', window, '4', '4', 'click', '1'],
                       env=ENV, check=True)
        subprocess.run(['xdotool', 'windowfocus', window], env=ENV)
        subprocess.run(['xdotool', 'key', name], env=ENV, check=True)

    def close(self):
        self.server.kill()
        self.server.wait()


def test_generation(show, work, port, screen):
    """The driver's button 根据配置文件生成EXE writes a launcher per scene, as .exe files."""
    folder = lay_out(show, work, '生成')
    driver_folder = os.path.join(folder, '驱动')
    write_settings(driver_folder, 20, 4, status='正常')
    with open(os.path.join(driver_folder, '场景.ini'), 'wb') as f:
        f.write(gbk_crlf('[DMX]\n开场=DMX010,020,030,040,\n开场说明=第一个场景\n'
                         '尾声=DMX050,060,070,080,\n谢幕=谢幕.ini\n'))
    template = os.path.join(folder, 'LUVRINpREG.exe')
    shutil.copy(template, os.path.join(folder, '开场.exe'))
    try:
        check(run(os.path.join(folder, '开场.exe')) == 0, '开场.exe')
        wait_for(lambda: last_frame(port, 5) == [10, 20, 30, 40, 0], 30, 'the levels of 开场')
        wait_for(screen.driver_window, 30, 'the driver window')
        # Command2 "根据配置文件生成EXE": left 6840, top 840, 2055 x 375 twips.
        screen.click(screen.driver_window(), 6840 + 2055 // 2, 840 + 375 // 2)
        made = [os.path.join(folder, n + '.exe') for n in ('尾声', '谢幕')]
        wait_for(lambda: all(os.path.exists(p) for p in made), 30, 'the launchers 尾声, 谢幕')
        template_bytes = open(template, 'rb').read()
        check(all(open(p, 'rb').read() == template_bytes for p in made),
              'launchers are copies of the launcher that started the driver')
        check(not os.path.exists(os.path.join(folder, '开场说明.exe')), 'no launcher for 开场说明')
        print('ok   根据配置文件生成EXE in the shown driver window wrote 尾声.exe and 谢幕.exe')

        check(run(made[0]) == 0, '尾声.exe')
        wait_for(lambda: last_frame(port, 5) == [50, 60, 70, 80, 0], 30, 'the levels of 尾声')
        check(handoff_value() == '尾声', 'hand-off value after 尾声.exe')
        print('ok   the generated launcher 尾声.exe switches the driver to 尾声')
    finally:
        end_drivers()


def test_lone_launcher(show, work, screen):
    """A launcher copied away from its show says why in a message box and the log, hands nothing
    over, starts nothing and ends with 1."""
    folder = os.path.join(work, '桌面')
    os.makedirs(folder)
    lone = os.path.join(folder, '开场.exe')
    shutil.copy(os.path.join(show, 'LUVRINpREG.exe'), lone)
    before = handoff_value()
    drivers = prefix_processes('LUVRIN.EXE')
    process = start(lone)
    try:
        wait_for(lambda: screen.window('^LUVRINpREG$'), 60, 'the lone launcher\'s message box')
        screen.key(screen.window('^LUVRINpREG$'), 'Return')
        check(process.wait(timeout=60) == 1, 'the lone launcher ends with 1')
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()
    check(handoff_value() == before, 'the hand-off after the lone launcher: %r' % handoff_value())
    check(prefix_processes('LUVRIN.EXE') == drivers, 'no driver started')
    log = open(DRIVER_LOG, 'rb').read().decode('utf-8') if os.path.exists(DRIVER_LOG) else ''
    check('LUVRINpREG: 找不到驱动程序 ' in log and '快捷方式' in log,
          'the lone launcher\'s log line: %r' % log[-300:])
    print('ok   a lone launcher says so in a message box and the log and ends with 1')


class Receiver:
    """A UDP socket on this machine that keeps every datagram with its arrival time and source:
    on a free port of 127.0.0.1, or on a protocol's port in a multicast group (shared with any
    other listener there, so the packets are told apart by their source)."""

    def __init__(self, group=None, port=0):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            if group:
                self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEPORT, 1)
                # Bound to the group's address, the socket gets that group's datagrams only.
                self.sock.bind((group, port))
                self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                                     socket.inet_aton(group) + socket.inet_aton('0.0.0.0'))
            else:
                self.sock.bind(('127.0.0.1', 0))
        except OSError as e:
            self.sock.close()
            raise Failure('cannot listen on %s:%d: %s' % (group or '127.0.0.1', port, e))
        self.port = self.sock.getsockname()[1]
        self.sock.settimeout(0.1)
        self.lock = threading.Lock()
        self.packets = []  # (arrival time, (address, port), bytes)
        self.running = True
        self.thread = threading.Thread(target=self._read, daemon=True)
        self.thread.start()

    def _read(self):
        while self.running:
            try:
                data, source = self.sock.recvfrom(2048)
            except socket.timeout:
                continue
            except OSError:
                return
            with self.lock:
                self.packets.append((time.monotonic(), source, data))

    def clear(self):
        with self.lock:
            self.packets = []

    def snapshot(self):
        with self.lock:
            return list(self.packets)

    def close(self):
        self.running = False
        self.thread.join()
        self.sock.close()


E131_ROOT = b'\x00\x10\x00\x00ASC-E1.17\x00\x00\x00'


def decode_sacn(data):
    """An E1.31 data packet as a dict, or None for anything else."""
    if len(data) < 126 or not data.startswith(E131_ROOT):
        return None
    if data[18:22] != b'\x00\x00\x00\x04' or data[40:44] != b'\x00\x00\x00\x02' or data[117] != 2:
        return None
    slots = int.from_bytes(data[123:125], 'big')  # the start code and the levels
    if slots < 1 or len(data) != 125 + slots:
        return None
    return {'cid': bytes(data[22:38]), 'name': data[44:108].split(b'\0')[0],
            'priority': data[108], 'universe': int.from_bytes(data[113:115], 'big'),
            'start code': data[125], 'levels': list(data[126:])}


def decode_artnet(data):
    """An ArtDmx packet as a dict, or None for anything else."""
    if len(data) < 18 or not data.startswith(b'Art-Net\0') or data[8:10] != b'\x00\x50':
        return None
    length = int.from_bytes(data[16:18], 'big')
    if int.from_bytes(data[10:12], 'big') != 14 or len(data) != 18 + length:
        return None
    return {'universe': data[14] | data[15] << 8, 'levels': list(data[18:])}


def check_stream(receiver, decode, ours, expected, what):
    """Waits for the levels in the packets of our source, then checks every packet of ~2 s
    against expected (each of its keys) and their rate against the limit of 44 a second."""
    def mine():
        found = []
        for _, source, data in receiver.snapshot():
            packet = decode(data)
            if packet is not None and ours(source, packet):
                found.append(packet)
        return found

    wait_for(lambda: any(p['levels'] == expected['levels'] for p in mine()), 30,
             'the levels of 开场 as ' + what)
    receiver.clear()
    start = time.monotonic()
    time.sleep(2)
    got = mine()
    elapsed = time.monotonic() - start
    wrong = [p for p in got if any(p[k] != v for k, v in expected.items())]
    check(not wrong, '%s: %d of %d packets differ from %r, as %r' %
          (what, len(wrong), len(got), expected, wrong[:1]))
    rate = len(got) / elapsed
    # Wine's timers stall and the sender catches up: an average with room for that, far below
    # what an unlimited sender at a 1 ms frame timer gives (hundreds a second).
    check(20 <= rate <= 44 * 1.25, '%s: %.1f packets a second, not about 44 at most' % (what, rate))
    return rate


def test_network(show, work):
    """The driver plays a scene as sACN (unicast, multicast) and as Art-Net to sockets here."""
    folder = lay_out(show, work, '网络')
    driver_folder = os.path.join(folder, '驱动')
    with open(os.path.join(driver_folder, '场景.ini'), 'wb') as f:
        f.write(gbk_crlf('[DMX]\n开场=DMX001,128,255,077,\n'))
    opening = os.path.join(folder, '开场.exe')
    shutil.copy(os.path.join(folder, 'LUVRINpREG.exe'), opening)
    levels = [1, 128, 255, 77, 0]
    # The driver's sACN identifier, kept per user: a new one, so that our packets are told from
    # any other source's.
    cid = uuid.uuid4()
    cid_file = os.path.join(PREFIX, 'drive_c', 'users', os.environ.get('USER', 'root'), 'AppData',
                            'Local', 'TALVEN', 'LUVRIN-sACN-CID.txt')
    os.makedirs(os.path.dirname(cid_file), exist_ok=True)
    with open(cid_file, 'w') as f:
        f.write(str(cid) + '\n')
    sacn = {'universe': 0, 'start code': 0, 'levels': levels, 'name': b'LUVRIN', 'priority': 100}

    def play(port_setting, receiver, decode, ours, expected, what):
        try:
            # A frame timer of 1 ms: only the packet limit keeps the rate down.
            write_settings(driver_folder, 1, 4, port=port_setting)
            check(run(opening) == 0, '开场.exe ended with an error')
            rate = check_stream(receiver, decode, ours, expected, what)
        finally:
            end_drivers()
            receiver.close()
        print('ok   %s: 开场 byte for byte, %.1f packets/s' % (what, rate))

    universe = 1 + os.getpid() % 63999
    receiver = Receiver()
    play('sacn:%d@127.0.0.1:%d' % (universe, receiver.port), receiver, decode_sacn,
         lambda source, p: p['cid'] == cid.bytes, dict(sacn, universe=universe),
         'sACN universe %d to 127.0.0.1:%d' % (universe, receiver.port))

    # Without an address, to the universe's group on sACN's port.
    group = '239.255.%d.%d' % (universe >> 8, universe & 255)
    receiver = Receiver(group, 5568)
    play('sacn:%d' % universe, receiver, decode_sacn, lambda source, p: p['cid'] == cid.bytes,
         dict(sacn, universe=universe), 'sACN universe %d to %s:5568' % (universe, group))

    # Art-Net carries no identifier: ours are those to our port from this machine.
    port_address = universe % 32768
    receiver = Receiver()
    # The data field is padded to an even length.
    play('artnet:%d@127.0.0.1:%d' % (port_address, receiver.port), receiver, decode_artnet,
         lambda source, p: source[0] == '127.0.0.1' and p['universe'] == port_address,
         {'universe': port_address, 'levels': levels + [0] * (len(levels) % 2)},
         'Art-Net port-address %d to 127.0.0.1:%d' % (port_address, receiver.port))


class FakeWidget:
    """tests/e2e/usbpro_widget.py behind a COM port of the prefix; its report lines, read here."""

    def __init__(self, com, *options):
        script = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'e2e',
                              'usbpro_widget.py')
        self.link = os.path.join(PREFIX, 'dosdevices', com.lower())
        self.process = subprocess.Popen([sys.executable, script, self.link, *options],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.lines = []
        self.lock = threading.Lock()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        wait_for(lambda: any(l.startswith('plugged') for l in self.snapshot()), 10,
                 'the fake widget on ' + com)

    def _read(self):
        for line in self.process.stdout:
            with self.lock:
                self.lines.append(line.strip())

    def snapshot(self):
        with self.lock:
            return list(self.lines)

    def command(self, line):
        self.process.stdin.write(line + '\n')
        self.process.stdin.flush()

    def close(self):
        try:
            self.process.stdin.close()
        except (BrokenPipeError, OSError):
            pass
        try:
            self.process.wait(5)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


def test_usb_pro(show, work):
    """The driver plays a scene to a USB Pro widget on COM6, asking for its parameters and serial
    number, and takes it up again after it was unplugged and plugged back."""
    folder = lay_out(show, work, 'USB')
    driver_folder = os.path.join(folder, '驱动')
    with open(os.path.join(driver_folder, '场景.ini'), 'wb') as f:
        f.write(gbk_crlf('[DMX]\n开场=DMX005,250,000,128,\n'))
    opening = os.path.join(folder, '开场.exe')
    shutil.copy(os.path.join(folder, 'LUVRINpREG.exe'), opening)
    widget = FakeWidget('COM6')
    try:
        write_settings(driver_folder, 1, 4, port='usbpro:6')
        check(run(opening) == 0, '开场.exe ended with an error')
        wait_for(lambda: 'dmx 5 250 0 128 0' in widget.snapshot(), 30,
                 'the levels of 开场 at the widget')
        lines = widget.snapshot()
        check('query parameters' in lines and 'query serial' in lines,
              'the widget was asked for its parameters and serial number: %r' % lines[:8])
        widget.command('count')
        wait_for(lambda: any(l.startswith('count ') for l in widget.snapshot()), 10, 'a count')
        # Hot-plug: the cable pulled for a moment; the driver asks again and sends again.
        widget.command('unplug')
        wait_for(lambda: 'unplugged' in widget.snapshot(), 10, 'the widget unplugged')
        time.sleep(1.5)  # the driver notices the port gone while the widget is away
        before = len(widget.snapshot())
        widget.command('plug')
        wait_for(lambda: widget.snapshot()[before:].count('query serial') >= 1 and
                 any(l.startswith('dmx ') for l in widget.snapshot()[before:]), 30,
                 'queries and levels again after plugging back in')
        bad = [l for l in widget.snapshot() if l.startswith('bad')]
        check(not bad, 'the widget took every message: %r' % bad[:5])
        print('ok   USB Pro widget on COM6: queries answered, 开场 levels, back after a replug')
    finally:
        end_drivers()
        widget.close()


def test_usb_pro_rdm(show, work):
    """The driver's API, with a key, finds the RDM responders behind a USB Pro widget on COM6 and
    sets the start address of one of them."""
    folder = lay_out(show, work, 'USB RDM')
    driver_folder = os.path.join(folder, '驱动')
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        remote_port = s.getsockname()[1]
    key = 'wine-rdm-' + uuid.uuid4().hex[:12]
    widget = FakeWidget('COM6', '--rdm', '3', '--firmware', '4.15')
    try:
        write_settings(driver_folder, 25, 4, port='usbpro:6',
                       extra='远程端口=%d\n远程密码=%s\n' % (remote_port, key))
        start(os.path.join(driver_folder, 'LUVRIN.EXE'))
        wait_for(lambda: api(remote_port, 'GET', '/api/scenes', key=key)[0] == 200, 30,
                 'the remote answering')
        check(api(remote_port, 'POST', '/api/rdm/discover', {'full': True})[0] == 401,
              'a discovery without the key is refused')
        # 501 until the widget's answer to the parameter query is in.
        found = [(0, None)]
        try:
            wait_for(lambda: found.append(api(remote_port, 'POST', '/api/rdm/discover',
                                              {'full': True}, key)) or found[-1][0] == 200, 60,
                     'a discovery through the API')
        except Failure as e:
            raise Failure('%s (the last answer: %r)' % (e, found[-1]))
        uids = sorted(d['uid'] for d in found[-1][1]['devices'])
        expected = ['7a70:%08x' % i for i in (1, 2, 3)]
        check(uids == expected, 'the responders found: %r' % uids)
        status, device = api(remote_port, 'POST', '/api/rdm/devices/7a70:00000002',
                             {'address': 101}, key)
        check(status == 200 and device['address'] == 101, 'address 101 set: %d %r'
              % (status, device))
        check('rdm set 7a70:00000002 address 101' in widget.snapshot(),
              'the responder took address 101: %r' % widget.snapshot()[-5:])
        bad = [l for l in widget.snapshot() if l.startswith('bad')]
        check(not bad, 'the widget took every message: %r' % bad[:5])
        print('ok   RDM through the USB Pro widget on COM6: the API found %d responders and set'
              ' an address' % len(uids))
    finally:
        end_drivers()
        widget.close()


def test_artnet_rdm(show, work):
    """The driver's API finds olad's dummy responders through olad as an Art-Net node (its table
    of devices), reads their fields, and sets an address, a personality and identify that olad's
    own ola_rdm_get reads back (the checks of tests/e2e/rdm_net_olad_test.py). olad and the
    driver sit in two network namespaces joined by a veth pair; the wineserver, which makes the
    sockets of the programs it serves, is started in the driver's."""
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'e2e'))
    import rdm_net_olad_test as net
    missing = [p for p in ('olad', 'ola_rdm_get', 'ola_patch', 'setpriv', 'ip', 'curl')
               if not shutil.which(p)]
    if os.geteuid() != 0 or missing:
        print('skip Art-Net RDM: needs root, and %s' % (missing or 'namespaces'))
        return
    folder = lay_out(show, work, 'Art-Net RDM')
    driver_folder = os.path.join(folder, '驱动')
    remote_port = 18500 + os.getpid() % 1000  # in the driver's namespace, which has no other
    write_settings(driver_folder, 25, 4, port='artnet:1@' + net.NODE,
                   extra='远程端口=%d\n远程密码=%s\n' % (remote_port, net.KEY))
    log_start = os.path.getsize(DRIVER_LOG) if os.path.exists(DRIVER_LOG) else 0
    made, started = [], []
    subprocess.run(['wineserver', '-k'], env=ENV)
    subprocess.run(['wineserver', '-w'], env=ENV)
    try:
        with tempfile.TemporaryDirectory() as root:
            os.chmod(root, 0o755)  # olad's user reads its configuration in there
            try:
                node_ns, driver_ns = net.make_namespaces('artnet', made)
            except SystemExit:
                print('skip Art-Net RDM: no network namespaces or veth pairs here')
                return
            net.start_olad(root, node_ns, 'artnet', started)
            program = os.path.join(driver_folder, 'LUVRIN.EXE')
            started.append(subprocess.Popen(['ip', 'netns', 'exec', driver_ns, 'wine', program],
                                            env=ENV, stdout=subprocess.DEVNULL,
                                            stderr=subprocess.DEVNULL))

            class Driver:
                @staticmethod
                def api(method, path, body=None):
                    return net.api(driver_ns, remote_port, method, path, body)
            try:
                net.check(Driver, node_ns, 'artnet:1@%s under wine' % net.NODE)
            except AssertionError as e:
                raise Failure('Art-Net RDM under wine: %s' % e)
            with open(DRIVER_LOG, 'rb') as f:
                f.seek(log_start)
                log = f.read().decode('utf-8', 'replace')
            check('搜索完成: 找到 5 台设备' in log and '已改: 起始地址 101' in log,
                  'the discovery and the change in the log: %r' % log[-500:])
            print('ok   RDM through olad as an Art-Net node: the API found its 5 responders, read'
                  ' them and set address, personality and identify')
    finally:
        end_drivers()
        # This namespace's wineserver and what it still serves; the next test starts a new one.
        for pid in prefix_processes():
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        subprocess.run(['wineserver', '-k'], env=ENV)
        subprocess.run(['wineserver', '-w'], env=ENV)
        net.end_all(started, made)


USER_FOLDER = os.path.join(PREFIX, 'drive_c', 'users', os.environ.get('USER', 'root'))
START_MENU = os.path.join(USER_FOLDER, 'AppData', 'Roaming', 'Microsoft', 'Windows', 'Start Menu',
                          'Programs')
UNINSTALL_KEY = r'HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall'
DRIVER_LOG = os.path.join(USER_FOLDER, 'AppData', 'Local', 'TALVEN', 'LUVRIN.log')
ASKED_TO_END = '收到结束请求'


def registry_subkeys(key):
    """The names of the subkeys of key, through an export (reg query prints in the console's
    code page)."""
    export = os.path.join(tempfile.mkdtemp(prefix='luvrin-reg-'), 'keys.reg')
    try:
        subprocess.run(['wine', 'reg', 'export', key, windows_path(export), '/y'], env=ENV,
                       capture_output=True)
        if not os.path.exists(export):
            return set()
        full = key.replace('HKCU', 'HKEY_CURRENT_USER', 1)
        return {line[len(full) + 2:-1] for line in
                open(export, 'rb').read().decode('utf-16').splitlines()
                if line.startswith('[' + full + '\\') and line.endswith(']')}
    finally:
        shutil.rmtree(os.path.dirname(export), ignore_errors=True)


def asked_to_end_count():
    if not os.path.exists(DRIVER_LOG):
        return 0
    return open(DRIVER_LOG, 'rb').read().decode('utf-8', 'replace').count(ASKED_TO_END)


def folder_size(folder):
    return sum(os.path.getsize(os.path.join(d, n)) for d, _, names in os.walk(folder)
               for n in names)


class Install:
    """A show folder installed under Documents: where it is and the names of its own entries.
    Its programs are started by their Windows paths, as Windows would: wine may name a program
    started by its Linux path after a linked folder's target (Documents is one), which the
    installer would not know as its folder."""

    def __init__(self, rel, menu):
        self.folder = os.path.join(USER_FOLDER, 'Documents', *rel.split('/'))
        self.driver_folder = os.path.join(self.folder, '驱动')
        self.menu = os.path.join(START_MENU, menu)
        self.windows = '\\'.join(['C:', 'users', os.path.basename(USER_FOLDER), 'Documents'] +
                                  rel.split('/'))
        self.key = 'LUVRIN ' + self.windows.replace('\\', '/')

    def program(self, name):
        return self.windows + '\\' + name

    def entries(self):
        """Whether its Start-menu shortcut and its uninstall entry are there."""
        return (os.path.isfile(os.path.join(self.menu, 'LUVRIN.lnk')),
                self.key in registry_subkeys(UNINSTALL_KEY))

    def only_user_files_left(self, names):
        return (sorted(os.listdir(self.folder)) == ['驱动'] and
                sorted(os.listdir(self.driver_folder)) == sorted(names))


def add_earlier_entry(target):
    """The uninstall entry an earlier setup wrote for target: one plain LUVRIN for any folder."""
    folder = tempfile.mkdtemp(prefix='luvrin-reg-')
    try:
        path = os.path.join(folder, 'earlier.reg')
        # In a .reg file a string value's backslashes and quotes are escaped with a backslash.
        value = '\\"%s\\"' % target.program('uninstall.exe').replace('\\', '\\\\')
        text = ('Windows Registry Editor Version 5.00\r\n\r\n[%s\\LUVRIN]\r\n'
                '"UninstallString"="%s"\r\n'
                % (UNINSTALL_KEY.replace('HKCU', 'HKEY_CURRENT_USER'), value))
        with open(path, 'wb') as f:
            f.write(b'\xff\xfe' + text.encode('utf-16-le'))
        subprocess.run(['wine', 'regedit', '/S', windows_path(path)], env=ENV, capture_output=True)
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def install(setup, target):
    # No blank in the folder: wine quotes an argument with a blank, and NSIS takes /D= only
    # unquoted.
    check(run(setup, '/S', '/D=' + target.windows, timeout=120) == 0, 'installer failed')


def uninstall(target):
    run(target.program('uninstall.exe'), '/S', timeout=120)
    # The uninstaller runs on from a copy of itself.
    wait_for(lambda: not os.path.exists(os.path.join(target.driver_folder, 'LUVRIN.EXE')) and
             not os.path.exists(os.path.join(target.folder, 'uninstall.exe')) and
             not os.path.exists(target.menu), 60, 'the uninstall, Start menu entry included')


def setup_answering(setup, screen, answer):
    """Runs the setup with its pages on the screen: takes the folder it offers, answers its
    question about the running driver with the key answer (Return: 确定, Escape: 取消) and closes
    its last page. Returns its exit code."""
    process = start(setup)
    try:
        wait_for(lambda: screen.window('安装: 安装目录$'), 60, 'the setup\'s folder page')
        screen.key(screen.window('安装: 安装目录$'), 'Return')
        # The question is a message box with the setup's own title.
        question = '^LUVRIN [0-9.]+ 安装$'
        wait_for(lambda: screen.window(question), 60, 'the question of the setup')
        screen.key(screen.window(question), answer)
        wait_for(lambda: screen.window('安装: 已完成$'), 60, 'the setup\'s last page')
        screen.key(screen.window('安装: 已完成$'), 'Return')
        return process.wait(timeout=60)
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()


def start_hidden_driver(target, port):
    """The installed driver in 状态=运行 (no window), started by the launcher, sending frames."""
    write_settings(target.driver_folder, 20, 4)
    check(run(target.program('LUVRINpREG.exe')) == 0, 'installed LUVRINpREG.exe')
    port.clear()
    wait_for(lambda: len(frames(port.snapshot(), 5)) >= 10, 30, 'frames of the installed driver')
    drivers = prefix_processes('LUVRIN.EXE')
    check(len(drivers) == 1, 'one driver runs: %r' % drivers)
    return drivers[0]


def test_installer(setup, show, work, port, screen):
    # The default folder, then a second show folder of the same name elsewhere.
    first = Install('LUVRIN', 'LUVRIN')
    second = Install('演出/LUVRIN', 'LUVRIN (演出 - LUVRIN)')
    install(setup, first)
    # Every file of the show folder, the DLLs the programs import among them, and the uninstaller.
    wanted = files_in(show) | {'uninstall.exe'}
    check(files_in(first.folder) == wanted, 'installed files not as in the show folder: %r'
          % sorted(files_in(first.folder) ^ wanted))
    check(all(open(os.path.join(first.folder, n), 'rb').read() ==
              open(os.path.join(show, n), 'rb').read() for n in files_in(show)),
          'installed files are those of the show folder')
    for name in ['串口配置.ini', '场景.ini']:
        data = open(os.path.join(first.driver_folder, name), 'rb').read()
        data.decode('gbk')
        check(b'\n' not in data.replace(b'\r\n', b''), name + ' has CR LF line ends')
    check(first.entries() == (True, True), 'Start menu shortcut, uninstall entry: %r'
          % (first.entries(),))
    size, setup_size = folder_size(first.folder), os.path.getsize(setup)
    check(size < 35e6 and setup_size < 15e6, 'installed %.1f MB (at most 35), installer %.1f MB'
          ' (at most 15)' % (size / 1e6, setup_size / 1e6))
    print('ok   silent install into %s: the show folder\'s files (%.1f MB, installer %.1f MB),'
          ' GBK CR LF samples, Start menu shortcut, uninstall entry'
          % (first.windows, size / 1e6, setup_size / 1e6))

    # An update while a hidden driver plays: the driver is asked to end, the files are replaced
    # and the new driver takes the show up again; the user's settings stay.
    old = start_hidden_driver(first, port)
    mine = open(os.path.join(first.driver_folder, '串口配置.ini'), 'rb').read()
    asked = asked_to_end_count()
    install(setup, first)
    check(old not in prefix_processes('LUVRIN.EXE'), 'the old driver ended')
    check(asked_to_end_count() == asked + 1, 'the old driver was asked to end, not killed')
    check(open(os.path.join(first.driver_folder, '串口配置.ini'), 'rb').read() == mine,
          'the update keeps 串口配置.ini')
    check(files_in(first.folder) == wanted, 'files after the update: %r'
          % sorted(files_in(first.folder) ^ wanted))
    wait_for(lambda: len(prefix_processes('LUVRIN.EXE')) == 1, 30, 'the new driver')
    new = prefix_processes('LUVRIN.EXE')[0]
    port.clear()
    wait_for(lambda: len(frames(port.snapshot(), 5)) >= 10, 30, 'frames of the new driver')
    print('ok   setup over a running hidden driver: asked to end, files replaced, the new driver'
          ' sends; settings kept')

    # The setup with its pages asks before ending the driver: 取消 leaves it running and installs
    # nothing, 确定 goes on as the silent setup does.
    first_stub = os.path.join(first.folder, 'LUVRINpREG.exe')
    before = os.stat(first_stub).st_ctime_ns
    check(setup_answering(setup, screen, 'Escape') == 2, 'the setup ends with 2 when cancelled')
    check(prefix_processes('LUVRIN.EXE') == [new], 'the driver runs on after 取消')
    check(os.stat(first_stub).st_ctime_ns == before,
          'nothing installed after 取消')
    check(setup_answering(setup, screen, 'Return') == 0, 'the setup after 确定')
    check(new not in prefix_processes('LUVRIN.EXE'), 'the driver ended after 确定')
    wait_for(lambda: len(prefix_processes('LUVRIN.EXE')) == 1, 30, 'the new driver')
    new = prefix_processes('LUVRIN.EXE')[0]
    print('ok   the setup with its pages asks first: 取消 leaves the driver running, 确定 replaces it')

    # A second install has entries of its own; removing it leaves the first's and its driver.
    # An earlier setup had installed it with the plain names: its entry goes, and the Start-menu
    # folder LUVRIN, which the first install holds now, stays.
    add_earlier_entry(second)
    check('LUVRIN' in registry_subkeys(UNINSTALL_KEY), 'the earlier setup\'s entry in place')
    install(setup, second)
    check(second.entries() == (True, True), 'the second install\'s own entries')
    check(first.entries() == (True, True), 'the first install\'s entries after the second')
    check('LUVRIN' not in registry_subkeys(UNINSTALL_KEY), 'the earlier setup\'s entry is gone')
    uninstall(second)
    check(second.entries() == (False, False), 'the second install\'s entries after uninstall')
    check(first.entries() == (True, True), 'the first install\'s entries after the second went')
    check(prefix_processes('LUVRIN.EXE') == [new], 'the first install\'s driver runs on')
    check(second.only_user_files_left(['串口配置.ini', '场景.ini']),
          'left of the second install: %r' % files_in(second.folder))
    print('ok   two installs: each its own Start menu folder and uninstall entry; uninstalling'
          ' one leaves the other and its driver')

    # Uninstalling while the hidden driver plays: it ends, only the user's files stay.
    with open(os.path.join(first.driver_folder, '演出.ini'), 'wb') as f:
        f.write(gbk_crlf('"\nDMX001,\n"\n'))
    shutil.copy(os.path.join(first.folder, 'LUVRINpREG.exe'), os.path.join(first.folder, '开场.exe'))
    uninstall(first)
    wait_for(lambda: not prefix_processes('LUVRIN.EXE'), 30, 'no driver left')
    check(first.entries() == (False, False), 'entries after uninstall')
    left = sorted(os.listdir(first.folder)), sorted(os.listdir(first.driver_folder))
    check(left == (['开场.exe', '驱动'], ['串口配置.ini', '场景.ini', '演出.ini']),
          'left after uninstall: %r' % (left,))
    print('ok   uninstall over a running hidden driver: no driver left, only the INI files and'
          ' the launcher stay')


def api(remote_port, method, path, body=None, key=None):
    """(status, parsed JSON) of one request to the remote, from the Linux side; (0, None) when
    nothing answers."""
    data = None if body is None else json.dumps(body).encode('utf-8')
    headers = {'Content-Type': 'application/json'}
    if key:
        headers['Authorization'] = 'Bearer ' + key
    request = urllib.request.Request('http://127.0.0.1:%d%s' % (remote_port, path), data=data,
                                     method=method, headers=headers)
    try:
        with urllib.request.urlopen(request, timeout=5) as reply:
            return reply.status, json.loads(reply.read().decode('utf-8'))
    except urllib.error.HTTPError as e:
        return e.code, None
    except (urllib.error.URLError, OSError):
        return 0, None


def test_remote(show, work, port):
    folder = lay_out(show, work, '遥控')
    driver_folder = os.path.join(folder, '驱动')
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        remote_port = s.getsockname()[1]
    write_settings(driver_folder, 20, 4, extra='远程端口=%d\n' % remote_port)
    with open(os.path.join(driver_folder, '场景.ini'), 'wb') as f:
        f.write(gbk_crlf('[DMX]\n开场=DMX010,020,030,040,\n摇头=DMX001,002,003,004,\n'))
    # A fixture of the library that ships packed beside the driver.
    with open(os.path.join(driver_folder, '配接.ini'), 'wb') as f:
        f.write(gbk_crlf('[配接]\n面光=1,Showtec/Compact Par 7 Tri,4 Channel\n'))
    port.clear()
    start(os.path.join(driver_folder, 'LUVRIN.EXE'))
    wait_for(lambda: api(remote_port, 'GET', '/api/scenes')[0] == 200, 30, 'the remote answering')
    wait_for(lambda: [f['name'] for f in api(remote_port, 'GET', '/api/fixtures')[1] or []] ==
             ['面光'], 30, 'the patched fixture, from the packed library')
    named = api(remote_port, 'GET', '/api/channels')[1]['channels']
    check([c.get('fixture') for c in named] == ['面光'] * 4, 'named: %r' % named)
    log = open(DRIVER_LOG, 'rb').read().decode('utf-8', 'replace')
    indexed = [line for line in log.splitlines() if '灯库: ' in line]
    count = re.search(r'内置 (\d+) 个定义', indexed[-1]) if indexed else None
    check(count and int(count.group(1)) > 1000 and '内置灯库.rcc' in indexed[-1],
          'the packed library indexed: %r' % indexed[-1:])
    status, scenes = api(remote_port, 'GET', '/api/scenes')
    check([s['name'] for s in scenes['scenes']] == ['开场', '摇头'], 'scenes: %r' % scenes)
    check(api(remote_port, 'POST', '/api/play', {'scene': '摇头'}) == (200, {'playing': '摇头'}),
          'POST /api/play 摇头')
    wait_for(lambda: last_frame(port, 5) == [1, 2, 3, 4, 0], 30, 'the levels of 摇头 on COM5')
    check(handoff_value() == '摇头', 'hand-off value after the remote: %r' % handoff_value())
    check(api(remote_port, 'POST', '/api/play', {'scene': '摇'})[0] == 404, 'an unknown scene')
    print('ok   the remote under wine: scenes listed, POST /api/play puts 摇头 on COM5, the patch'
          ' named from the packed library (%s)' % indexed[-1])
    end_drivers()


def cpu_seconds(pid):
    """User and system time of a process so far, in seconds."""
    with open('/proc/%d/stat' % pid) as f:
        fields = f.read().rsplit(')', 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf('SC_CLK_TCK')


def wineserver_pid():
    for pid in prefix_processes('wineserver') + prefix_processes('wineserver64'):
        return pid
    return None


MEASURES = (
    # (what, 发送定时器时间, baud in 设置, 状态: 运行 hides the window, 正常 shows it)
    ('idle (发送定时器时间=0)', 0, '115200', '运行'),
    ('25 ms, 4 Mbaud', 25, '4000000', '运行'),
    ('1 ms, 115200 baud', 1, '115200', '运行'),
    ('1 ms, 4 Mbaud', 1, '4000000', '运行'),
    ('idle, window shown', 0, '115200', '正常'),
    ('25 ms, 4 Mbaud, window shown', 25, '4000000', '正常'),
    ('1 ms, 115200 baud, window shown', 1, '115200', '正常'),
)


def measure(show, work, port, seconds=10):
    """Frames/s, processor time of the driver and of the wineserver, and threads the driver made
    per second, N = 128. A thread is counted when its id shows up among the driver's threads after
    the start of the run; the threads are listed every 2 ms, so any that lives that long is seen."""
    folder = lay_out(show, work, 'measure')
    driver_folder = os.path.join(folder, '驱动')
    for what, interval, baud, status in MEASURES:
        write_settings(driver_folder, interval, 128, baud=baud, status=status)
        port.clear()
        start(os.path.join(driver_folder, 'LUVRIN.EXE'))
        if interval > 0:
            wait_for(lambda: len(frames(port.snapshot(), 129)) >= 5, 30, 'frames')
        else:
            wait_for(lambda: prefix_processes('LUVRIN.EXE'), 30, 'the driver')
        time.sleep(2)
        pid = prefix_processes('LUVRIN.EXE')[0]
        server = wineserver_pid()
        seen = set(os.listdir('/proc/%d/task' % pid))
        before = len(seen)
        with port.lock:
            first = len(port.data), time.monotonic()
        cpu0 = cpu_seconds(pid), cpu_seconds(server) if server else 0.0
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            try:
                seen.update(os.listdir('/proc/%d/task' % pid))
            except OSError:
                pass
            time.sleep(0.002)
        with port.lock:
            last = len(port.data), time.monotonic()
        cpu1 = cpu_seconds(pid), cpu_seconds(server) if server else 0.0
        span = last[1] - first[1]
        rate = (last[0] - first[0]) / (len(HEADER) + 130) / span
        print('under wine: %s, N=128: %.1f frames/s, LUVRIN.EXE %.1f%% of a core, wineserver '
              '%.1f%%, %.1f new threads/s (%d threads at the start)'
              % (what, rate, 100 * (cpu1[0] - cpu0[0]) / span, 100 * (cpu1[1] - cpu0[1]) / span,
                 (len(seen) - before) / span, before), flush=True)
        end_drivers()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--show', required=True)
    parser.add_argument('--setup')
    parser.add_argument('--measure', action='store_true')
    parser.add_argument('--only', choices=['scenes', 'remote', 'generation', 'network', 'usbpro',
                                           'usbpro-rdm', 'artnet-rdm', 'installer', 'lone'],
                        help='run this test alone')
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix='luvrin-wine-')
    port = Port()
    # Every program of the run sees the same X server: wine's desktop process, started by the
    # first program, serves the windows of all later ones.
    screen = VirtualScreen()
    ENV['DISPLAY'] = screen.display
    # Wine's desktop process lives as long as the prefix's server; one started without a display
    # (by wineboot or a test program) would serve no windows. A fresh server starts with ours.
    subprocess.run(['wineserver', '-k'], env=ENV)
    subprocess.run(['wineserver', '-w'], env=ENV)
    failed = False
    try:
        tests = {
            'scenes': lambda: test_scenes(args.show, work, port, screen),
            'remote': lambda: test_remote(args.show, work, port),
            'generation': lambda: test_generation(args.show, work, port, screen),
            'network': lambda: test_network(args.show, work),
            'usbpro': lambda: test_usb_pro(args.show, work),
            'usbpro-rdm': lambda: test_usb_pro_rdm(args.show, work),
            'artnet-rdm': lambda: test_artnet_rdm(args.show, work),
            'lone': lambda: test_lone_launcher(args.show, work, screen)}
        if args.setup:
            tests['installer'] = lambda: test_installer(args.setup, args.show, work, port, screen)
        if args.measure:
            tests = [lambda: measure(args.show, work, port)]
        elif args.only:
            tests = [tests[args.only]]
        else:
            tests = list(tests.values())
        for test in tests:
            try:
                test()
            except Failure as e:
                print('FAIL %s' % e)
                failed = True
                end_drivers()
    finally:
        # Whatever is left of the programs this run started.
        for pid in prefix_processes():
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        port.close()
        screen.close()
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failed else 0


if __name__ == '__main__':
    sys.exit(main())
