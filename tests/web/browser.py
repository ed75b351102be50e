"""Debian's headless chromium, driven over the DevTools protocol (python3-
websocket), for the page's tests and its benchmark: a private profile, WebGL
2 on SwiftShader, sound that may start without a gesture, and the fake
capture device standing in for a microphone (there is none here).

    with Browser() as b:
        b.open("http://127.0.0.1:8123/?play=song.ogg")
        b.wait_for("window.lumenvortex.frames > 10")
"""
import json
import os
import shutil
import subprocess
import tempfile
import time
import urllib.request

import websocket

CHROMIUM_FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--use-angle=swiftshader", "--enable-unsafe-swiftshader",
    "--autoplay-policy=no-user-gesture-required", "--disable-background-networking",
    "--disable-component-update", "--no-first-run", "--disable-sync",
    "--use-fake-device-for-media-stream", "--use-fake-ui-for-media-stream",
    # Headless frames are not throttled as a hidden tab's would be.
    "--disable-background-timer-throttling", "--disable-renderer-backgrounding",
]


def chromium_path():
    return shutil.which("chromium") or shutil.which("chromium-browser")


def _read(path):
    try:
        with open(path, encoding="utf-8") as f:
            return f.read()
    except FileNotFoundError:
        return ""


class BrowserError(AssertionError):
    pass


class Browser:
    def __init__(self, width=1280, height=720):
        self.width, self.height = width, height
        self.console = []      # (level, text) of every console message and exception
        self._id = 0

    def __enter__(self):
        self.profile = tempfile.mkdtemp(prefix="lv-chromium-")
        port_file = os.path.join(self.profile, "DevToolsActivePort")
        self.process = subprocess.Popen(
            [chromium_path(), *CHROMIUM_FLAGS, f"--user-data-dir={self.profile}", "--remote-debugging-port=0",
             f"--window-size={self.width},{self.height}", "about:blank"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 60
        while len(_read(port_file).split()) < 2:
            if self.process.poll() is not None or time.monotonic() > deadline:
                raise BrowserError("chromium did not start (no DevToolsActivePort)")
            time.sleep(0.1)
        port = _read(port_file).split()[0]
        targets = json.load(urllib.request.urlopen(f"http://127.0.0.1:{port}/json"))
        page = next(t for t in targets if t["type"] == "page")
        self.ws = websocket.create_connection(page["webSocketDebuggerUrl"], timeout=120, suppress_origin=True)
        self.call("Runtime.enable")
        self.call("Log.enable")
        self.call("Page.enable")
        # The page's size exactly, whatever the headless window's frame takes.
        self.call("Emulation.setDeviceMetricsOverride", width=self.width, height=self.height, deviceScaleFactor=1,
                  mobile=False)
        return self

    def __exit__(self, *exc):
        try:
            self.ws.close()
        finally:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
            shutil.rmtree(self.profile, ignore_errors=True)

    def _note(self, message):
        method, params = message.get("method"), message.get("params", {})
        if method == "Runtime.consoleAPICalled":
            text = " ".join(str(a.get("value", a.get("description", ""))) for a in params.get("args", []))
            self.console.append((params.get("type"), text))
        elif method == "Runtime.exceptionThrown":
            d = params.get("exceptionDetails", {})
            self.console.append(("exception", d.get("exception", {}).get("description", d.get("text", ""))))
        elif method == "Log.entryAdded":
            e = params.get("entry", {})
            self.console.append((e.get("level"), e.get("text", "") + " " + e.get("url", "")))

    def call(self, method, **params):
        self._id += 1
        self.ws.send(json.dumps({"id": self._id, "method": method, "params": params}))
        while True:
            message = json.loads(self.ws.recv())
            if message.get("id") == self._id:
                if "error" in message:
                    raise BrowserError(f"{method}: {message['error']}")
                return message.get("result", {})
            self._note(message)

    def open(self, url):
        self.call("Page.navigate", url=url)

    def eval(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True, awaitPromise=True)
        if "exceptionDetails" in result:
            raise BrowserError(f"{expression}: {result['exceptionDetails']}")
        return result["result"].get("value")

    def wait_for(self, expression, timeout=60, what=None):
        """Polls a page expression until it is true; fails naming it."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if self.eval(f"(() => {{ try {{ return !!({expression}); }} catch (e) {{ return false; }} }})()"):
                return
            time.sleep(0.1)
        status = self.eval("JSON.stringify(window.lumenvortex || null)")
        raise BrowserError(f"{what or expression} did not happen in {timeout} s; status {status}; "
                           f"console {self.console[-10:]}")

    def key(self, character):
        """A key press as the keyboard makes it: keydown with its text."""
        code = {" ": "Space"}.get(character, "Key" + character.upper() if character.isalpha() else "")
        self.call("Input.dispatchKeyEvent", type="keyDown", key=character, text=character, code=code)
        self.call("Input.dispatchKeyEvent", type="keyUp", key=character, code=code)

    def screenshot_png(self):
        import base64
        return base64.b64decode(self.call("Page.captureScreenshot", format="png")["data"])

    def errors(self):
        return [(level, text) for level, text in self.console if level in ("error", "exception", "assert")]
