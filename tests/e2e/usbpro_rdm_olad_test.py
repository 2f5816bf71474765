#!/usr/bin/python3
"""The stand-in USB Pro widget's RDM responders against a real controller: olad's USB serial
plugin finds the widget on its pseudo-terminal, discovers the responders behind it and sets one's
start address, which the responder and olad's own GET then show.

olad runs as the olad user in a network namespace of its own (its clients only reach port 9010,
which the namespace keeps to itself), with every other plugin off. Exits 77 (skipped) where that
cannot be done: not root, no olad, no ip netns.
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

PLUGINS = ["artnet", "dummy", "e131", "espnet", "ftdidmx", "gpio", "karate", "kinet", "milinst",
           "opendmx", "openpixelcontrol", "osc", "pathport", "renard", "sandnet", "shownet", "spi",
           "stageprofi", "uartdmx", "usbdmx"]
WIDGET = os.path.join(os.path.dirname(os.path.abspath(__file__)), "usbpro_widget.py")


def skip(why):
    print("skipped: " + why)
    sys.exit(77)


def wait_for(what, predicate, seconds=30):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if predicate():
            return
        time.sleep(0.1)
    raise AssertionError("gave up waiting for " + what)


def run_case(root, netns, firmware, count):
    dev = os.path.join(root, "dev")
    conf = os.path.join(root, "ola-" + firmware)
    os.makedirs(dev, exist_ok=True)
    os.makedirs(conf)
    for name in PLUGINS:
        with open(os.path.join(conf, "ola-%s.conf" % name), "w") as f:
            f.write("enabled = false\n")
    with open(os.path.join(conf, "ola-usbserial.conf"), "w") as f:
        f.write("enabled = true\ndevice_dir = %s\ndevice_prefix = ttyLUV\n" % dev)
    olad_user = subprocess.run(["id", "-u", "olad"], capture_output=True, text=True).stdout.strip()
    for path in (conf, *[os.path.join(conf, n) for n in os.listdir(conf)]):
        os.chown(path, int(olad_user), -1)
    link = os.path.join(dev, "ttyLUV0")
    started = []
    try:
        widget = subprocess.Popen([sys.executable, WIDGET, link, "--firmware", firmware,
                                   "--rdm", str(count)], stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, text=True)
        started.append(widget)
        assert widget.stdout.readline().startswith("plugged ")
        os.chmod(os.path.realpath(link), 0o666)
        olad = subprocess.Popen(["ip", "netns", "exec", netns, "setpriv", "--reuid=olad",
                                 "--regid=nogroup", "--clear-groups", "olad", "--config-dir", conf,
                                 "--no-http", "--no-register-with-dns-sd"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        started.append(olad)

        def ola(*args):
            return subprocess.run(["ip", "netns", "exec", netns, *args], capture_output=True,
                                  text=True, timeout=30)

        wait_for("olad to find the widget", lambda: "Usb Pro" in ola("ola_dev_info").stdout)
        assert ola("ola_patch", "-d", "1", "-p", "0", "-u", "1").returncode == 0
        want = ["7a70:%08x" % (i + 1) for i in range(count)]
        found = []

        def discovered():
            # The port may take RDM requests only a moment after the patch.
            found[:] = ola("ola_rdm_discover", "-u", "1", "--full").stdout.split()
            return found == want

        try:
            wait_for("discovery", discovered)
        except AssertionError:
            raise AssertionError("firmware %s: discovered %s" % (firmware, found))
        uid = want[-1]
        assert ola("ola_rdm_set", "-u", "1", "--uid", uid, "dmx_start_address", "101").returncode == 0
        wait_for("the responder to take the address",
                 lambda: widget.stdout.readline().strip() == "rdm set %s address 101" % uid)
        got = ola("ola_rdm_get", "-u", "1", "--uid", uid, "dmx_start_address").stdout
        assert "101" in got, got
        print("firmware %s: %d responders discovered, address set and read back" % (firmware, count))
    finally:
        for p in reversed(started):
            if p.poll() is None:
                os.kill(p.pid, signal.SIGKILL)
            p.wait(10)


def main():
    if os.geteuid() != 0:
        skip("starting olad as the olad user needs root")
    for program in ("olad", "ola_rdm_discover", "setpriv", "ip"):
        if not shutil.which(program):
            skip(program + " is missing")
    netns = "luvrin-rdm-%d" % os.getpid()
    if subprocess.run(["ip", "netns", "add", netns]).returncode != 0:
        skip("no network namespaces here")
    try:
        subprocess.run(["ip", "-n", netns, "link", "set", "lo", "up"], check=True)
        with tempfile.TemporaryDirectory() as root:
            os.chmod(root, 0o755)
            # Before 4.15 every discovery request ends with a label 12 as well.
            run_case(root, netns, "2.4", 8)
            run_case(root, netns, "4.15", 3)
    finally:
        subprocess.run(["ip", "netns", "del", netns])
    return 0


if __name__ == "__main__":
    sys.exit(main())
