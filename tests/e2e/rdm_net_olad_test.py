#!/usr/bin/python3
"""RDM through olad, against its dummy plugin's responders (moving lights with 17 slots and 4
personalities, a dimmer with sub-devices, a sensor device, an ACK_TIMER device).

  ola:     the probe (rdm_net_probe) asks olad's universe through OLA's full client.
  artnet:  olad is an Art-Net node (its Art-Net input port patched to the dummy universe) in one
           network namespace, the probe in another, joined by a veth pair.

Both list the devices with their fields, then set a moving light's start address, personality
and identify and read them back with OLA's own ola_rdm_get. olad runs as the olad user with every other
plugin off, in a namespace of its own. Exits 77 (skipped) where that cannot be done.
"""
import json
import os
import signal
import shutil
import subprocess
import sys
import tempfile
import time

from usbpro_rdm_olad_test import PLUGINS, skip, wait_for

DUMMY = {"moving_light_count": 2, "dimmer_count": 1, "dimmer_subdevice_count": 4,
         "sensor_device_count": 1, "ack_timer_count": 1, "dummy_device_count": 0,
         "advanced_dimmer_count": 0, "network_device_count": 0}
NODE, PROBE = "10.77.0.1", "10.77.0.2"


def run(netns, *args, timeout=60):
    return subprocess.run(["ip", "netns", "exec", netns, *args], capture_output=True, text=True,
                          timeout=timeout)


def write_config(conf, kind):
    os.makedirs(conf)
    for name in PLUGINS + ["usbserial"]:
        with open(os.path.join(conf, "ola-%s.conf" % name), "w") as f:
            f.write("enabled = false\n")
    with open(os.path.join(conf, "ola-dummy.conf"), "w") as f:
        f.write("enabled = true\n" + "".join("%s = %d\n" % kv for kv in DUMMY.items()))
    if kind == "artnet":
        with open(os.path.join(conf, "ola-artnet.conf"), "w") as f:
            f.write("enabled = true\nip = %s\nnet = 0\nsubnet = 0\noutput_ports = 4\n"
                    "use_limited_broadcast = false\nuse_loopback = false\nalways_broadcast = false\n"
                    % NODE)
    uid = int(subprocess.run(["id", "-u", "olad"], capture_output=True, text=True).stdout)
    for path in (conf, *[os.path.join(conf, n) for n in os.listdir(conf)]):
        os.chown(path, uid, -1)


def device_id(netns, name):
    for line in run(netns, "ola_dev_info").stdout.splitlines():
        if line.startswith("Device ") and name in line:
            return line.split()[1].rstrip(":")
    return None


def check(probe, node_ns, probe_ns, port):
    started = time.monotonic()
    got = run(probe_ns, probe, port, "discover")
    took = time.monotonic() - started
    assert got.returncode == 0, got.stderr
    devices = [json.loads(line) for line in got.stdout.splitlines()]
    models = [d["model"] for d in devices]
    assert len(devices) == 5, models
    lights = [d for d in devices if d["footprint"] == 17 and d["personalities"] == 4]
    assert len(lights) == 2, devices
    assert len(lights[0]["personalityNames"]) == 4, lights[0]
    assert any(d.get("sensors") for d in devices), "no sensor read: %s" % devices
    assert any(len(d.get("subDevices", [])) == 4 for d in devices), "no dimmer's sub-devices"
    update = run(probe_ns, probe, port, "update")
    assert [json.loads(line)["uid"] for line in update.stdout.splitlines()] == \
        [d["uid"] for d in devices], update.stdout + update.stderr
    uid = lights[-1]["uid"]
    for field, value, pid, shown in (("address", 101, "dmx_start_address", "101"),
                                     ("personality", 2, "dmx_personality", "Current Personality: 2"),
                                     ("identify", 1, "identify_device", "Identify State: true")):
        set_ = run(probe_ns, probe, port, "set", uid, field, str(value))
        assert set_.returncode == 0, "%s: %s" % (field, set_.stderr)
        back = run(node_ns, "ola_rdm_get", "-u", "1", "--uid", uid, pid).stdout
        assert shown in back, "%s read back by ola_rdm_get: %r" % (pid, back)
    print("%s: %d devices (%s) found and read in %.2f s, address, personality and identify read back by "
          "ola_rdm_get" % (port, len(devices), ", ".join(models), took))


def main():
    probe, kind = sys.argv[1], sys.argv[2]
    if os.geteuid() != 0:
        skip("starting olad as the olad user and making namespaces needs root")
    for program in ("olad", "ola_rdm_get", "ola_patch", "setpriv", "ip"):
        if not shutil.which(program):
            skip(program + " is missing")
    node_ns = "luvrin-rdmnet-%d" % os.getpid()
    probe_ns = node_ns + "-p"
    made, started = [], []
    try:
        for ns in (node_ns, probe_ns) if kind == "artnet" else (node_ns,):
            if subprocess.run(["ip", "netns", "add", ns]).returncode != 0:
                skip("no network namespaces here")
            made.append(ns)
            subprocess.run(["ip", "-n", ns, "link", "set", "lo", "up"], check=True)
        if kind == "artnet":
            veth = "lvr%d" % (os.getpid() % 100000)
            if subprocess.run(["ip", "link", "add", veth + "a", "netns", node_ns, "type", "veth",
                               "peer", "name", veth + "b", "netns", probe_ns]).returncode != 0:
                skip("no veth pairs here")
            # Without a broadcast address olad sends its answers to 0.0.0.0.
            for ns, dev, ip in ((node_ns, veth + "a", NODE), (probe_ns, veth + "b", PROBE)):
                subprocess.run(["ip", "-n", ns, "addr", "add", ip + "/24", "brd", "+", "dev", dev],
                               check=True)
                subprocess.run(["ip", "-n", ns, "link", "set", dev, "up"], check=True)
        with tempfile.TemporaryDirectory() as root:
            os.chmod(root, 0o755)
            conf = os.path.join(root, "ola")
            write_config(conf, kind)
            olad = subprocess.Popen(["ip", "netns", "exec", node_ns, "setpriv", "--reuid=olad",
                                     "--regid=nogroup", "--clear-groups", "olad", "--config-dir",
                                     conf, "--no-http", "--no-register-with-dns-sd", "-r", "9010"],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            started.append(olad)
            wait_for("olad's dummy device", lambda: device_id(node_ns, "Dummy") is not None)
            patch = ["ola_patch", "-d", device_id(node_ns, "Dummy"), "-p", "0", "-u", "1"]
            assert run(node_ns, *patch).returncode == 0
            if kind == "artnet":
                wait_for("olad's Art-Net device", lambda: device_id(node_ns, "ArtNet") is not None)
                node = ["ola_patch", "-d", device_id(node_ns, "ArtNet"), "-p", "0", "-i", "-u", "1"]
                assert run(node_ns, *node).returncode == 0
                check(probe, node_ns, probe_ns, "artnet:1@" + NODE)
            else:
                check(probe, node_ns, node_ns, "ola:1")
    finally:
        for p in reversed(started):
            if p.poll() is None:
                os.kill(p.pid, signal.SIGKILL)
            p.wait(10)
        for ns in made:
            subprocess.run(["ip", "netns", "del", ns])
    return 0


if __name__ == "__main__":
    sys.exit(main())
