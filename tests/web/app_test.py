#!/usr/bin/python3
"""The page as an app and as a stage (out/web, built by scripts/web), in
Debian's headless chromium on loopback: installable, starting offline once
visited, opening files handed to the installed app, both builds of the
module (with and without WebAssembly SIMD) picked and benchmarked, and the
frames cleared to transparent without the track's overlay for OBS.

Run by ctest after the web_build fixture; skips (exit 77) only when
chromium or python3-websocket is missing, saying which.
"""
import json
import os
import shutil
import sys
import unittest

SKIP = 77
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
try:
    from cdp import StaticServer
    from page_test import PAGE, TITLE, Site, browser, bundled, wait
except ImportError as e:
    print(f"skipped: {e} (apt-get install python3-websocket)")
    sys.exit(SKIP)


# What a static host sends to make the page cross-origin isolated (README).
ISOLATION = {"Cross-Origin-Opener-Policy": "same-origin", "Cross-Origin-Embedder-Policy": "require-corp"}

# The screenshot decoded by the browser: how much of the frame is fully
# transparent, and how many pixels are dark but nearly opaque, which only
# the overlay's text shadow draws (the field only adds light).
PIXELS_JS = """(async (png) => {
  const bitmap = await createImageBitmap(await (await fetch('data:image/png;base64,' + png)).blob());
  const c = new OffscreenCanvas(bitmap.width, bitmap.height);
  const g = c.getContext('2d');
  g.drawImage(bitmap, 0, 0);
  const p = g.getImageData(0, 0, bitmap.width, bitmap.height).data;
  let clear = 0, shadow = 0;
  for (let i = 0; i < p.length; i += 4) {
    if (p[i + 3] === 0) clear++;
    else if (p[i + 3] > 150 && p[i] < 40 && p[i + 1] < 40 && p[i + 2] < 40) shadow++;
  }
  return { clear: clear / (p.length / 4), shadow };
})"""


class AppTest(unittest.TestCase):
    def setUp(self):
        self.site = Site()

    def tearDown(self):
        self.site.close()

    def test_installable_and_starts_offline_after_one_visit(self):
        with browser() as chromium:
            b = chromium.open(self.site.url)
            wait(b, "window.lumenvortex.frames > 5", what="the page starting")
            # Installed, the worker has kept every file of the site.
            self.assertTrue(b.evaluate("navigator.serviceWorker.ready.then((r) => !!r.active)"))
            self.assertEqual([], b.send("Page.getInstallabilityErrors")["installabilityErrors"])
            manifest = b.evaluate("fetch('manifest.webmanifest').then((r) => r.json())")
            for icon in manifest["icons"]:
                size = b.evaluate(f"""fetch({json.dumps(icon['src'])}).then((r) => r.blob()).then(createImageBitmap)
                                      .then((i) => i.width + 'x' + i.height)""")
                self.assertEqual(icon["sizes"], size, icon["src"])
            accepted = {ext for handler in manifest["file_handlers"] for exts in handler["accept"].values()
                        for ext in exts}
            self.assertLessEqual({".mp3", ".ogg", ".opus", ".flac", ".wav", ".m4a"}, accepted)
            self.assertEqual("simd", b.evaluate("window.lumenvortex.build"))
            # The server gone, the page starts again from the worker's copy,
            # which makes it cross-origin isolated: the SIMD build with the
            # field step's helper thread, which a big field puts to work.
            self.site.server.__exit__(None, None, None)
            b.navigate(self.site.url + "?overlay=off")
            wait(b, "window.lumenvortex.frames > 5", what="the page starting offline")
            self.assertTrue(b.evaluate("window.crossOriginIsolated"))
            self.assertEqual(("simd-mt", "WASM"), (b.evaluate("window.lumenvortex.build"),
                                                   b.evaluate("window.lumenvortex.fieldTarget")))
            for _ in range(12):
                b.press("a")   # 1725 particles: above the helper thread's threshold
            wait(b, "window.lumenvortex.alive >= 1700", what="a field big enough for two threads", timeout=120)
            frames = b.evaluate("window.lumenvortex.frames")
            wait(b, f"window.lumenvortex.frames > {frames + 20}", what="frames of it drawn on two threads")
            self.assertEqual([], b.errors)

    def test_files_opened_with_the_installed_app_play(self):
        # The launch queue hands an installed app's files to the page; here a
        # stand-in queue takes the page's consumer, which the test calls with
        # a file as chromium would (no desktop here to open one with).
        self.site.add_tone("tone.ogg")
        with browser() as chromium:
            b = chromium.open("about:blank")
            b.send("Page.addScriptToEvaluateOnNewDocument", {"source": """
                Object.defineProperty(window, 'launchQueue', { value: { setConsumer(f) { window.lvLaunch = f; } } });"""})
            b.navigate(self.site.url)
            wait(b, "window.lvLaunch", what="the page taking launched files")
            b.evaluate("""fetch('tone.ogg').then((r) => r.blob()).then((blob) => window.lvLaunch(
                { files: [{ getFile: async () => new File([blob], 'tone.ogg', { type: 'audio/ogg' }) }] }))""")
            expected = TITLE if bundled("tags.js") else "tone"
            wait(b, f"window.lumenvortex.playing && window.lumenvortex.title === {json.dumps(expected)}",
                 what="the launched file playing")
            self.assertEqual([], b.errors)

    def test_each_build_of_the_field_step_benchmarks(self):
        # A host's own headers make the page cross-origin isolated from the
        # first visit, as the service worker does from the second.
        hashes = set()
        with StaticServer(self.site.root, headers=ISOLATION) as isolated, browser() as chromium:
            for url, build, target, threads in (
                    (self.site.url + "?particles=1100", "simd", "WASM", 1),
                    (self.site.url + "?particles=1100&simd=0", "scalar", "EMU128", 1),
                    (isolated.url("/") + "?particles=1100", "simd-mt", "WASM", 2),
                    (isolated.url("/") + "?particles=1100&threads=0", "simd", "WASM", 1)):
                b = chromium.open(url + "&bench=field&frames=7")
                wait(b, "window.lumenvortex.stepMs > 0", what=f"the {build} field step's median", timeout=300)
                result = b.evaluate("window.lumenvortex")
                threads = min(threads, b.evaluate("navigator.hardwareConcurrency"))   # one on a one-core machine
                self.assertEqual((build, target, threads, 1100, 7),
                                 (result["build"], result["fieldTarget"], result["threads"], result["particles"],
                                  result["frames"]), url)
                hashes.add(result["hash"])
                self.assertEqual([], b.errors)
        # Same start, same frames: SIMD or not, one thread or two.
        self.assertEqual(1, len(hashes), hashes)

    def test_transparent_background_without_the_overlay(self):
        self.site.add_tone("tone.ogg")
        with browser() as chromium:
            found = {}
            for overlay in ("on", "off"):
                b = chromium.open("about:blank")
                b.send("Emulation.setDefaultBackgroundColorOverride", {"color": {"r": 0, "g": 0, "b": 0, "a": 0}})
                b.navigate(self.site.url + f"?play=tone.ogg&background=transparent&overlay={overlay}")
                # Within the overlay's five seconds after the track starts.
                wait(b, "window.lumenvortex.playing && window.lumenvortex.frames > 10", what="the file playing")
                png = b.send("Page.captureScreenshot", {"format": "png"})["data"]
                found[overlay] = b.evaluate(f"({PIXELS_JS})({json.dumps(png)})")
                self.assertEqual([], b.errors)
            print(f"transparent stage: {found}")
            # Most of the frame is the page behind, untouched.
            self.assertGreater(found["off"]["clear"], 0.5)
            self.assertGreater(found["on"]["clear"], 0.5)
            # The track's name has a shadow with the overlay, none without.
            self.assertGreater(found["on"]["shadow"], 50)
            self.assertLess(found["off"]["shadow"], 10)


if __name__ == "__main__":
    if not shutil.which("chromium") and not shutil.which("chromium-browser"):
        print("skipped: no chromium (apt-get install chromium, or run scripts/setup)")
        sys.exit(SKIP)
    if not os.path.exists(os.path.join(PAGE, "lumenvortex-simd.wasm")):
        sys.exit(f"{PAGE} has no page with both builds: run scripts/web")
    unittest.main(verbosity=2)
