#!/usr/bin/env python3
"""The remote's page in a real browser held as a phone (390x844): a real driver in a temporary
show, a pseudo-terminal as its port, headless chromium driven through chromedriver.

usage: remote_page_test.py LUVRIN LUVRINpREG              the test (exit 77: no browser here)
       remote_page_test.py --devices                      the page's 设备 section against a
                                                          stand-in of the device routes
       remote_page_test.py --fixtures                     the faders' names and the 灯具 view
                                                          against a stand-in of the patch
       remote_page_test.py LUVRIN LUVRINpREG --identify   the 设备 section finds the stand-in
                                                          widget's responders, taps identify
       remote_page_test.py LUVRIN LUVRINpREG --keys       a key with + and & in the page's address
       remote_page_test.py LUVRIN LUVRINpREG --cross-site another site's page, served from a
                                                          network namespace, tries to act
       remote_page_test.py LUVRIN LUVRINpREG --shot PNG   the README's picture of the page
"""
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import tty

SKIP = 77
DEADLINE = 15.0  # generous: a loaded machine may be slow; a condition that holds is seen at once
CHANNELS = 5  # 发送数据长度 4: frames of five level bytes
HEADER = b"::::DMX"


def gbk_file(path, lines):
    with open(path, "wb") as f:
        f.write("".join(line + "\r\n" for line in lines).encode("gbk"))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(predicate, what, deadline=DEADLINE):
    end = time.monotonic() + deadline
    while time.monotonic() < end:
        value = predicate()
        if value:
            return value
        time.sleep(0.02)
    raise AssertionError("not seen within %.0f s: %s" % (deadline, what))


class Show:
    """A launcher folder with its 驱动/, user folders of its own, the port a pseudo-terminal."""

    def __init__(self, luvrin, stub, scenes, levels_on_start=None, settings=(),
                 length=CHANNELS - 1, files=None, port=None):
        self.root = tempfile.mkdtemp(prefix="luvrin-remote-")
        self.launchers = os.path.join(self.root, "show")
        self.driver_folder = os.path.join(self.launchers, "驱动")
        os.makedirs(self.driver_folder)
        self.env = dict(os.environ)
        for name in ("config", "runtime", "state"):
            os.makedirs(os.path.join(self.root, name), mode=0o700)
        self.env.update(XDG_CONFIG_HOME=os.path.join(self.root, "config"),
                        XDG_RUNTIME_DIR=os.path.join(self.root, "runtime"),
                        XDG_STATE_HOME=os.path.join(self.root, "state"))
        for key in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
            self.env.pop(key, None)
        shutil.copy2(luvrin, os.path.join(self.driver_folder, "LUVRIN"))
        self.stub = os.path.join(self.launchers, "LUVRINpREG")
        shutil.copy2(stub, self.stub)
        self.master, slave = os.openpty()
        tty.setraw(slave)
        self.slave = slave
        self.port = free_port()
        gbk_file(os.path.join(self.driver_folder, "串口配置.ini"),
                 ["[串口配置]", "端口=" + (port or os.ttyname(slave)), "发送数据长度=%d" % length,
                  "发送定时器时间=5", "状态=运行", "远程端口=%d" % self.port] + list(settings))
        gbk_file(os.path.join(self.driver_folder, "场景.ini"),
                 ["[DMX]"] + ["%s=%s" % s for s in scenes])
        for name, data in (files or {}).items():
            with open(os.path.join(self.driver_folder, name), "wb") as f:
                f.write(data)
        self.received = b""
        self.driver = None
        self.url = "http://127.0.0.1:%d/" % self.port

    def start(self):
        self.driver = subprocess.Popen([os.path.join(self.driver_folder, "LUVRIN")],
                                       cwd=self.driver_folder, env=self.env)

    def stop(self):
        if self.driver and self.driver.poll() is None:
            os.kill(self.driver.pid, signal.SIGTERM)
            try:
                self.driver.wait(5)
            except subprocess.TimeoutExpired:
                os.kill(self.driver.pid, signal.SIGKILL)
                self.driver.wait()

    def launch(self, scene):
        """Starts the scene's launcher as a user would: a copy of the stub named after it."""
        launcher = os.path.join(self.launchers, scene)
        shutil.copy2(self.stub, launcher)
        subprocess.run([launcher], env=self.env, timeout=DEADLINE, check=True)

    def last_frame(self):
        while True:
            try:
                os.set_blocking(self.master, False)
                chunk = os.read(self.master, 65536)
            except BlockingIOError:
                break
            if not chunk:
                break
            self.received = (self.received + chunk)[-8192:]
        size = len(HEADER) + CHANNELS + 1
        at = self.received.rfind(HEADER, 0, len(self.received) - size + 1)
        if at < 0 or self.received[at + size - 1:at + size] != b".":
            return None
        return list(self.received[at + len(HEADER):at + len(HEADER) + CHANNELS])

    def see(self, levels):
        self.received = b""
        try:
            wait_for(lambda: self.last_frame() == levels, "levels %s on the wire" % levels)
        except AssertionError as e:
            raise AssertionError("%s (the wire holds %s)" % (e, self.last_frame())) from None

    def close(self):
        self.stop()
        # Drivers that launchers started carry this show's folders; they end with it.
        for pid in os.listdir("/proc"):
            if not pid.isdigit():
                continue
            try:
                with open("/proc/%s/environ" % pid, "rb") as f:
                    if self.root.encode() in f.read():
                        os.kill(int(pid), signal.SIGKILL)
            except OSError:
                pass
        os.close(self.master)
        os.close(self.slave)
        shutil.rmtree(self.root, ignore_errors=True)


def browser(*extra):
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
    except ImportError:
        return None
    chromedriver = shutil.which("chromedriver") or "/usr/bin/chromedriver"
    if not os.path.exists(chromedriver):
        return None
    options = webdriver.ChromeOptions()
    for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                "--window-size=390,844", "--force-device-scale-factor=1", "--lang=zh-CN") + extra:
        options.add_argument(arg)
    page = webdriver.Chrome(service=Service(chromedriver), options=options)
    page.set_window_size(390, 844)
    return page


def text(page, element_id):
    return page.execute_script("return document.getElementById(arguments[0]).textContent",
                               element_id)


def playing_scene(page):
    return page.execute_script(
        "const b = document.querySelector('button.scene.playing'); return b && b.dataset.name;")


def test(luvrin, stub):
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys

    chase = ("\r\nDMX005,100,005,005,\r\n!T000003'100mS\r\nDMX005,200,005,005,\r\n"
             "!T000003'100mS\r\n!GT000")
    show = Show(luvrin, stub, [("Intro", "DMX010,020,030,040,"), ("摇头", "DMX001,002,003,004,"),
                               ("谢幕", "DMX000,000,000,009,"), ("追光", "追光.ini")],
                files={"追光.ini": ('"%s"\r\n' % chase).encode("gbk")})
    page = None
    try:
        show.start()
        page = browser()
        if page is None:
            print("no chromium, chromedriver or selenium here: skipped")
            return SKIP
        wait_for(lambda: _loads(page, show.url), "the page")
        wait_for(lambda: text(page, "conn") == "已连接", "the feed connected")
        wait_for(lambda: len(page.find_elements(By.CSS_SELECTOR, "button.scene")) == 4, "scenes")
        # The serial box carries no RDM: the 设备 section says so, and a search too.
        wait_for(lambda: "不支持 RDM" in text(page, "rdmNote"), "no RDM on the serial box")
        page.execute_script("document.getElementById('rdmNote').textContent = ''")
        page.find_element(By.ID, "rdmFind").click()
        wait_for(lambda: "不支持 RDM" in text(page, "rdmNote"), "a search refused")
        page.execute_script("window.scrollTo(0, 0)")

        # Tap a scene: its levels on the wire, its button marked.
        page.find_element(By.CSS_SELECTOR, "button.scene[data-name='摇头']").click()
        show.see([1, 2, 3, 4, 0])
        wait_for(lambda: playing_scene(page) == "摇头", "摇头 marked as playing")
        wait_for(lambda: page.execute_script(
            "return document.querySelector('.bar[data-channel=\"3\"] span').textContent") == "3",
            "the level bars follow the wire")

        # Move a fader by hand: that level on the wire, the others kept.
        fader = page.find_element(By.ID, "f2")
        page.execute_script("arguments[0].scrollIntoView({block: 'center'})", fader)
        fader.send_keys(Keys.END)
        show.see([1, 255, 3, 4, 0])

        # A fader over a looping script: the script stops so the move holds, and the page says so.
        chase_button = page.find_element(By.CSS_SELECTOR, "button.scene[data-name='追光']")
        page.execute_script("arguments[0].scrollIntoView({block: 'center'})", chase_button)
        chase_button.click()
        wait_for(lambda: show.last_frame() in ([5, 100, 5, 5, 0], [5, 200, 5, 5, 0]), "追光 plays")
        fader.send_keys(Keys.HOME)
        show.see([5, 0, 5, 5, 0])
        wait_for(lambda: text(page, "playing") == "场景已停止: 追光, 推子接管", "the stop told")

        # A launcher started on the computer: the page shows its scene.
        started = time.monotonic()
        show.launch("谢幕")
        wait_for(lambda: playing_scene(page) == "谢幕", "谢幕 marked after its launcher")
        print("the page showed the launcher's scene after %.0f ms"
              % ((time.monotonic() - started) * 1000))

        # The driver restarts: the page says so, and comes back by itself.
        show.stop()
        wait_for(lambda: text(page, "conn") == "未连接", "the page noticed the driver gone")
        show.start()
        wait_for(lambda: text(page, "conn") == "已连接", "the page reconnected")
        wide(luvrin, stub, page)
        print("ok")
        return 0
    finally:
        if page is not None:
            page.quit()
        show.close()


def wide(luvrin, stub, page):
    """A frame of 600 channels: the bars show its second universe, channel by channel."""
    from selenium.webdriver.common.by import By

    levels = [(k * 7 + 3) % 256 for k in range(600)]
    script = "DMX" + "".join("%03d," % v for v in levels)
    show = Show(luvrin, stub, [("宽", "宽.ini")], length=600,
                files={"宽.ini": ('"%s"\r\n' % script).encode("gbk")})
    try:
        show.start()
        wait_for(lambda: _loads(page, show.url), "the page of the wide show")
        wait_for(lambda: text(page, "conn") == "已连接", "the wide show's feed connected")
        show.launch("宽")

        def pick(bar, label):
            for b in page.find_elements(By.CSS_SELECTOR, "#%s button" % bar):
                if b.text == label:
                    b.click()
                    return True
            return False

        wait_for(lambda: pick("levelUniverses", "513"), "a button for the second universe")
        wait_for(lambda: pick("levelPages", "593"), "the page of channels 593-632")
        for channel in (593, 600):
            wait_for(lambda: page.execute_script(
                "return document.querySelector('.bar[data-channel=\"%d\"] span').textContent"
                % channel) == str(levels[channel - 1]), "channel %d's level" % channel)
    finally:
        show.close()


def _loads(page, url):
    try:
        page.get(url)
        return True
    except Exception:  # the driver may not listen yet
        return False


def drain(show, seconds):
    """Reads the port for a while, as a line would, so that the output never waits on it."""
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        show.last_frame()
        time.sleep(0.02)


def shot(luvrin, stub, png):
    """The README's pictures of the page: its top on a patched show playing a scene, and beside
    it its named faders (-faders.png) and its 灯具 view of the moving light (-fixture.png)."""
    from selenium.webdriver.common.by import By
    spot = "DMX" + "".join("%03d," % ((k * 37) % 256) for k in range(40))
    patch = ["[配接]", "左1=1,Robe/Robin 600E Spot (v1.1),Mode 1",
             "面光=33,Showtec/Compact Par 7 Tri,4 Channel"]
    show = Show(luvrin, stub, [("开场", "DMX255,128,064,032,"), ("摇头", spot), ("追光", "DMX000,255,000,255,"),
                               ("谢幕", "DMX030,030,030,030,"), ("全亮", "DMX255,255,255,255,"),
                               ("全暗", "DMX000,000,000,000,")], length=40,
                files={"配接.ini": "".join(l + "\r\n" for l in patch).encode("gbk")})
    page = None
    try:
        show.start()
        page = browser()
        if page is None:
            raise SystemExit("no chromium, chromedriver or selenium here")
        wait_for(lambda: _loads(page, show.url), "the page")
        show.launch("摇头")
        wait_for(lambda: playing_scene(page) == "摇头", "摇头 playing")
        drain(show, 1.5)  # a rate on the meter
        page.save_screenshot(png)
        if page.execute_script("return !document.getElementById('fixtureView').hidden"):
            for element, suffix in (("faderPages", "-faders.png"), ("fixtureView", "-fixture.png")):
                page.execute_script("arguments[0].scrollIntoView({block: 'start'});"
                                    "scrollBy(0, -document.querySelector('header').offsetHeight)",
                                    page.find_element(By.ID, element))
                drain(show, 0.3)
                page.save_screenshot(png.replace(".png", suffix))
        else:
            print("no patch on the page: no picture of its 灯具 view")
    finally:
        if page is not None:
            page.quit()
        show.close()


# Counts the page's WebSocket tries, from before its own script runs.
COUNT_TRIES = """
window.__tries = 0;
const Native = window.WebSocket;
window.WebSocket = function (url) { window.__tries++; return new Native(url); };
"""


def test_keys(luvrin, stub):
    """The key as the browser reads it from the address, sent encoded; a wrong one said."""
    from urllib.parse import quote
    from selenium.webdriver.common.by import By

    key = "p+q&r 舞"
    show = Show(luvrin, stub, [("Intro", "DMX010,020,030,040,"), ("摇头", "DMX001,002,003,004,")],
                settings=["远程密码=" + key])
    page = None
    try:
        show.start()
        page = browser()
        if page is None:
            print("no chromium, chromedriver or selenium here: skipped")
            return SKIP
        page.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": COUNT_TRIES})
        wait_for(lambda: _loads(page, show.url + "?key=" + quote(key, safe="")), "the page")
        wait_for(lambda: text(page, "conn") == "已连接", "connected with the encoded key")
        wait_for(lambda: len(page.find_elements(By.CSS_SELECTOR, "button.scene")) == 2, "scenes")
        page.find_element(By.CSS_SELECTOR, "button.scene[data-name='摇头']").click()
        show.see([1, 2, 3, 4, 0])

        # The driver gone: the page tries again less and less often (1 s, 2 s, 4 s, ...).
        show.stop()
        wait_for(lambda: text(page, "conn") == "未连接", "the page noticed the driver gone")
        before = page.execute_script("return window.__tries")
        time.sleep(7.5)
        tries = page.execute_script("return window.__tries") - before
        assert 2 <= tries <= 4, "%d tries in 7.5 s" % tries
        show.start()
        wait_for(lambda: text(page, "conn") == "已连接", "the page reconnected", 75)

        # Written as typed, "+" reads as a space and "&" ends the key: a wrong key, said once.
        wait_for(lambda: _loads(page, show.url + "?key=" + key), "the page, key as typed")
        wait_for(lambda: text(page, "conn") == "密码错误", "密码错误 shown")
        before = page.execute_script("return window.__tries")
        time.sleep(3)
        assert page.execute_script("return window.__tries") == before, "still retrying"
        assert text(page, "conn") == "密码错误"
        print("ok")
        return 0
    finally:
        if page is not None:
            page.quit()
        show.close()


class OtherSite:
    """A second web site on an address of its own: a network namespace joined to this one by a
    veth pair, serving one page with Python's HTTP server."""

    NS_ADDRESS, OWN_ADDRESS = "10.79.0.2", "10.79.0.1"

    def __init__(self, page_html):
        self.name = "luvrin-xs-%d" % os.getpid()
        self.root = tempfile.mkdtemp(prefix="luvrin-site-")
        with open(os.path.join(self.root, "index.html"), "w") as f:
            f.write(page_html)
        self.server = None
        self.made = self._ip("netns", "add", self.name)
        for step in ("link add xs%d type veth peer name xs1 netns %s" % (os.getpid() % 10000,
                                                                         self.name),
                     "addr add %s/24 dev xs%d" % (self.OWN_ADDRESS, os.getpid() % 10000),
                     "link set xs%d up" % (os.getpid() % 10000),
                     "-n %s addr add %s/24 dev xs1" % (self.name, self.NS_ADDRESS),
                     "-n %s link set xs1 up" % self.name, "-n %s link set lo up" % self.name):
            self.made = self.made and self._ip(*step.split())
        if self.made:
            self.server = subprocess.Popen(
                ["ip", "netns", "exec", self.name, sys.executable, "-m", "http.server", "8000",
                 "--bind", self.NS_ADDRESS, "--directory", self.root],
                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.url = "http://%s:8000/" % self.NS_ADDRESS

    @staticmethod
    def _ip(*args):
        return subprocess.run(["ip"] + list(args), stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL).returncode == 0

    def close(self):
        if self.server is not None:
            os.kill(self.server.pid, signal.SIGKILL)
            self.server.wait()
        # Its end of the pair goes with the namespace, and ours with it.
        self._ip("netns", "del", self.name)
        shutil.rmtree(self.root, ignore_errors=True)


def test_cross_site(luvrin, stub):
    """Another site's page in the user's browser, and a name rebound to this machine: neither
    plays a scene nor reads the feed."""
    if os.geteuid() != 0 or shutil.which("ip") is None:
        print("a network namespace needs root and ip: skipped")
        return SKIP
    show = Show(luvrin, stub, [("Intro", "DMX010,020,030,040,"), ("摇头", "DMX001,002,003,004,")])
    target = "%s:%d" % (OtherSite.OWN_ADDRESS, show.port)
    site = OtherSite("""<!doctype html><meta charset="utf-8"><script>
window.results = {};
fetch("http://%(t)s/api/play", {method: "POST", body: JSON.stringify({scene: "摇头"})})
  .then((r) => results.post = r.status, () => results.post = "error");
fetch("http://%(t)s/api/play", {method: "POST", mode: "no-cors",
                                body: JSON.stringify({scene: "摇头"})})
  .then(() => results.opaque = "sent", () => results.opaque = "error");
const ws = new WebSocket("ws://%(t)s/api/live");
ws.onmessage = () => results.ws = "message";
ws.onclose = () => { if (!results.ws) results.ws = "closed"; };
</script>""" % {"t": target})
    page = None
    try:
        if not site.made:
            print("no network namespace could be made: skipped")
            return SKIP
        show.start()
        show.launch("Intro")
        show.see([10, 20, 30, 40, 0])
        page = browser("--host-resolver-rules=MAP evil.test %s" % OtherSite.OWN_ADDRESS)
        if page is None:
            print("no chromium, chromedriver or selenium here: skipped")
            return SKIP
        # The remote's own page at that address works: the address is the machine's.
        wait_for(lambda: _loads(page, "http://%s/" % target), "the remote's page")
        wait_for(lambda: text(page, "conn") == "已连接", "the own page connected")

        wait_for(lambda: _loads(page, site.url), "the other site's page")
        wait_for(lambda: page.execute_script(
            "return results.post && results.opaque && results.ws"), "the other site's tries")
        results = page.execute_script("return results")
        assert results["ws"] == "closed", results

        # The same through a name that points at this machine for the moment.
        page.get("http://evil.test:%d/" % show.port)
        status = page.execute_async_script("""
            const done = arguments[arguments.length - 1];
            fetch("/api/play", {method: "POST", headers: {"Content-Type": "application/json"},
                                body: JSON.stringify({scene: "摇头"})})
              .then((r) => done(r.status), () => done("error"));""")
        assert status == 421, status
        assert "LUVRIN" not in page.page_source, "the page was served under another name"

        time.sleep(0.5)  # a play would reach the wire within a few frames
        show.see([10, 20, 30, 40, 0])
        print("ok: the other site got", results, "and the rebound name", status)
        return 0
    finally:
        if page is not None:
            page.quit()
        show.close()
        site.close()


class PageStandIn:
    """The page from the source tree behind stand-in API routes on a free port of 127.0.0.1:
    what the page sends and shows without a driver behind it. get(path) and post(path, body)
    answer (status, JSON); what was posted is kept in asked."""

    def __init__(self):
        import http.server
        import json
        import threading
        page = open(os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                 "../../remote/page/index.html"), "rb").read()
        self.asked = []
        stand_in = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def log_message(self, *args):
                pass

            def answer(self, status, body, kind="application/json; charset=utf-8"):
                data = body if isinstance(body, bytes) else json.dumps(body).encode()
                self.send_response(status)
                self.send_header("Content-Type", kind)
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                self.wfile.write(data)

            def do_GET(self):
                if self.path == "/":
                    return self.answer(200, page, "text/html; charset=utf-8")
                self.answer(*stand_in.get(self.path))

            def do_POST(self):
                body = json.loads(self.rfile.read(int(self.headers["Content-Length"] or 0)) or b"{}")
                stand_in.asked.append((self.path, body))
                self.answer(*stand_in.post(self.path, body))

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.url = "http://127.0.0.1:%d/" % self.server.server_address[1]
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.thread.start()

    def get(self, path):
        return 404, {"error": "not found"}

    def post(self, path, body):
        return 404, {"error": "not found"}

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class DevicesStandIn(PageStandIn):
    """The API's device routes, two devices behind them, while no interface here carries RDM to
    a real driver."""

    def __init__(self):
        self.devices = {"7a70:00000001": {"uid": "7a70:00000001", "model": "Spot", "label": "左",
                                          "address": 1, "footprint": 17, "personality": 1,
                                          "personalities": 4, "identify": False},
                        "7a70:00000002": {"uid": "7a70:00000002", "model": "Wash", "label": "右",
                                          "address": 10, "footprint": 8, "personality": 1,
                                          "personalities": 2, "identify": False}}
        super().__init__()

    def get(self, path):
        if path == "/api/rdm/devices":
            return 200, {"discovering": False, "devices": []}
        return super().get(path)

    def post(self, path, body):
        if path == "/api/rdm/discover":
            return 200, {"devices": list(self.devices.values())}
        uid = path.rsplit("/", 1)[-1]
        if uid not in self.devices:
            return 404, {"error": "没有这台设备"}
        if body.get("address", 1) + self.devices[uid]["footprint"] - 1 > 512:
            return 400, {"error": "地址不行"}
        self.devices[uid].update(body)
        return 200, self.devices[uid]


def test_devices():
    from selenium.webdriver.common.by import By
    site = DevicesStandIn()
    page = None
    try:
        page = browser()
        if page is None:
            print("no chromium, chromedriver or selenium here: skipped")
            return SKIP
        page.get(site.url)
        page.find_element(By.ID, "rdmFind").click()
        wait_for(lambda: len(page.find_elements(By.CSS_SELECTOR, ".device")) == 2, "two devices")
        assert site.asked[0] == ("/api/rdm/discover", {"full": True}), site.asked
        # Tap to identify: the card says so.
        page.find_element(By.CSS_SELECTOR, ".device[data-uid='7a70:00000002'] button.who").click()
        wait_for(lambda: "识别中" in page.find_element(
            By.CSS_SELECTOR, ".device[data-uid='7a70:00000002'] button.who").text, "identifying")
        # A new address and personality, and an address the device refuses: the reason shown.
        def set_value(uid, element, value):
            page.execute_script(
                "const e = document.querySelector(arguments[0]); e.value = arguments[1];"
                "e.dispatchEvent(new Event('change'));",
                ".device[data-uid='%s'] %s" % (uid, element), value)
        set_value("7a70:00000001", "input", "101")
        wait_for(lambda: text(page, "rdmNote") == "已设置 7a70:00000001", "address set")
        set_value("7a70:00000001", "select", "3")
        wait_for(lambda: ("/api/rdm/devices/7a70:00000001", {"personality": 3}) in site.asked,
                 "personality sent")
        set_value("7a70:00000002", "input", "510")
        wait_for(lambda: text(page, "rdmNote") == "地址不行", "the refusal shown")
        posted = [b for p, b in site.asked if p.endswith("7a70:00000001")]
        assert posted[:2] == [{"address": 101}, {"personality": 3}], posted
        assert ("/api/rdm/devices/7a70:00000002", {"identify": True}) in site.asked, site.asked
        print("ok")
        return 0
    finally:
        if page is not None:
            page.quit()
        site.close()


def test_identify(luvrin, stub):
    """The 设备 section against a real driver whose port is the stand-in USB Pro widget with two
    RDM responders behind it: a search lists them, a tap on one turns its identify on."""
    from selenium.webdriver.common.by import By
    import threading
    root = tempfile.mkdtemp(prefix="luvrin-identify-")
    link = os.path.join(root, "widget")
    widget = subprocess.Popen([sys.executable, os.path.join(os.path.dirname(
        os.path.abspath(__file__)), "usbpro_widget.py"), link, "--rdm", "2", "--firmware", "4.15"],
        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    lines = []
    threading.Thread(target=lambda: lines.extend(line.strip() for line in widget.stdout),
                     daemon=True).start()
    show = page = None
    try:
        wait_for(lambda: any(l.startswith("plugged") for l in lines), "the stand-in widget")
        show = Show(luvrin, stub, [("Intro", "DMX010,020,030,040,")], port="usbpro:" + link)
        show.start()
        page = browser()
        if page is None:
            print("no chromium, chromedriver or selenium here: skipped")
            return SKIP
        wait_for(lambda: _loads(page, show.url), "the page")
        find = page.find_element(By.ID, "rdmFind")
        page.execute_script("arguments[0].scrollIntoView({block: 'center'})", find)

        # The driver takes up RDM once the widget has answered its parameter query.
        def found():
            if text(page, "rdmNote") != "正在搜索…":
                find.click()
            return text(page, "rdmNote") == "找到 2 台设备"
        wait_for(found, "the search finding both responders", 30)
        who = ".device[data-uid='7a70:00000002'] button.who"
        page.find_element(By.CSS_SELECTOR, who).click()
        wait_for(lambda: "rdm set 7a70:00000002 identify 1" in lines, "the responder identifying")
        wait_for(lambda: "识别中" in page.find_element(By.CSS_SELECTOR, who).text, "the card told")
        assert not any("identify" in l for l in lines if "7a70:00000001" in l), lines
        print("ok")
        return 0
    finally:
        if page is not None:
            page.quit()
        if show is not None:
            show.close()
        widget.stdin.close()
        try:
            widget.wait(5)
        except subprocess.TimeoutExpired:
            os.kill(widget.pid, signal.SIGKILL)
            widget.wait()
        shutil.rmtree(root, ignore_errors=True)


class PatchStandIn(PageStandIn):
    """GET /api/fixtures with one moving light patched at 1, the levels posted kept."""

    def __init__(self):
        def channel(number, name, group, fine=False, ranges=()):
            return {"channel": number, "name": name, "group": group, "fine": fine,
                    "capabilities": [{"min": a, "max": b, "name": n} for a, b, n in ranges]}
        self.fixtures = [{"name": "左1", "start": 1, "manufacturer": "Maker", "model": "Spot",
                          "mode": "6ch", "channels": [
                              channel(1, "Pan", "pan"), channel(2, "Pan fine", "pan", True),
                              channel(3, "Tilt", "tilt"), channel(4, "Tilt fine", "tilt", True),
                              channel(5, "Gobo", "gobo", ranges=[(0, 9, "Open"), (10, 19, "Gobo 1"),
                                                                 (20, 255, "Gobo 3 shake")]),
                              channel(6, "Macro", "effect")]}]
        super().__init__()

    def get(self, path):
        return (200, self.fixtures) if path == "/api/fixtures" else super().get(path)

    def post(self, path, body):
        return (200, {"moved": len(body["channels"])}) if path == "/api/channels" else \
            super().post(path, body)

    def levels(self):
        moved = {}
        for path, body in self.asked:
            if path == "/api/channels":
                moved.update({int(k): v for k, v in body["channels"].items()})
        return moved


def test_fixtures():
    """Faders named by the patch, the capability under the value; the fixture view's pad by
    touch and a capability tapped post their channels' levels."""
    from selenium.webdriver.common.actions import interaction
    from selenium.webdriver.common.actions.action_builder import ActionBuilder
    from selenium.webdriver.common.actions.pointer_input import PointerInput
    from selenium.webdriver.common.by import By
    site = PatchStandIn()
    page = None
    try:
        page = browser()
        if page is None:
            print("no chromium, chromedriver or selenium here: skipped")
            return SKIP
        page.get(site.url)
        name = lambda ch: page.execute_script(
            "const s = document.querySelector('label[for=f%d] small'); return s && s.textContent" % ch)
        wait_for(lambda: name(1) == "左1 水平", "fader 1 named")
        names = [name(ch) for ch in (2, 5, 6, 7)]
        assert names == ["左1 水平微调", "左1 图案", "左1 Macro", None], names
        assert "左1" in page.find_element(By.CSS_SELECTOR, "#faderPages button").text

        page.execute_script("const f = document.getElementById('f5'); f.value = 15;"
                            "f.dispatchEvent(new Event('input'))")
        assert page.find_element(By.CSS_SELECTOR, "#f5 + output small").text == "Gobo 1"
        wait_for(lambda: site.levels() == {5: 15}, "fader 5 posted")

        # A finger on the pad, a quarter across and five eighths down: pan and tilt with their
        # fine channels, from where the finger landed.
        pad = page.find_element(By.ID, "pad")
        page.execute_script("arguments[0].scrollIntoView({block: 'center'})", pad)
        page.execute_script(
            "const pad = arguments[0]; pad.addEventListener('pointerdown', (e) => {"
            "  const r = pad.getBoundingClientRect();"
            "  window.touched = [(e.clientX - r.left) / r.width, (e.clientY - r.top) / r.height];"
            "});", pad)
        finger = ActionBuilder(page, mouse=PointerInput(interaction.POINTER_TOUCH, "finger"))
        side = pad.rect["width"]
        finger.pointer_action.move_to(pad, -side / 4, side / 8).pointer_down().pointer_up()
        finger.perform()
        x, y = wait_for(lambda: page.execute_script("return window.touched"), "the touch")
        assert abs(x - 0.25) < 0.02 and abs(y - 0.625) < 0.02, (x, y)
        pan, tilt = divmod(int(x * 65535 + 0.5), 256), divmod(int(y * 65535 + 0.5), 256)
        wait_for(lambda: site.levels() == {1: pan[0], 2: pan[1], 3: tilt[0], 4: tilt[1], 5: 15},
                 "the pad posted")

        # A capability tapped: the middle of its range.
        for b in page.find_elements(By.CSS_SELECTOR, ".caps button"):
            if b.text == "Gobo 3 shake":
                page.execute_script("arguments[0].scrollIntoView({block: 'center'})", b)
                b.click()
        wait_for(lambda: site.levels()[5] == 137, "Gobo 3 shake posted")
        print("ok")
        return 0
    finally:
        if page is not None:
            page.quit()
        site.close()


if __name__ == "__main__":
    if len(sys.argv) == 5 and sys.argv[3] == "--shot":
        shot(sys.argv[1], sys.argv[2], sys.argv[4])
    elif len(sys.argv) == 4 and sys.argv[3] == "--keys":
        sys.exit(test_keys(sys.argv[1], sys.argv[2]))
    elif len(sys.argv) == 4 and sys.argv[3] == "--cross-site":
        sys.exit(test_cross_site(sys.argv[1], sys.argv[2]))
    elif len(sys.argv) == 4 and sys.argv[3] == "--identify":
        sys.exit(test_identify(sys.argv[1], sys.argv[2]))
    elif len(sys.argv) == 2 and sys.argv[1] == "--devices":
        sys.exit(test_devices())
    elif len(sys.argv) == 2 and sys.argv[1] == "--fixtures":
        sys.exit(test_fixtures())
    elif len(sys.argv) == 3:
        sys.exit(test(sys.argv[1], sys.argv[2]))
    else:
        sys.exit(__doc__)
