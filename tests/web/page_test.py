#!/usr/bin/python3
"""The page (out/web, built by scripts/web) in Debian's headless chromium,
served on loopback: it loads cleanly, plays a tagged file given by ?play=,
answers the keys as the Linux player does, and hears the fake microphone.

Run by ctest after the web_build fixture; skips (exit 77) only when
chromium or python3-websocket is missing, saying which.
"""
import base64
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

SKIP = 77
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
try:
    from cdp import Chromium, StaticServer
except ImportError as e:
    print(f"skipped: {e} (apt-get install python3-websocket)")
    sys.exit(SKIP)

# chromium's fake capture device and its consent, for the microphone; the
# page's frames are not throttled as a background tab's would be.
PAGE_FLAGS = ["--use-fake-device-for-media-stream", "--use-fake-ui-for-media-stream",
              "--disable-background-timer-throttling", "--disable-renderer-backgrounding"]


def browser(width=1280, height=720):
    return Chromium(extra_flags=PAGE_FLAGS, window_size=(width, height))


def wait(page, expression, what, timeout=60):
    """Polls a page expression until it is true (false while it throws, as
    before the page has started); fails naming what did not happen, with
    the page's status and last console lines."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if page.evaluate(f"(() => {{ try {{ return !!({expression}); }} catch (e) {{ return false; }} }})()"):
            return
        time.sleep(0.1)
    status = page.evaluate("JSON.stringify(window.lumenvortex || null)")
    raise AssertionError(f"{what} did not happen in {timeout} s; status {status}; console {page.console[-10:]}")

ROOT = os.path.join(HERE, "..", "..")
PAGE = os.environ.get("LV_WEB_DIR", os.path.join(ROOT, "out", "web"))
TITLE, ARTIST = "Lumen Test Tone ✦", "The Testers"


class Site:
    """out/web and the test's media, served on an ephemeral loopback port."""

    def __init__(self):
        self.root = tempfile.mkdtemp(prefix="lv-site-")
        for name in os.listdir(PAGE):
            os.symlink(os.path.abspath(os.path.join(PAGE, name)), os.path.join(self.root, name))
        # Another origin that lets any page read its files, and a path of
        # this one that sends visitors there.
        self.elsewhere = StaticServer(self.root, headers={"Access-Control-Allow-Origin": "*"}).__enter__()
        self.server = StaticServer(self.root, redirects={"/away.ogg": self.elsewhere.url("/tone.ogg")}).__enter__()
        self.url = self.server.url("/")

    def add_tone(self, name, title=TITLE, cover=None, hz=220):
        """Eight seconds of a 220 Hz (`hz`) tone pulsed twice a second, tagged
        with `title` and ARTIST: Ogg Vorbis, or MP3 with `cover` (an image
        file) as its front cover."""
        tone = ["-f", "lavfi", "-i", f"sine=frequency={hz}:duration=8,volume='0.2+0.8*lt(mod(t,0.5),0.1)':eval=frame"]
        tags = ["-ac", "2", "-ar", "44100", "-metadata", f"title={title}", "-metadata", f"artist={ARTIST}"]
        if cover:
            codec = ["-i", cover, "-map", "0", "-map", "1", "-c:a", "libmp3lame", "-c:v", "copy",
                     "-id3v2_version", "3", "-metadata:s:v", "comment=Cover (front)"]
        else:
            codec = ["-c:a", "libvorbis"]
        subprocess.run(["ffmpeg", "-loglevel", "error", "-y", *tone, *codec, *tags, os.path.join(self.root, name)],
                       check=True)

    def add_long_mix(self, name, title):
        """Two hours of Opus (about 10 MB): a minute of a pulsed tone,
        tagged with `title`, repeated by copying its packets."""
        minute = os.path.join(self.root, "minute.opus")
        subprocess.run(["ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                        "sine=frequency=330:duration=60,volume='0.2+0.8*lt(mod(t,0.5),0.1)':eval=frame",
                        "-ac", "2", "-c:a", "libopus", "-b:a", "12k", "-metadata", f"title={title}",
                        "-metadata", f"artist={ARTIST}", minute], check=True)
        subprocess.run(["ffmpeg", "-loglevel", "error", "-y", "-stream_loop", "119", "-i", minute,
                        "-map_metadata", "0", "-c", "copy", os.path.join(self.root, name)], check=True)
        os.remove(minute)

    def add_bytes(self, name, data):
        with open(os.path.join(self.root, name), "wb") as f:
            f.write(data)

    def close(self):
        self.server.__exit__(None, None, None)
        self.elsewhere.__exit__(None, None, None)
        shutil.rmtree(self.root, ignore_errors=True)


# Draws a snapshot, copies the WebGL canvas in the same task (its buffer is
# not kept once presented), decodes the native PNG with the browser, and
# returns the PSNR over the RGB channels.
PSNR_JS = """(async (mode, frame) => {
  const w = canvas.width, h = canvas.height;
  window.lumenvortexScripted.snapshot(mode, frame);
  const copy = new OffscreenCanvas(w, h);
  const g = copy.getContext('2d');
  g.drawImage(canvas, 0, 0);
  const page = g.getImageData(0, 0, w, h).data;
  const png = await createImageBitmap(await (await fetch('native/mode-' + mode + '.png')).blob());
  if (png.width !== w || png.height !== h) throw new Error('the native frame is ' + png.width + ' x ' + png.height);
  g.clearRect(0, 0, w, h);
  g.drawImage(png, 0, 0);
  const native = g.getImageData(0, 0, w, h).data;
  let squares = 0;
  for (let i = 0; i < page.length; i++) {
    if ((i & 3) === 3) continue;
    const d = page[i] - native[i];
    squares += d * d;
  }
  const mse = squares / (w * h * 3);
  return mse ? 10 * Math.log10(255 * 255 / mse) : 99;
})"""


# The share of the canvas's pixels that are not black, read in an animation
# frame callback that runs after the page's own (the WebGL buffer is gone
# once presented).
LIT_JS = """new Promise((resolve) => requestAnimationFrame(() => {
  const c = document.getElementById('canvas');
  const g = new OffscreenCanvas(c.width, c.height).getContext('2d');
  g.drawImage(c, 0, 0);
  const d = g.getImageData(0, 0, c.width, c.height).data;
  let lit = 0;
  for (let i = 0; i < d.length; i += 4) if (d[i] + d[i + 1] + d[i + 2] > 30) lit++;
  resolve(lit / (d.length / 4));
}))"""


def read_blob(b, expression):
    """The bytes of the Blob a page expression (or its promise) gives."""
    return base64.b64decode(b.evaluate(f'''Promise.resolve({expression}).then((blob) => new Promise((resolve) => {{
        const reader = new FileReader();
        reader.onload = () => resolve(reader.result.split(',')[1]);
        reader.readAsDataURL(blob);
    }}))'''))


def bundled(name):
    try:
        with open(os.path.join(PAGE, "js", "modules.json"), encoding="utf-8") as f:
            return name in json.load(f)
    except FileNotFoundError:
        return False


class PageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.site = Site()
        cls.site.add_tone("tone.ogg")

    @classmethod
    def tearDownClass(cls):
        cls.site.close()

    def status(self, b):
        return b.evaluate("JSON.parse(JSON.stringify(window.lumenvortex))")

    def test_first_screen_loads_without_console_errors(self):
        with browser() as chromium:
            b = chromium.open(self.site.url)
            wait(b, "window.lumenvortex.frames > 10", what="frames drawn on the first screen")
            self.assertEqual([], b.errors)
            s = self.status(b)
            self.assertRegex(s["renderer"], "SwiftShader|ANGLE|WebGL")
            self.assertEqual(525, s["particles"])
            # The first screen is up and a keyboard can use it at once.
            self.assertFalse(b.evaluate("document.getElementById('welcome').hidden"))
            self.assertEqual("open-files", b.evaluate("document.activeElement.id"))
            self.check_scene_keys(b)
            b.press("Escape")
            wait(b, "document.getElementById('welcome').hidden", what="Esc closing the first screen")
            # Back, and through it with the keyboard alone: Tab to the demo
            # song's button, Enter plays it.
            b.press("Escape")
            wait(b, "!document.getElementById('welcome').hidden", what="Esc bringing the first screen back")
            for _ in range(6):
                if b.evaluate("document.activeElement.id") == "play-demo":
                    break
                b.press("Tab")
            self.assertEqual("play-demo", b.evaluate("document.activeElement.id"))
            b.press("Enter")
            wait(b, "window.lumenvortex.playing && window.lumenvortex.title === 'Lumen Drift'",
                 what="Enter on the demo song's button playing it")
            self.assertIn("Lumen Drift", b.evaluate("document.title"))
            self.assertEqual([], b.errors)

    def test_play_parameter_plays_the_file_and_keys_act(self):
        with browser() as chromium:
            b = chromium.open(self.site.url + "?play=tone.ogg")
            wait(b, "window.lumenvortex.playing && window.lumenvortex.frames > 5", what="the file playing")
            wait(b, "window.lumenvortex.level > 0.01", what="the file's sound reaching the analysis")
            first = self.status(b)["frames"]
            wait(b, f"window.lumenvortex.frames > {first + 10}", what="frames advancing")
            if bundled("tags.js"):
                expected = (TITLE, ARTIST)
            else:
                # The tag reader (web/js/tags.js) is not in this build: the
                # file's name stands in, as natively without tags.
                print("tags.js is not bundled: checking the file-name title instead of the tags")
                expected = ("tone", "")
            s = self.status(b)
            self.assertEqual(expected, (s["title"], s["artist"]))
            self.assertIn(expected[0], b.evaluate("document.title"))
            self.assertEqual([], b.errors)
            self.check_player_keys(b)

    def test_a_two_hour_file_streams(self):
        # Decoded whole, two hours of stereo would be 2.5 GB of samples: the
        # page would show nothing for a minute, then give up.
        self.site.add_long_mix("long.opus", "Two Hour Mix")
        with browser() as chromium:
            b = chromium.open("about:blank")
            # Every message the page shows, from its first moment.
            b.send("Page.addScriptToEvaluateOnNewDocument", {"source": """window.said = [];
                new MutationObserver(() => {
                  const m = document.getElementById('message');
                  if (m && m.textContent && window.said.at(-1) !== m.textContent) window.said.push(m.textContent);
                }).observe(document, { subtree: true, childList: true, characterData: true });"""})
            b.navigate(self.site.url + "?play=long.opus")
            wait(b, "window.lumenvortex.playing && window.lumenvortex.title === "
                    "(window.lumenvortex.title === 'long' ? 'long' : 'Two Hour Mix')",
                 what="the two-hour file playing", timeout=20)
            if bundled("tags.js"):
                self.assertEqual("Two Hour Mix", self.status(b)["title"])
            wait(b, "window.lumenvortex.level > 0.01", what="the file's sound reaching the analysis")
            first = self.status(b)["frames"]
            wait(b, f"window.lumenvortex.frames > {first + 10}", what="frames advancing")
            self.assertEqual("", self.status(b)["error"])
            self.assertEqual("", b.evaluate("document.getElementById('message').textContent"))
            self.assertIn("opening long.opus…", b.evaluate("window.said"))
            self.assertEqual([], b.errors)

    def test_the_streamed_sound_gives_the_decoded_files_spectrum(self):
        # The window the page analysed, found in the whole file as the
        # browser decodes it at once (as the page once played files): the
        # same samples, so the same spectrum bytes, within 1.
        with browser() as chromium:
            b = chromium.open(self.site.url + "?play=tone.ogg")
            wait(b, "window.lumenvortex.playing && window.lumenvortex.level > 0.01", what="the file heard")
            time.sleep(0.5)   # the whole window is the file's, none of the silence before
            found = b.evaluate("""(async () => {
              const s = window.lumenvortex, heard = s.heardWindow;
              const context = new OfflineAudioContext(2, 1, 44100);
              const buffer = await context.decodeAudioData(await (await fetch('tone.ogg')).arrayBuffer());
              const left = buffer.getChannelData(0), right = buffer.getChannelData(1);
              let best = -1, bestError = Infinity;
              for (let at = 0; at + 1024 <= buffer.length; at++) {
                let error = 0;
                for (let i = 0; i < 1024 && error < bestError; i++)
                  error += (left[at + i] - heard[2 * i]) ** 2 + (right[at + i] - heard[2 * i + 1]) ** 2;
                if (error < bestError) { bestError = error; best = at; }
              }
              const decoded = new Float32Array(2048);
              for (let i = 0; i < 1024; i++) { decoded[2 * i] = left[best + i]; decoded[2 * i + 1] = right[best + i]; }
              const a = s.spectrumOf(heard), b = s.spectrumOf(decoded);
              return { bestError, largest: Math.max(...a), apart: Math.max(...a.map((v, i) => Math.abs(v - b[i]))) };
            })()""", timeout=120)
            self.assertLess(found["bestError"], 1e-6, "the window heard is not in the decoded file")
            self.assertGreater(found["largest"], 50, "the spectrum of the tone is empty")
            self.assertLessEqual(found["apart"], 1)
            self.assertEqual([], b.errors)

    def test_files_that_fail_say_why_where_it_shows(self):
        self.site.add_bytes("noise.ogg", bytes(range(256)) * 64)
        with browser() as chromium:
            for query, expected in [("?play=missing.ogg", "missing.ogg cannot be read: 404"),
                                    ("?play=noise.ogg", "noise.ogg is not sound this browser decodes"),
                                    # A stray '%' is a name, not a crash.
                                    ("?play=100%25.ogg", "100%.ogg cannot be read: 404")]:
                b = chromium.open(self.site.url + query)
                wait(b, "window.lumenvortex.error !== ''", what=f"{query}: a failure said")
                self.assertIn(expected, self.status(b)["error"])
                # Said where it can be seen: playback hid the first screen.
                self.assertTrue(b.evaluate("document.getElementById('message').checkVisibility()"), query)
                self.assertIn(expected, b.evaluate("document.getElementById('message').textContent"))
                self.assertEqual([], [e for e in b.errors if "404" not in e], query)

    def test_quick_next_presses_end_on_one_track_with_its_own_tags(self):
        # Two tracks told apart by ear: A at 220 Hz, B at 880 Hz.
        for name, title, hz in [("2-a.ogg", "Track A", 220), ("3-b.ogg", "Track B", 880)]:
            self.site.add_tone(name, title, hz=hz)
        self.site.add_bytes("1-bad.ogg", bytes(range(256)) * 64)
        names = ["1-bad.ogg", "2-a.ogg", "3-b.ogg"]
        with browser() as chromium:
            b = chromium.open(self.site.url)
            wait(b, "window.lumenvortex.frames > 2", what="the page starting")
            # Space on the first screen, away from its buttons, before any
            # sound: nothing to pause, and the music that follows plays.
            b.evaluate("document.activeElement.blur()")
            b.press(" ")
            self.assertFalse(self.status(b)["paused"])
            self.open_files(b, [os.path.join(self.site.root, n) for n in names])
            # The damaged file is said and passed over; the error goes with it.
            wait(b, "window.lumenvortex.playing && window.lumenvortex.title === 'Track A'", what="the first good file")
            self.assertEqual("", self.status(b)["error"])
            # Nine presses in one go, faster than a hand: every load overlaps the next.
            b.evaluate("for (let i = 0; i < 9; i++) window.dispatchEvent(new KeyboardEvent('keydown', { key: 'n' }))")
            # Once the sound settles, the title is that of the track heard
            # (its pitch, from the zero crossings of the window analysed).
            heard = """(() => {
              const w = window.lumenvortex.heardWindow;
              let crossings = 0;
              for (let i = 2; i < w.length; i += 2) if ((w[i] < 0) !== (w[i - 2] < 0)) crossings++;
              const hz = crossings / 2 / (w.length / 2 / 44100);
              return window.lumenvortex.playing && window.lumenvortex.level > 0.01 &&
                     (hz < 500 ? 'Track A' : 'Track B') === window.lumenvortex.title;
            })()"""
            # Until the last press's track has opened (the page's "opening ..."
            # line goes), the track playing before the presses is still heard,
            # and the page stops it just before the new one starts: wait for
            # both, or a slow machine's second look lands in between.
            opened = "document.getElementById('message').textContent === ''"
            wait(b, f"{opened} && {heard}", what="the last press's track opened and heard under its own title")
            time.sleep(2)
            self.assertTrue(b.evaluate(heard), self.status(b))
            self.assertEqual([], b.errors)

    def open_files(self, b, paths):
        """Files chosen in the page's file dialog (which a test cannot click through)."""
        root = b.send("DOM.getDocument")["root"]["nodeId"]
        node = b.send("DOM.querySelector", {"nodeId": root, "selector": "#file-input"})["nodeId"]
        b.send("DOM.setFileInputFiles", {"nodeId": node, "files": paths})

    def test_a_large_png_cover_is_scaled_down(self):
        png = os.path.join(self.site.root, "big.png")
        subprocess.run(["ffmpeg", "-loglevel", "error", "-y", "-f", "lavfi", "-i", "color=c=0x3060c0:s=8000x8000",
                        "-frames:v", "1", png], check=True)
        self.site.add_tone("covered.mp3", cover=png)
        if not bundled("tags.js"):
            self.skipTest("the tag reader (web/js/tags.js) is not bundled in this build")
        with browser() as chromium:
            b = chromium.open(self.site.url + "?play=covered.mp3")
            wait(b, "window.lumenvortex.playing && window.lumenvortex.coverSize", what="the file with its cover")
            self.assertEqual([1000, 1000], self.status(b)["coverSize"])
            self.assertEqual([], b.errors)

    def test_the_picture_survives_a_lost_context_and_an_oversized_window(self):
        with browser() as chromium:
            b = chromium.open(self.site.url + "?play=tone.ogg")
            wait(b, "window.lumenvortex.playing && window.lumenvortex.frames > 5", what="the file playing")
            self.assertGreater(b.evaluate(LIT_JS), 0.0, "particles drawn before the loss")
            b.evaluate("window.loser = document.getElementById('canvas').getContext('webgl2')"
                       ".getExtension('WEBGL_lose_context'); window.loser.loseContext()")
            wait(b, "/graphics were lost/.test(document.getElementById('message').textContent)",
                 what="the loss said")
            lost_at = self.status(b)["frames"]
            time.sleep(1)
            self.assertEqual(lost_at, self.status(b)["frames"], "frames counted with no context to draw them")
            b.evaluate("window.loser.restoreContext()")
            wait(b, f"window.lumenvortex.frames > {lost_at + 10}", what="frames drawn again")
            self.assertGreater(b.evaluate(LIT_JS), 0.0, "particles drawn after the context came back")
            self.assertEqual("", self.status(b)["error"])

            # A window larger than WebGL draws at this pixel ratio: the
            # canvas shrinks whole, its buffer as large as it says.
            b.send("Emulation.setDeviceMetricsOverride",
                   {"width": 3000, "height": 1000, "deviceScaleFactor": 8, "mobile": False})
            wait(b, "document.getElementById('canvas').width !== 1280", what="the canvas following the window")
            width, height, buffer_width, buffer_height, limit = b.evaluate("""(() => {
                const c = document.getElementById('canvas'), gl = c.getContext('webgl2');
                return [c.width, c.height, gl.drawingBufferWidth, gl.drawingBufferHeight,
                        Math.min(gl.getParameter(gl.MAX_RENDERBUFFER_SIZE), ...gl.getParameter(gl.MAX_VIEWPORT_DIMS))];
            })()""")
            self.assertLessEqual(width, limit)
            self.assertAlmostEqual(3.0, width / height, places=2)
            self.assertEqual((width, height), (buffer_width, buffer_height))
            wait(b, f"window.lumenvortex.frames > {self.status(b)['frames'] + 3}", what="frames at that size")
            self.assertEqual([], b.errors)

    def check_scene_keys(self, b):
        """m, h, a and s, in silence: loud sound changes the palette by
        itself on the sections' beats, as natively."""
        s = self.status(b)
        b.press("m")
        wait(b, f"window.lumenvortex.mode === {(s['mode'] + 1) % s['modes']}", what="m: the next mode")
        s = self.status(b)   # a new mode brings a new palette
        b.press("h")
        wait(b, f"window.lumenvortex.palette === {(s['palette'] + 1) % 4}", what="h: the next palette")
        b.press("a")
        wait(b, f"window.lumenvortex.particles === {s['particles'] + 100}", what="a: more particles")
        b.press("s")
        b.press("s")
        wait(b, f"window.lumenvortex.particles === {s['particles'] - 100}", what="s: fewer particles")
        # The rest of the plug-in's keys, each against what it sets.
        s = self.status(b)
        for key, expression, what in [
                ("p", f"window.lumenvortex.flow === {str(not s['flow']).lower()}", "p: the noise flow"),
                ("c", f"window.lumenvortex.cycle === {str(not s['cycle']).lower()}", "c: mode change on new tracks"),
                ("+", f"window.lumenvortex.gain > {s['gain']}", "+: more input gain"),
                ("-", f"Math.abs(window.lumenvortex.gain - {s['gain']}) < 1e-4", "-: less input gain"),
                ("-", f"window.lumenvortex.gain < {s['gain']}", "-: less input gain"),
                ("r", "window.lumenvortex.particles === 525 && window.lumenvortex.gain === 0.5",
                 "r: particles and gain reset"),
                ("/", "window.lumenvortex.help", "/: the help panel"),
                ("?", "!window.lumenvortex.help", "?: the help panel again"),
                ("i", f"window.lumenvortex.trackShownAt !== {s['trackShownAt']}", "i: the track shown again"),
                ("q", f"window.lumenvortex.antialias === {str(not s['antialias']).lower()}", "q: antialiasing")]:
            b.press(key)
            wait(b, expression, what=what)
        self.assertEqual([], b.errors)

    def check_player_keys(self, b):
        b.press("d")
        wait(b, "/fps, frame \\d+/.test(document.getElementById('stats').textContent)", what="d: the stats panel")
        b.press("d")
        wait(b, "!document.getElementById('stats')", what="d again: the stats panel gone")
        b.press(" ")
        wait(b, "window.lumenvortex.paused && !window.lumenvortex.playing", what="space: paused")
        wait(b, "window.lumenvortex.audioState === 'suspended'", what="space: the sound stopping")
        b.press(" ")
        wait(b, "window.lumenvortex.playing && window.lumenvortex.audioState === 'running'",
             what="space again: playing on")
        b.press("n")   # a one-file play list starts over
        wait(b, "window.lumenvortex.playing", what="n: the next track")
        self.assertEqual([], b.errors)

    def test_scripted_run_reaches_the_native_pinned_hashes(self):
        # The hashes the native determinism test pins, read from it so they
        # have one home. The same seed, scripted music and keys must reach
        # the same field in the page: its arithmetic, its random draws and
        # its frame order are the programs'.
        with open(os.path.join(ROOT, "tests", "core", "field_determinism_test.cpp"), encoding="utf-8") as f:
            source = f.read()
        pinned = {kind: re.search(rf"kPinned{kind}Hash = 0x([0-9a-f]+)ull", source).group(1).zfill(16)
                  for kind in ("Literal", "Fast")}
        frames, width, height = (int(re.search(rf"{name} = (\d+);", source).group(1))
                                 for name in ("FRAMES", "CANVAS_WIDTH", "CANVAS_HEIGHT"))
        # Each build of the module: the SIMD one (the page's choice), the
        # scalar one, and the SIMD one with the helper thread on an isolated
        # page. They differ only in the fast step, so the others run the fast
        # step alone.
        isolation = {"Cross-Origin-Opener-Policy": "same-origin", "Cross-Origin-Embedder-Policy": "require-corp"}
        with StaticServer(self.site.root, headers=isolation) as isolated, browser() as chromium:
            for site, query, target, kinds in (
                    (self.site.url, "", "WASM", (("Fast", "true"), ("Literal", "false"))),
                    (self.site.url, "&simd=0", "EMU128", (("Fast", "true"),)),
                    (isolated.url("/"), "", "WASM", (("Fast", "true"),))):
                b = chromium.open(site + f"?scripted&width={width}&height={height}{query}")
                wait(b, "window.lumenvortexScripted", what="the scripted run's page")
                self.assertEqual(target, b.evaluate("window.lumenvortexScripted.fieldTarget"))
                if site != self.site.url:   # the threads' build, which needs isolation
                    self.assertTrue(b.evaluate("window.crossOriginIsolated"))
                # The fast run first, as natively: state it leaves behind is
                # part of what the literal run's hash pins.
                # The literal pair pass in scalar wasm takes tens of seconds
                # on a busy machine: a long wait, not a measure of speed.
                for kind, fast in kinds:
                    self.assertEqual(pinned[kind],
                                     b.evaluate(f"window.lumenvortexScripted.hash({fast}, {frames})", timeout=600),
                                     f"{kind}, {target}")
                self.assertEqual([], b.errors)

    def test_each_mode_matches_the_native_gles_frame(self):
        """lv-snapshot's frame 300 of each mode (the scripted run on a
        virtual clock, frame n at n / 60 s), drawn by the ES renderer natively
        on llvmpipe and in the page on SwiftShader, compared by PSNR over RGB.

        The bound: the same state drawn by the two rasterisers differs only
        at the edges of sprites and ribbons (multisample patterns, shader
        float precision): 45.6 dB in the worst mode when this was written,
        59 dB in the best. Drawing the frame before instead (the field one
        60th of a second on) gives 14 to 22.5 dB; a wrong mode or scene less.
        35 dB lies between the two with room on both sides."""
        snapshot = os.path.join(os.environ.get("LV_BINARY_DIR", os.path.join(ROOT, "build")), "bin", "lv-snapshot")
        if not os.path.exists(snapshot):
            self.skipTest(f"no {snapshot} to draw the native frames: build lv-snapshot")
        native = os.path.join(self.site.root, "native")
        subprocess.run([snapshot, native, "--renderer", "gles", "--frame", "300"], check=True,
                       stdout=subprocess.DEVNULL)
        width, height = 1120, 700   # lv-snapshot's canvas
        with browser(width, height) as chromium:
            b = chromium.open(self.site.url + f"?scripted&width={width}&height={height}")
            wait(b, "window.lumenvortexScripted", what="the scripted run's page")
            for mode in range(7):
                psnr = b.evaluate(f"({PSNR_JS})({mode}, 300)")
                print(f"mode {mode}: {psnr:.1f} dB against the native frame")
                self.assertGreater(psnr, 35.0, f"mode {mode}")
            self.assertEqual([], b.errors)

    def test_v_records_what_is_drawn_with_its_sound(self):
        if not bundled("recorder.js"):
            self.skipTest("the recorder (web/js/recorder.js) is not bundled in this build")
        with browser() as chromium:
            b = chromium.open(self.site.url + "?play=tone.ogg")
            # A browser without File System Access: the recording is held in
            # memory, and the page says for how long it can be.
            self.start_recording(b)
            self.assertRegex(b.evaluate("document.getElementById('message').textContent"),
                             r"stops by itself after about 7 min \d+ s")
            time.sleep(5)   # five seconds of recording; the file's own clock is checked below
            b.press("v")
            wait(b, "window.lumenvortex.lastRecording", what="v again: the recording saved")
            data = read_blob(b, "window.lumenvortex.lastRecording")
            self.assertEqual([], b.errors)
        probe = self.probe(data)
        video = next(s for s in probe["streams"] if s["codec_type"] == "video")
        self.assertEqual((1280, 720), (video["width"], video["height"]))
        self.assertGreater(float(probe["format"]["duration"]), 4.0)

    def probe(self, data, name="recording"):
        """ffprobe's view of a recording's bytes; both streams must be there."""
        path = os.path.join(self.site.root, name)
        with open(path, "wb") as f:
            f.write(data)
        probe = json.loads(subprocess.run(["ffprobe", "-v", "error", "-show_streams", "-show_format", "-of", "json",
                                           path], check=True, capture_output=True, text=True).stdout)
        self.assertEqual(["audio", "video"], sorted(stream["codec_type"] for stream in probe["streams"]))
        probe["path"] = path
        return probe

    def start_recording(self, b, picker=None, press=1):
        """v on a playing page (`press` times, quickly); `picker` stands in
        for the browser's save dialog (JavaScript giving a file handle),
        none: a browser without File System Access."""
        wait(b, "window.lumenvortex.playing && window.lumenvortex.frames > 5", what="the sound playing")
        if picker:
            b.evaluate(f"window.showSaveFilePicker = {picker}")
        else:
            b.evaluate("delete Window.prototype.showSaveFilePicker; delete window.showSaveFilePicker")
        for _ in range(press):
            b.press("v")
        wait(b, "window.lumenvortex.recording", what="v: recording")

    def test_v_streams_into_the_file_picked(self):
        if not bundled("recorder.js"):
            self.skipTest("the recorder (web/js/recorder.js) is not bundled in this build")
        with browser() as chromium:
            b = chromium.open(self.site.url + "?play=tone.ogg")
            # Headless chromium cannot show the save dialog: a file of the
            # origin's private file system stands in for the one a visitor
            # picks (the same FileSystemFileHandle, written the same way).
            self.start_recording(b, "async () => (await navigator.storage.getDirectory())"
                                    ".getFileHandle('picked.webm', { create: true })")
            self.assertIn("Recording into picked.webm", b.evaluate("document.getElementById('message').textContent"))
            time.sleep(3)
            b.press("v")
            wait(b, "document.getElementById('message').textContent.startsWith('Recording saved to picked.webm')",
                 what="v again: the file closed")
            self.assertIsNone(b.evaluate("window.lumenvortex.lastRecording"))
            data = read_blob(b, "(async () => (await (await navigator.storage.getDirectory())"
                                ".getFileHandle('picked.webm')).getFile())()")
            self.assertEqual([], b.errors)
        self.assertGreater(float(self.probe(data)["format"]["duration"]), 2.0)

    def test_recording_follows_a_switch_of_source_and_stops_saying_so_at_its_bound(self):
        if not bundled("recorder.js"):
            self.skipTest("the recorder (web/js/recorder.js) is not bundled in this build")
        with browser() as chromium:
            b = chromium.open(self.site.url + "?play=tone.ogg")
            # Counts the encoders made: two quick v presses once started two
            # recorders, and the third stopped only one.
            b.evaluate("""(() => { window.videoEncoders = 0;
                const Made = VideoEncoder;
                window.VideoEncoder = class extends Made {
                  constructor(...a) { super(...a); window.videoEncoders++; } }; })()""")
            self.start_recording(b, press=2)
            time.sleep(2)
            # From the file to the microphone (chromium's fake one beeps).
            b.evaluate("document.getElementById('use-mic').click()")
            wait(b, "window.lumenvortex.title === 'Microphone'", what="the microphone in use")
            time.sleep(3)
            b.press("v")
            wait(b, "window.lumenvortex.lastRecording", what="v again: the recording saved")
            self.assertEqual(1, b.evaluate("window.videoEncoders"))
            data = read_blob(b, "window.lumenvortex.lastRecording")

            # A recording held in memory stops at its bound, and says so.
            b.evaluate("""import('./js/recorder.js').then(({ Recorder }) => {
                const start = Recorder.prototype.start;
                Recorder.prototype.start = function () { this.maxBytes = 60000; return start.call(this); }; })""")
            b.press("v")
            wait(b, "document.getElementById('message').textContent.startsWith('Recording stopped at')",
                 what="the bound reached, said")
            self.assertFalse(self.status(b)["recording"])
            b.press("v")
            wait(b, "/^Recording saved[.] It stopped at/.test(document.getElementById('message').textContent)",
                 what="the cut recording saved, said")
            self.assertEqual([], b.errors)
        # The microphone's beeps are in the recording's last seconds.
        probe = self.probe(data)
        duration = float(probe["format"]["duration"])
        tail = subprocess.run(["ffmpeg", "-v", "info", "-ss", str(duration - 2), "-i", probe["path"], "-vn",
                               "-af", "volumedetect", "-f", "null", "-"], capture_output=True, text=True).stderr
        found = re.search(r"max_volume: (-?[\d.]+) dB", tail)   # none: no sound at all there
        peak = float(found.group(1)) if found else -999.0
        self.assertGreater(peak, -40.0, "the sound after the switch to the microphone")

    def test_play_parameter_refuses_another_site(self):
        with browser() as chromium:
            b = chromium.open(self.site.url + "?play=http://example.invalid/song.mp3")
            wait(b, "window.lumenvortex.error !== ''", what="a refusal")
            self.assertIn("?play= takes a file of this site", self.status(b)["error"])
            self.assertFalse(self.status(b)["playing"])
            # A file of this site that sends the browser to another.
            b = chromium.open(self.site.url + "?play=away.ogg")
            wait(b, "window.lumenvortex.error !== ''", what="a refusal of the redirect")
            self.assertIn("another site: ?play= takes files of this site", self.status(b)["error"])
            self.assertFalse(self.status(b)["playing"])

    def test_microphone_is_heard(self):
        with browser() as chromium:
            b = chromium.open(self.site.url)
            wait(b, "window.lumenvortex.frames > 2", what="the page starting")
            b.evaluate("document.getElementById('use-mic').click()")
            wait(b, "window.lumenvortex.title === 'Microphone' && window.lumenvortex.playing",
                 what="the microphone in use")
            # chromium's fake capture device beeps: the beeps reach the analysis.
            wait(b, "window.lumenvortex.level > 0.001", what="the microphone's sound reaching the analysis")
            self.assertEqual([], b.errors)


if __name__ == "__main__":
    if not shutil.which("emcc"):
        print("skipped: no emscripten to build the page (apt-get install emscripten, or run scripts/setup)")
        sys.exit(SKIP)
    if not shutil.which("chromium") and not shutil.which("chromium-browser"):
        print("skipped: no chromium (apt-get install chromium, or run scripts/setup)")
        sys.exit(SKIP)
    if not os.path.exists(os.path.join(PAGE, "lumenvortex.wasm")):
        sys.exit(f"{PAGE} has no page: run scripts/web")
    unittest.main(verbosity=2)
