"""Drives headless Chromium through its DevTools protocol over a pipe
(--remote-debugging-pipe: commands on file descriptor 3, answers and events
on 4, each message a JSON text ended by a NUL byte), so no port is opened
and nothing beyond the Python standard library is needed.

    with Chromium() as browser:
        page = browser.open_page()
        page.navigate("file:///tmp/report.html")
        page.wait_for("document.body.dataset.ready === 'true'")
        print(page.evaluate("document.title"))
"""
import base64
import fcntl
import json
import os
import shutil
import subprocess
import tempfile
import time

# Headless and offline: no GPU, no sandbox (root in CI), no first-run work and
# no traffic of the browser's own.
FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--disable-default-apps", "--disable-extensions", "--mute-audio", "--hide-scrollbars"]


def chromium_binary():
    for name in ("chromium", "chromium-browser", "google-chrome"):
        path = shutil.which(name)
        if path:
            return path
    return None


class ProtocolError(RuntimeError):
    pass


class Chromium:
    def __init__(self, binary=None, width=1400, height=1000):
        self.binary = binary or chromium_binary()
        self.size = (width, height)
        self.profile = None
        self.process = None
        self.buffer = b""
        self.next_id = 0
        self.events = []

    def __enter__(self):
        self.profile = tempfile.mkdtemp(prefix="rook-chromium-")
        to_browser_read, self.to_browser = os.pipe()
        self.from_browser, from_browser_write = os.pipe()

        def descriptors():
            # Moved above 10 first, so that placing them on 3 and 4 cannot
            # close one another; dup2 leaves the copies inheritable.
            reading = fcntl.fcntl(to_browser_read, fcntl.F_DUPFD, 10)
            writing = fcntl.fcntl(from_browser_write, fcntl.F_DUPFD, 10)
            os.dup2(reading, 3)
            os.dup2(writing, 4)

        args = [self.binary] + FLAGS + ["--remote-debugging-pipe", "--user-data-dir=" + self.profile,
                                        "--window-size=%d,%d" % self.size, "about:blank"]
        self.process = subprocess.Popen(args, preexec_fn=descriptors, close_fds=False, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(to_browser_read)
        os.close(from_browser_write)
        return self

    def __exit__(self, *exc):
        try:
            self.send("Browser.close")
        except OSError:
            pass
        try:
            self.process.wait(timeout=20)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        os.close(self.to_browser)
        os.close(self.from_browser)
        shutil.rmtree(self.profile, ignore_errors=True)

    def send(self, method, params=None, session=None):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(self.to_browser, json.dumps(message).encode() + b"\0")
        return self.next_id

    def receive(self, deadline):
        while b"\0" not in self.buffer:
            if time.monotonic() > deadline:
                raise TimeoutError("Chromium did not answer in time")
            chunk = os.read(self.from_browser, 1 << 20)
            if not chunk:
                raise ProtocolError("Chromium closed the DevTools pipe")
            self.buffer += chunk
        message, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(message)

    def call(self, method, params=None, session=None, timeout=60):
        wanted = self.send(method, params, session)
        deadline = time.monotonic() + timeout
        while True:
            message = self.receive(deadline)
            if message.get("id") == wanted:
                if "error" in message:
                    raise ProtocolError("%s: %s" % (method, message["error"]))
                return message.get("result", {})
            if "method" in message:
                self.events.append(message)

    def open_page(self):
        target = self.call("Target.createTarget", {"url": "about:blank"})["targetId"]
        session = self.call("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
        return Page(self, session)


class Page:
    def __init__(self, browser, session):
        self.browser = browser
        self.session = session
        for domain in ("Page", "Runtime", "Network"):
            self.call(domain + ".enable")

    def call(self, method, params=None, timeout=60):
        return self.browser.call(method, params, self.session, timeout)

    def navigate(self, url):
        return self.call("Page.navigate", {"url": url})

    def evaluate(self, expression, timeout=60):
        result = self.call("Runtime.evaluate", {"expression": expression, "returnByValue": True,
                                                "awaitPromise": True}, timeout)
        if "exceptionDetails" in result:
            raise ProtocolError("script failed: %s" % result["exceptionDetails"].get("text"))
        return result["result"].get("value")

    def wait_for(self, expression, timeout=60):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.evaluate("Boolean(%s)" % expression):
                return True
            time.sleep(0.05)
        return False

    def events(self, method):
        return [e["params"] for e in self.browser.events
                if e.get("method") == method and e.get("sessionId") == self.session]

    def screenshot(self, path):
        data = self.call("Page.captureScreenshot", {"format": "png", "captureBeyondViewport": False})["data"]
        with open(path, "wb") as out:
            out.write(base64.b64decode(data))
