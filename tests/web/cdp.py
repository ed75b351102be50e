"""Headless chromium driven through the DevTools protocol, and a static file
server on loopback: what every browser test of the web build shares.

    with StaticServer(root) as server, Chromium() as browser:
        page = browser.open(server.url("/page.html"))
        value = page.evaluate("fetch('/x').then(r => r.status)")
        page.screenshot("/tmp/shot.png")
        assert not page.errors, page.errors

Debian's chromium and python3-websocket, nothing else; no WebDriver.
Run by hand, it shows a page as a test would see it:

    /usr/bin/python3 tests/web/cdp.py out/web --path '/?play=song.mp3' --wait 3 \
        --eval 'window.lumenvortex' --screenshot /tmp/page.png
"""

import base64
import http.server
import itertools
import json
import os
import queue
import re
import shutil
import socketserver
import subprocess
import tempfile
import threading
import time

import websocket

# The flags every test needs: no sandbox (tests run as root), WebGL 2 on
# SwiftShader (no GPU here), sound without a click, and nothing that reaches
# beyond loopback.
CHROMIUM_FLAGS = [
    "--headless",
    "--no-sandbox",
    "--disable-gpu",
    "--use-angle=swiftshader",
    "--enable-unsafe-swiftshader",
    "--autoplay-policy=no-user-gesture-required",
    "--disable-background-networking",
    "--disable-component-update",
    "--no-first-run",
    "--disable-sync",
    "--no-default-browser-check",
]


def chromium_binary():
    for name in ("chromium", "chromium-browser"):
        path = shutil.which(name)
        if path:
            return path
    raise RuntimeError("chromium is missing: run scripts/setup (Debian's chromium)")


class CdpError(RuntimeError):
    pass


class _Quiet(http.server.SimpleHTTPRequestHandler):
    extensions_map = {
        **http.server.SimpleHTTPRequestHandler.extensions_map,
        ".js": "text/javascript",
        ".mjs": "text/javascript",
        ".wasm": "application/wasm",
        ".html": "text/html",
        ".json": "application/json",
    }
    extra_headers = {}
    redirects = {}

    def end_headers(self):
        self.send_header("Cache-Control", "no-store")
        for key, value in self.extra_headers.items():
            self.send_header(key, value)
        super().end_headers()

    def log_message(self, *args):
        pass

    def copyfile(self, source, outputfile):
        try:
            super().copyfile(source, outputfile)
        except (ConnectionResetError, BrokenPipeError):
            pass   # the browser had what it wanted (a media element seeks, a reader cancels)

    def send_head(self):
        if self.path in self.redirects:
            self.send_response(302)
            self.send_header("Location", self.redirects[self.path])
            self.send_header("Content-Length", "0")
            self.end_headers()
            return None
        # Byte ranges, as every static host answers them: media elements
        # seek and find a long file's length with them.
        match = re.fullmatch(r"bytes=(\d+)-(\d*)", self.headers.get("Range", ""))
        path = self.translate_path(self.path)
        if not match or not os.path.isfile(path):
            return super().send_head()
        size = os.path.getsize(path)
        start = int(match.group(1))
        end = min(int(match.group(2)) if match.group(2) else size - 1, size - 1)
        if start >= size:
            self.send_error(416, "Requested Range Not Satisfiable")
            return None
        f = open(path, "rb")
        f.seek(start)
        self.send_response(206)
        self.send_header("Content-Type", self.guess_type(path))
        self.send_header("Content-Range", f"bytes {start}-{end}/{size}")
        self.send_header("Content-Length", str(end - start + 1))
        self.send_header("Accept-Ranges", "bytes")
        self.end_headers()
        return _Limited(f, end - start + 1)


class _Limited:
    """A file read up to `left` bytes, for a range's answer."""

    def __init__(self, f, left):
        self._f, self._left = f, left

    def read(self, size=-1):
        size = self._left if size < 0 else min(size, self._left)
        data = self._f.read(size)
        self._left -= len(data)
        return data

    def close(self):
        self._f.close()


class StaticServer:
    """Serves `root` on 127.0.0.1 on a port the kernel picks (no collisions
    between tests running side by side). `headers` go on every answer, e.g.
    the cross-origin isolation a page with threads needs. `redirects` maps
    paths to where they are sent on."""

    def __init__(self, root, headers=None, redirects=None):
        handler = type("Handler", (_Quiet,), {"extra_headers": dict(headers or {}),
                                              "redirects": dict(redirects or {})})
        self._httpd = socketserver.ThreadingTCPServer(
            ("127.0.0.1", 0), lambda *a: handler(*a, directory=str(root)))
        self._httpd.daemon_threads = True
        self.port = self._httpd.server_address[1]
        self._thread = threading.Thread(target=self._httpd.serve_forever, daemon=True)

    def url(self, path="/"):
        return f"http://127.0.0.1:{self.port}{path}"

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._httpd.shutdown()
        self._httpd.server_close()


class Page:
    """One tab. `errors` collects uncaught exceptions, console.error calls and
    the browser's own error log entries (failed loads), as sentences."""

    def __init__(self, browser, session_id):
        self._browser = browser
        self.session_id = session_id
        self.errors = []
        self.console = []

    def send(self, method, params=None, timeout=60):
        return self._browser.send(method, params, session_id=self.session_id, timeout=timeout)

    def _event(self, method, params):
        if method == "Runtime.exceptionThrown":
            d = params["exceptionDetails"]
            text = d.get("exception", {}).get("description") or d.get("text", "exception")
            self.errors.append(f"uncaught: {text} at {d.get('url', '')}:{d.get('lineNumber', 0) + 1}")
        elif method == "Runtime.consoleAPICalled":
            line = " ".join(str(a.get("value", a.get("description", ""))) for a in params.get("args", []))
            self.console.append(f"{params['type']}: {line}")
            if params["type"] in ("error", "assert"):
                self.errors.append(f"console.{params['type']}: {line}")
        elif method == "Log.entryAdded":
            entry = params["entry"]
            if entry.get("level") == "error":
                self.errors.append(f"{entry.get('source', 'browser')}: {entry.get('text', '')} {entry.get('url', '')}".rstrip())

    def navigate(self, url, timeout=60):
        loaded = self._browser.expect("Page.loadEventFired", self.session_id)
        result = self.send("Page.navigate", {"url": url}, timeout=timeout)
        if result.get("errorText"):
            raise CdpError(f"cannot load {url}: {result['errorText']}")
        loaded.wait(timeout)

    def evaluate(self, expression, timeout=60):
        """Evaluates `expression` in the page, awaiting it if it is a promise,
        and returns its value as JSON makes it. A rejection or a throw raises
        CdpError with the page's message."""
        result = self.send("Runtime.evaluate", {
            "expression": expression,
            "awaitPromise": True,
            "returnByValue": True,
            "userGesture": True,
            "timeout": int(timeout * 1000),
        }, timeout=timeout + 5)
        if "exceptionDetails" in result:
            d = result["exceptionDetails"]
            text = d.get("exception", {}).get("description") or d.get("text", "exception")
            raise CdpError(f"the page threw: {text}")
        return result["result"].get("value")

    def wait_for(self, expression, timeout=60, poll=0.1):
        """Polls until `expression` is truthy in the page; returns its value.
        A bound, not a measurement: it only says when to give up."""
        deadline = time.monotonic() + timeout
        while True:
            value = self.evaluate(expression, timeout=timeout)
            if value:
                return value
            if time.monotonic() > deadline:
                raise CdpError(f"gave up after {timeout} s waiting for: {expression}")
            time.sleep(poll)

    def press(self, key, modifiers=0):
        """Types one key as a person would: `key` is a character ("n", " ",
        "?") or a key name ("Enter", "Escape", "ArrowUp", "F11"). The page
        sees keydown (and keypress for characters) then keyup, with the
        KeyboardEvent's key and code a real keyboard gives."""
        if key in _NAMED_KEYS:
            code, vk, text = _NAMED_KEYS[key]
        elif len(key) == 1:
            text = key
            code = "Key" + key.upper() if key.isalpha() else "Digit" + key if key.isdigit() else _PUNCTUATION.get(key, "")
            vk = ord(key.upper()) if key.isalnum() else 0
        else:
            raise ValueError(f"unknown key {key!r}: give one character or one of {sorted(_NAMED_KEYS)}")
        event = {"key": key, "code": code, "windowsVirtualKeyCode": vk, "nativeVirtualKeyCode": vk,
                 "modifiers": modifiers}
        if text:
            self.send("Input.dispatchKeyEvent", {**event, "type": "keyDown", "text": text, "unmodifiedText": text})
        else:
            self.send("Input.dispatchKeyEvent", {**event, "type": "rawKeyDown"})
        self.send("Input.dispatchKeyEvent", {**event, "type": "keyUp"})

    def click(self, x, y, count=1):
        """A left click at (x, y) in CSS pixels; count=2 is a double click
        (the page sees click, click, dblclick)."""
        for n in range(1, count + 1):
            for kind in ("mousePressed", "mouseReleased"):
                self.send("Input.dispatchMouseEvent", {"type": kind, "x": x, "y": y, "button": "left",
                                                       "clickCount": n})

    def resize(self, width, height):
        """The page's viewport in CSS pixels (one device pixel each); a tab
        that the protocol opens does not take the window's size."""
        self.send("Emulation.setDeviceMetricsOverride", {"width": width, "height": height, "deviceScaleFactor": 1,
                                                         "mobile": False})

    def screenshot(self, path):
        data = self.send("Page.captureScreenshot", {"format": "png"})["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))
        return path


# key name -> (KeyboardEvent.code, Windows virtual key code, text typed)
_NAMED_KEYS = {
    " ": ("Space", 32, " "), "Enter": ("Enter", 13, "\r"), "Escape": ("Escape", 27, ""),
    "Tab": ("Tab", 9, ""), "Backspace": ("Backspace", 8, ""), "Delete": ("Delete", 46, ""),
    "ArrowLeft": ("ArrowLeft", 37, ""), "ArrowUp": ("ArrowUp", 38, ""), "ArrowRight": ("ArrowRight", 39, ""),
    "ArrowDown": ("ArrowDown", 40, ""), "Home": ("Home", 36, ""), "End": ("End", 35, ""),
    "PageUp": ("PageUp", 33, ""), "PageDown": ("PageDown", 34, ""),
    **{f"F{n}": (f"F{n}", 111 + n, "") for n in range(1, 13)},
}
_PUNCTUATION = {"-": "Minus", "=": "Equal", "+": "Equal", "[": "BracketLeft", "]": "BracketRight", ",": "Comma",
                ".": "Period", "/": "Slash", "?": "Slash", ";": "Semicolon", "'": "Quote", "\\": "Backslash",
                "`": "Backquote"}


class _Waiter:
    def __init__(self):
        self._event = threading.Event()
        self.value = None

    def set(self, value):
        self.value = value
        self._event.set()

    def wait(self, timeout):
        if not self._event.wait(timeout):
            raise CdpError(f"no answer from chromium within {timeout} s")
        return self.value


class Chromium:
    """Starts chromium with its own profile; DevTools on a port chromium picks
    (port 0) and prints, so parallel tests never race for one."""

    def __init__(self, extra_flags=(), window_size=(1280, 720)):
        self._profile = tempfile.mkdtemp(prefix="lv-chromium-")
        flags = CHROMIUM_FLAGS + [f"--user-data-dir={self._profile}", "--remote-debugging-port=0",
                                  f"--window-size={window_size[0]},{window_size[1]}", *extra_flags]
        self._stderr = open(os.path.join(self._profile, "stderr.log"), "w+")
        self._process = subprocess.Popen([chromium_binary(), *flags, "about:blank"], stdin=subprocess.DEVNULL,
                                         stdout=subprocess.DEVNULL, stderr=self._stderr)
        self._ids = itertools.count(1)
        self._pending = {}
        self._expected = []
        self._lock = threading.Lock()
        self._pages = {}
        self._window_size = window_size
        try:
            self._ws = websocket.create_connection(self._devtools_url(), timeout=None, suppress_origin=True)
        except Exception:
            self.close()
            raise
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _devtools_url(self, timeout=30):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            self._stderr.seek(0)
            m = re.search(r"DevTools listening on (ws://\S+)", self._stderr.read())
            if m:
                return m.group(1)
            if self._process.poll() is not None:
                break
            time.sleep(0.05)
        self._stderr.seek(0)
        raise CdpError("chromium did not start its DevTools server: " + self._stderr.read()[-2000:])

    def _read(self):
        while True:
            try:
                message = json.loads(self._ws.recv())
            except Exception:
                with self._lock:
                    for waiter in self._pending.values():
                        waiter.set({"error": {"message": "chromium closed the connection"}})
                return
            if "id" in message:
                with self._lock:
                    waiter = self._pending.pop(message["id"], None)
                if waiter:
                    waiter.set(message)
                continue
            method, session = message.get("method"), message.get("sessionId")
            page = self._pages.get(session)
            if page:
                page._event(method, message.get("params", {}))
            with self._lock:
                for entry in list(self._expected):
                    if entry[0] == method and entry[1] in (None, session):
                        self._expected.remove(entry)
                        entry[2].set(message.get("params", {}))

    def expect(self, method, session_id=None):
        """A waiter for the next `method` event, set up before the command
        that causes it so that it cannot be missed."""
        waiter = _Waiter()
        with self._lock:
            self._expected.append((method, session_id, waiter))
        return waiter

    def send(self, method, params=None, session_id=None, timeout=60):
        message_id = next(self._ids)
        message = {"id": message_id, "method": method, "params": params or {}}
        if session_id:
            message["sessionId"] = session_id
        waiter = _Waiter()
        with self._lock:
            self._pending[message_id] = waiter
        self._ws.send(json.dumps(message))
        answer = waiter.wait(timeout)
        if "error" in answer:
            raise CdpError(f"{method}: {answer['error'].get('message')}")
        return answer.get("result", {})

    def open(self, url, timeout=60):
        """A new tab with its error collection on, loaded with `url`."""
        target = self.send("Target.createTarget", {"url": "about:blank"})["targetId"]
        session = self.send("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
        page = Page(self, session)
        self._pages[session] = page
        for domain in ("Page", "Runtime", "Log"):
            page.send(f"{domain}.enable")
        page.resize(*self._window_size)
        page.navigate(url, timeout)
        return page

    def close(self):
        try:
            if getattr(self, "_ws", None):
                try:
                    self.send("Browser.close", timeout=10)
                except Exception:
                    pass
                self._ws.close()
        finally:
            if self._process.poll() is None:
                try:
                    self._process.wait(10)
                except subprocess.TimeoutExpired:
                    self._process.kill()
                    self._process.wait()
            self._stderr.close()
            shutil.rmtree(self._profile, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()


def main():
    import argparse
    parser = argparse.ArgumentParser(description="Open a page in headless chromium, print its console and errors, "
                                                 "and optionally evaluate an expression and take a screenshot.")
    parser.add_argument("url", help="a URL, or a folder to serve on loopback (then --path picks the page)")
    parser.add_argument("--path", default="/", help="the page within a served folder (default /)")
    parser.add_argument("--eval", help="an expression to evaluate (awaited) after the load; its value is printed")
    parser.add_argument("--wait", type=float, default=0, help="seconds to let the page run before --eval")
    parser.add_argument("--screenshot", help="a PNG file to write")
    parser.add_argument("--flag", action="append", default=[], help="one more chromium flag (repeatable)")
    args = parser.parse_args()

    def run(url):
        with Chromium(extra_flags=args.flag) as browser:
            page = browser.open(url)
            time.sleep(args.wait)
            if args.eval:
                print(json.dumps(page.evaluate(args.eval), indent=2, ensure_ascii=False))
            if args.screenshot:
                page.screenshot(args.screenshot)
            for line in page.console:
                print(line)
            for line in page.errors:
                print("ERROR", line)
            return 1 if page.errors else 0

    if os.path.isdir(args.url):
        with StaticServer(args.url) as server:
            return run(server.url(args.path))
    return run(args.url)


if __name__ == "__main__":
    raise SystemExit(main())
