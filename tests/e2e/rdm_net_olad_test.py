#!/usr/bin/python3
"""RDM through olad, against its dummy plugin's responders (moving lights with 17 slots and 4
personalities, a dimmer with sub-devices, a sensor device, an ACK_TIMER device).

A real LUVRIN driver, its show folder in a temp dir, is asked through its own API (the remote on
a port of its own, behind a key):
  ola:     端口=ola:1, the driver in olad's namespace.
  artnet:  端口=artnet:1@node: olad is an Art-Net node (its Art-Net input port patched to the dummy
           universe) in one network namespace, the driver in another, joined by a veth pair.

POST /api/rdm/discover lists the devices with their fields; a moving light's start address,
personality and identify set by POST /api/rdm/devices/{uid} read back the same with OLA's own
ola_rdm_get. olad runs as the olad user with every other
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
KEY = "rdm-key-1"


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


class Driver:
    """A LUVRIN driver in a namespace: a show folder in a temp dir, the port given, the remote on a
    port of its own behind a key, its API asked with curl from the same namespace."""

    def __init__(self, luvrin, root, netns, port):
        self.netns, self.remote = netns, 18500 + os.getpid() % 1000
        folder = os.path.join(root, "show", "驱动")
        os.makedirs(folder)
        env = dict(os.environ)
        for name, key in (("config", "XDG_CONFIG_HOME"), ("runtime", "XDG_RUNTIME_DIR"),
                          ("state", "XDG_STATE_HOME")):
            env[key] = os.path.join(root, name)
            os.makedirs(env[key], mode=0o700)
        for key in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
            env.pop(key, None)
        shutil.copy2(luvrin, os.path.join(folder, "LUVRIN"))
        for name, lines in (("串口配置.ini", ["[串口配置]", "端口=" + port, "发送数据长度=4",
                                               "状态=运行", "远程端口=%d" % self.remote,
                                               "远程密码=" + KEY]),
                            ("场景.ini", ["[DMX]", "Intro=DMX010,020,030,040,"])):
            with open(os.path.join(folder, name), "wb") as f:
                f.write("".join(line + "\r\n" for line in lines).encode("gbk"))
        self.process = subprocess.Popen(["ip", "netns", "exec", netns, os.path.join(folder, "LUVRIN")],
                                        cwd=folder, env=env, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)

    def api(self, method, path, body=None):
        return api(self.netns, self.remote, method, path, body)


def api(netns, remote, method, path, body=None, key=KEY):
    """The status and the JSON answer of one request to a driver's remote in netns."""
    got = run(netns, "curl", "-s", "-m", "60", "-X", method, "-w", "\n%{http_code}",
              "-H", "Authorization: Bearer " + key, "-H", "Content-Type: application/json",
              *(["--data", json.dumps(body)] if body is not None else []),
              "http://127.0.0.1:%d%s" % (remote, path), timeout=90)
    text, _, status = got.stdout.rpartition("\n")
    return int(status or 0), json.loads(text) if text.startswith("{") else text


def discover(driver, full):
    answer = {}

    def answered():
        answer["status"], answer["body"] = driver.api("POST", "/api/rdm/discover", {"full": full})
        # 501 while the output is still reaching olad.
        return answer["status"] == 200
    try:
        wait_for("the driver's discovery", answered, 60)
    except AssertionError as e:
        raise AssertionError("%s (the API last answered %s %r)" % (e, answer["status"],
                                                                  answer["body"])) from None
    return answer["body"]["devices"]


def check(driver, node_ns, port):
    started = time.monotonic()
    devices = discover(driver, True)
    took = time.monotonic() - started
    models = [d["model"] for d in devices]
    assert len(devices) == 5, models
    details = []
    for d in devices:
        status, detail = driver.api("GET", "/api/rdm/devices/" + d["uid"])
        assert status == 200, (status, detail)
        details.append(detail)
    lights = [d for d in details if d["footprint"] == 17 and d["personalities"] == 4]
    assert len(lights) == 2, details
    assert len(lights[0]["personalityNames"]) == 4, lights[0]
    assert any(d.get("sensors") for d in details), "no sensor read: %s" % details
    assert any(len(d.get("subDevices", [])) == 4 for d in details), "no dimmer's sub-devices"
    assert [d["uid"] for d in discover(driver, False)] == [d["uid"] for d in devices]
    uid = lights[-1]["uid"]
    for field, value, pid, shown in (("address", 101, "dmx_start_address", "101"),
                                     ("personality", 2, "dmx_personality", "Current Personality: 2"),
                                     ("identify", True, "identify_device", "Identify State: true")):
        status, answer = driver.api("POST", "/api/rdm/devices/" + uid, {field: value})
        assert status == 200 and answer[field] == value, "%s: %s %s" % (field, status, answer)
        back = run(node_ns, "ola_rdm_get", "-u", "1", "--uid", uid, pid).stdout
        assert shown in back, "%s read back by ola_rdm_get: %r" % (pid, back)
    status, listed = driver.api("GET", "/api/rdm/devices")
    light = [d for d in listed["devices"] if d["uid"] == uid]
    assert status == 200 and light and light[0]["address"] == 101 and light[0]["personality"] == 2, \
        listed
    print("%s: the driver's API found %d devices (%s) and read them in %.2f s; address, personality "
          "and identify it set read back by ola_rdm_get" % (port, len(devices), ", ".join(models), took))


def make_namespaces(kind, made):
    """olad's namespace, and for artnet: the driver's, joined to it by a veth pair. Each one made
    is added to made at once, so that the caller deletes it whatever happens."""
    node_ns = "luvrin-rdmnet-%d" % os.getpid()
    probe_ns = node_ns + "-p"
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
    return node_ns, probe_ns


def start_olad(root, node_ns, kind, started):
    """olad as the olad user in node_ns, its dummy responders on universe 1 (and for artnet its
    Art-Net input port patched to that universe); added to started at once."""
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


def end_all(started, made):
    """Ends every process started, late ones first, and deletes the namespaces made."""
    for p in reversed(started):
        if p.poll() is None:
            os.kill(p.pid, signal.SIGKILL)
        p.wait(10)
    for ns in made:
        subprocess.run(["ip", "netns", "del", ns])


def main():
    luvrin, kind = sys.argv[1], sys.argv[2]
    if os.geteuid() != 0:
        skip("starting olad as the olad user and making namespaces needs root")
    for program in ("olad", "ola_rdm_get", "ola_patch", "setpriv", "ip", "curl"):
        if not shutil.which(program):
            skip(program + " is missing")
    made, started = [], []
    try:
        node_ns, probe_ns = make_namespaces(kind, made)
        with tempfile.TemporaryDirectory() as root:
            os.chmod(root, 0o755)
            start_olad(root, node_ns, kind, started)
            if kind == "artnet":
                port, driver_ns = "artnet:1@" + NODE, probe_ns
            else:
                port, driver_ns = "ola:1", node_ns
            driver = Driver(luvrin, os.path.join(root, "luvrin"), driver_ns, port)
            started.append(driver.process)
            check(driver, node_ns, port)
            # Asked to end, it closes its olad clients, the RDM one among them, and ends well.
            driver.process.send_signal(signal.SIGTERM)
            assert driver.process.wait(20) == 0, "the driver ended with %s" % driver.process.returncode
            # The log has a line per discovery and per change made.
            with open(os.path.join(root, "luvrin", "state", "TALVEN", "LUVRIN.log"),
                      encoding="utf-8") as f:
                log = f.read()
            for line in ("搜索完成: 找到 5 台设备", "更新完成: 找到 5 台设备", "已改: 起始地址 101",
                         "已改: 模式 2", "已改: 识别 开"):
                assert log.count(line) == 1, "%r in the log:\n%s" % (line, log)
    finally:
        end_all(started, made)
    return 0


if __name__ == "__main__":
    sys.exit(main())
