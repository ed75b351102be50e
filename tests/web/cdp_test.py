#!/usr/bin/python3
"""The browser driver the web tests share, on a page that reports what it
was given: keys and double clicks arrive as a keyboard and a mouse send
them, failures in the page reach the test as errors, and a screenshot is
the page's picture."""

import os
import shutil
import struct
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cdp  # noqa: E402

PAGE = """<!doctype html><meta charset=utf-8><link rel=icon href='data:,'><title>driver</title>
<style>html, body { margin: 0; height: 100%; background: rgb(0, 200, 0); }</style>
<script>
window.seen = [];
addEventListener('keydown', (e) => seen.push(`down ${e.key} ${e.code}`));
addEventListener('keyup', (e) => seen.push(`up ${e.key}`));
addEventListener('dblclick', (e) => seen.push(`dblclick ${e.clientX},${e.clientY}`));
</script>"""


class DriverTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="lv-web-cdp-")
        with open(os.path.join(cls.root, "index.html"), "w") as f:
            f.write(PAGE)
        cls.server = cdp.StaticServer(cls.root).__enter__()
        cls.browser = cdp.Chromium(window_size=(320, 200))

    @classmethod
    def tearDownClass(cls):
        cls.browser.close()
        cls.server.__exit__(None, None, None)
        shutil.rmtree(cls.root, ignore_errors=True)

    def setUp(self):
        self.page = self.browser.open(self.server.url("/index.html"))

    def test_keys_and_double_click_arrive_as_typed(self):
        for key in ("n", " ", "?", "ArrowUp", "Escape", "F"):
            self.page.press(key)
        self.page.click(40, 30, count=2)
        self.assertEqual(self.page.evaluate("seen"), [
            "down n KeyN", "up n", "down   Space", "up  ", "down ? Slash", "up ?", "down ArrowUp ArrowUp",
            "up ArrowUp", "down Escape Escape", "up Escape", "down F KeyF", "up F", "dblclick 40,30"])
        self.assertEqual(self.page.errors, [])

    def test_evaluate_awaits_and_reports_what_the_page_throws(self):
        self.assertEqual(self.page.evaluate("new Promise((r) => setTimeout(() => r({a: [1, 'é']}), 50))"),
                         {"a": [1, "é"]})
        with self.assertRaisesRegex(cdp.CdpError, "the page threw: Error: no such thing"):
            self.page.evaluate("Promise.reject(new Error('no such thing'))")
        self.assertEqual(self.page.wait_for("seen.length === 0 && 'ready'"), "ready")

    def test_errors_of_the_page_are_collected(self):
        self.page.evaluate("console.error('broken', 42); setTimeout(() => { throw new Error('late') }); "
                           "fetch('/missing.js').catch(() => {}); new Promise((r) => setTimeout(r, 200))")
        errors = "\n".join(self.page.errors)
        self.assertIn("console.error: broken 42", errors)
        self.assertIn("uncaught: Error: late", errors)
        self.assertIn("404", errors)

    def test_screenshot_is_the_page(self):
        path = self.page.screenshot(os.path.join(self.root, "shot.png"))
        with open(path, "rb") as f:
            png = f.read()
        self.assertEqual(png[:8], b"\x89PNG\r\n\x1a\n")
        self.assertEqual(struct.unpack(">II", png[16:24]), (320, 200))


if __name__ == "__main__":
    unittest.main()
