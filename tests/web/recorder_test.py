#!/usr/bin/python3
"""The page's recorder in headless chromium: five seconds of an animated
canvas and a 440 Hz tone, checked with ffprobe and ffmpeg as a viewer's
player would see them: both streams there, the length right, the picture
moving and not black, the tone audible at its pitch.

    recorder_test.py BUNDLE_DIR   (BUNDLE_DIR holds recorder.js from web/build-js.sh)
"""

import base64
import json
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cdp  # noqa: E402

BUNDLES = None
SECONDS = 5
TONE_HZ = 440
BOUND = 40000   # bytes: about a second of this canvas and tone

# A blue canvas with a red square crossing it: any recorded frame is mostly
# blue, and two frames a second apart differ. WebGL 2 as the visualizer
# draws, whose drawing buffer is gone once shown (no preserveDrawingBuffer).
PAGE = """<!doctype html><meta charset=utf-8><link rel=icon href='data:,'><title>recorder</title>
<canvas id=c width=640 height=360></canvas>
<script>
const canvas = document.getElementById('c');
const gl = canvas.getContext('webgl2');
const t0 = performance.now();
(function draw(now) {
  const x = Math.floor(((now - t0) / 10) % 600);
  gl.disable(gl.SCISSOR_TEST);
  gl.clearColor(0x10 / 255, 0x40 / 255, 0xc0 / 255, 1);
  gl.clear(gl.COLOR_BUFFER_BIT);
  gl.enable(gl.SCISSOR_TEST);
  gl.scissor(x, 140, 60, 80);
  gl.clearColor(0xe0 / 255, 0x20 / 255, 0x20 / 255, 1);
  gl.clear(gl.COLOR_BUFFER_BIT);
  requestAnimationFrame(draw);
})(t0);
</script>"""

RECORD = """
(async (capture) => {
  const { Recorder } = await import('/recorder.js');
  const audio = new AudioContext();
  await audio.resume();
  const tone = new OscillatorNode(audio, { frequency: %d });
  const gain = new GainNode(audio, { gain: 0.5 });
  tone.connect(gain).connect(audio.destination);
  tone.start();
  const canvas = document.getElementById('c');
  const support = await Recorder.supported({ width: canvas.width, height: canvas.height,
                                             sampleRate: audio.sampleRate });
  const recorder = new Recorder(canvas, audio, gain, { capture });
  const misuse = await recorder.stop().then(() => 'resolved', (e) => e.message);
  // A node of another context cannot feed this one: refused, nothing left running.
  const stranger = new Recorder(canvas, audio, new GainNode(new AudioContext()));
  const strangerStart = await stranger.start().then(() => 'started', (e) => e.message);
  const strangerState = stranger.state;
  if (!support.supported) {
    const refusal = await recorder.start().then(() => 'started', (e) => e.message);
    return { support, refusal, misuse, strangerStart, strangerState };
  }
  // Beside it, one bounded to far less than 5 s take, into MP4 where the
  // first went into WebM: both muxers are used.
  const mp4 = await Recorder.supported({ width: canvas.width, height: canvas.height,
                                         sampleRate: audio.sampleRate, container: 'mp4' });
  let limits = 0;
  const bounded = new Recorder(canvas, audio, gain, { maxBytes: %d, onLimit: () => limits++, capture,
                                                      container: mp4.supported ? 'mp4' : null });
  await Promise.all([recorder.start(), bounded.start()]);
  // The canvas turns square for the last second: the recording keeps its
  // own size and shows the square picture between bars.
  setTimeout(() => { canvas.width = canvas.height; }, %d - 1000);
  await new Promise((resolve) => setTimeout(resolve, %d));
  const [blob, boundedBlob] = await Promise.all([recorder.stop(), bounded.stop()]);
  const base64 = (blob) => new Promise((resolve) => {
    const reader = new FileReader();
    reader.onload = () => resolve(reader.result.slice(reader.result.indexOf(',') + 1));
    reader.readAsDataURL(blob);
  });
  return { support, misuse, strangerStart, strangerState, type: blob.type, bytes: await base64(blob),
           dropped: recorder.droppedFrames, truncated: recorder.truncated,
           bounded: { mp4, type: boundedBlob.type, bytes: await base64(boundedBlob), truncated: bounded.truncated, limits, counted: bounded.bytes } };
})
""" % (TONE_HZ, BOUND, SECONDS * 1000, SECONDS * 1000)


def probe(path):
    out = subprocess.run(["ffprobe", "-v", "error", "-show_streams", "-show_format", "-of", "json", path],
                         check=True, capture_output=True, text=True).stdout
    return json.loads(out)


def decode(path, *args):
    """The file decoded by ffmpeg; decoding errors fail the test."""
    r = subprocess.run(["ffmpeg", "-v", "error", "-i", path, *args, "-"], capture_output=True)
    if r.returncode != 0 or r.stderr.strip():
        raise AssertionError(f"ffmpeg could not decode {path}: {r.stderr.decode(errors='replace')}")
    return r.stdout


class RecorderTest(unittest.TestCase):
    """Frames and sound from the canvas's and the audio graph's media
    streams, as Chromium records."""
    CAPTURE = "stream"

    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="lv-web-recorder-")
        shutil.copy(os.path.join(BUNDLES, "recorder.js"), cls.root)
        with open(os.path.join(cls.root, "index.html"), "w") as f:
            f.write(PAGE)
        with cdp.StaticServer(cls.root) as server, cdp.Chromium() as browser:
            page = browser.open(server.url("/index.html"))
            cls.result = page.evaluate(f"{RECORD}('{cls.CAPTURE}')", timeout=120)
            cls.errors = page.errors
        cls.support = cls.result["support"]
        cls.file = None
        if cls.support["supported"]:
            cls.file = os.path.join(cls.root, "recording." + cls.support["container"])
            with open(cls.file, "wb") as f:
                f.write(base64.b64decode(cls.result["bytes"]))
        else:
            print(f"recorder_test: this chromium cannot record: {cls.support['reason']}", file=sys.stderr)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root, ignore_errors=True)

    def needs_recording(self):
        if not self.file:
            self.skipTest(f"this chromium cannot record: {self.support['reason']}")

    def test_support_answer_matches_what_start_does(self):
        if self.support["supported"]:
            self.assertIn((self.support["videoCodec"][:4], self.support["audioCodec"]),
                          {("vp09", "opus"), ("avc1", "mp4a.40.2"), ("avc1", "opus"), ("vp8", "opus")})
            self.assertEqual(self.result["type"], self.support["mime"])
        else:
            self.assertIn("cannot record: ", self.result["refusal"])
            self.assertIn(self.support["reason"], self.result["refusal"])
        self.assertIn("not recording: start() it first", self.result["misuse"])
        self.assertIn("cannot record: ", self.result["strangerStart"])
        self.assertEqual(self.result["strangerState"], "inactive")

    def test_file_has_video_and_sound_of_the_recorded_length(self):
        self.needs_recording()
        info = probe(self.file)
        codecs = sorted(s["codec_type"] + ":" + s["codec_name"] for s in info["streams"])
        self.assertEqual(len(codecs), 2, codecs)
        self.assertIn(codecs[0], ("audio:aac", "audio:opus"))
        self.assertIn(codecs[1], ("video:h264", "video:vp8", "video:vp9"))
        # The recording spans start() to stop(); the page's timer is not
        # exact, and a frame or an audio packet more or less is no fault.
        self.assertAlmostEqual(float(info["format"]["duration"]), SECONDS, delta=0.5)
        self.assertFalse(self.result["truncated"])

    def test_picture_moves_and_is_what_the_canvas_drew(self):
        self.needs_recording()
        frames = []
        for t in (1.0, 3.0):
            rgb = decode(self.file, "-ss", str(t), "-frames:v", "1", "-s", "64x36", "-f", "rawvideo",
                         "-pix_fmt", "rgb24")
            self.assertEqual(len(rgb), 64 * 36 * 3)
            blue = sum(rgb[2::3]) / (64 * 36)
            red = sum(rgb[0::3]) / (64 * 36)
            self.assertGreater(blue, 120, f"the frame at {t} s is not the blue canvas")
            self.assertLess(red, blue)
            frames.append(rgb)
        self.assertNotEqual(frames[0], frames[1], "the square did not move between 1 s and 3 s")

    def test_a_canvas_resized_while_recording_keeps_its_shape(self):
        self.needs_recording()
        rgb = decode(self.file, "-ss", str(SECONDS - 0.4), "-frames:v", "1", "-s", "64x36", "-f", "rawvideo",
                     "-pix_fmt", "rgb24")
        column = lambda x: sum(sum(rgb[(y * 64 + x) * 3:(y * 64 + x) * 3 + 3]) for y in range(36)) / 36
        self.assertLess(column(2), 40, "no bar left of the square picture")
        self.assertLess(column(61), 40, "no bar right of the square picture")
        # Near the top, above the red square's band.
        self.assertGreater(rgb[(2 * 64 + 32) * 3 + 2], 120, "the picture is not in the middle")

    def test_sound_is_the_tone(self):
        self.needs_recording()
        rate = 48000
        pcm = decode(self.file, "-vn", "-ac", "1", "-ar", str(rate), "-f", "s16le")
        samples = memoryview(pcm).cast("h")
        self.assertGreater(len(samples), (SECONDS - 0.5) * rate, "the sound track is shorter than the recording")
        middle = samples[rate:rate * 4]   # the tone's steady part, past any encoder start-up
        rms = (sum(s * s for s in middle) / len(middle)) ** 0.5
        self.assertGreater(rms, 3000, "the recording is (nearly) silent")
        crossings = sum(1 for a, b in zip(middle, middle[1:]) if (a < 0) != (b < 0))
        self.assertAlmostEqual(crossings / 2 / 3.0, TONE_HZ, delta=10)

    def test_bound_on_bytes_cuts_the_recording_short_and_whole(self):
        self.needs_recording()
        bounded = self.result["bounded"]
        self.assertTrue(bounded["truncated"])
        self.assertEqual(bounded["limits"], 1)
        self.assertLessEqual(bounded["counted"], BOUND)
        mp4 = bounded["mp4"]
        if mp4["supported"]:
            self.assertEqual(bounded["type"], "video/mp4")
        else:
            print(f"recorder_test: no MP4 here: {mp4['reason']}", file=sys.stderr)
        path = os.path.join(self.root, "bounded." + ("mp4" if mp4["supported"] else self.support["container"]))
        with open(path, "wb") as f:
            f.write(base64.b64decode(bounded["bytes"]))
        # The container comes on top of the samples: webm-muxer reserves 8 KiB
        # for each track's codec description, MP4 has its sample tables, and
        # each block and the index take a few bytes more.
        self.assertLess(os.path.getsize(path), BOUND + 24 * 1024)
        info = probe(path)
        self.assertEqual(sorted(s["codec_type"] for s in info["streams"]), ["audio", "video"])
        self.assertLess(float(info["format"]["duration"]), SECONDS - 1)
        # Captured frames come as they were drawn, not on a 30 fps grid: keep
        # their own timestamps, or ffmpeg's frame-rate conversion complains.
        decode(path, "-fps_mode", "passthrough", "-enc_time_base", "-1", "-f", "null")

    def test_page_logs_no_error(self):
        self.assertEqual(self.errors, [])


class PageCaptureRecorderTest(RecorderTest):
    """The canvas after each animation frame and the sound from an
    AudioWorklet, as browsers without media stream processors record."""
    CAPTURE = "page"


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit("usage: recorder_test.py BUNDLE_DIR (from web/build-js.sh)")
    BUNDLES = sys.argv.pop(1)
    unittest.main()
