#!/usr/bin/python3
"""The page's tag reader in headless chromium, on files ffmpeg makes here:
exact tags in scripts of every direction, the cover's bytes, and the
stand-in title for files with no tags or no sense in them.

    tags_test.py BUNDLE_DIR   (BUNDLE_DIR holds tags.js from web/build-js.sh)
"""

import base64
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import cdp  # noqa: E402

BUNDLES = None

TAGS = {"title": "Nachtfahrt — Ünïcode 🌙", "artist": "שלום עולם", "album": "東京 Tracks"}

# Every file goes through the module as the page would use it: fetched
# whole, then read with its name.
READ_ALL = """
(async (names) => {
  const { readTags } = await import('/tags.js');
  const base64 = (bytes) => new Promise((resolve) => {
    const reader = new FileReader();
    reader.onload = () => resolve(reader.result.slice(reader.result.indexOf(',') + 1));
    reader.readAsDataURL(new Blob([bytes]));
  });
  const out = {};
  for (const name of names) {
    const file = await (await fetch('/media/' + encodeURIComponent(name))).arrayBuffer();
    const t = await readTags(file, name);
    out[name] = { title: t.title, artist: t.artist, album: t.album, problems: t.problems,
                  cover: t.cover && { mime: t.cover.mime, bytes: await base64(t.cover.bytes) } };
    // A dropped File is read in place, without loading it whole first.
    const f = await readTags(new File([file], name), name);
    out[name].sameFromFile = JSON.stringify([f.title, f.artist, f.album, f.cover && await base64(f.cover.bytes)]) ===
                             JSON.stringify([t.title, t.artist, t.album, out[name].cover && out[name].cover.bytes]);
  }
  return out;
})(%s)
"""


def ffmpeg(*args):
    subprocess.run(["ffmpeg", "-v", "error", "-y", *args], check=True)


def id3v23_with_picture(picture):
    """An ID3v2.3 tag with a title and one APIC frame, written by hand only
    because no tool here writes a cover bigger than any real one."""
    def frame(frame_id, body):
        return frame_id.encode() + struct.pack(">I", len(body)) + b"\0\0" + body
    body = frame("TIT2", b"\0Big Sleeve") + frame("APIC", b"\0image/png\0\x03\0" + picture)
    size = len(body)
    syncsafe = bytes([(size >> 21) & 0x7F, (size >> 14) & 0x7F, (size >> 7) & 0x7F, size & 0x7F])
    return b"ID3\x03\0\0" + syncsafe + body


class TagsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="lv-web-tags-")
        media = os.path.join(cls.root, "media")
        os.mkdir(media)
        shutil.copy(os.path.join(BUNDLES, "tags.js"), cls.root)
        with open(os.path.join(cls.root, "index.html"), "w") as f:
            f.write("<!doctype html><meta charset=utf-8><link rel=icon href='data:,'><title>tags</title>")
        cls.png = os.path.join(cls.root, "cover.png")
        cls.jpg = os.path.join(cls.root, "cover.jpg")
        ffmpeg("-f", "lavfi", "-i", "testsrc=s=64x48", "-frames:v", "1", cls.png)
        ffmpeg("-f", "lavfi", "-i", "testsrc=s=80x60", "-frames:v", "1", cls.jpg)
        tags = [a for k, v in TAGS.items() for a in ("-metadata", f"{k}={v}")]
        tone = ["-f", "lavfi", "-i", "sine=f=440:d=1"]
        cover = ["-map", "0", "-map", "1", "-c:v", "copy", "-disposition:v", "attached_pic"]
        ffmpeg(*tone, "-i", cls.png, *cover, *tags, "-id3v2_version", "3", os.path.join(media, "tagged.mp3"))
        ffmpeg(*tone, "-i", cls.jpg, *cover, *tags, os.path.join(media, "tagged.flac"))
        ffmpeg(*tone, "-i", cls.png, *cover, *tags, os.path.join(media, "tagged.m4a"))
        ffmpeg(*tone, *tags, os.path.join(media, "tagged.opus"))
        bare = os.path.join(media, "Night Drive.v2.mp3")
        ffmpeg(*tone, "-map_metadata", "-1", "-write_id3v2", "0", "-fflags", "+bitexact", bare)
        with open(os.path.join(media, "not music.flac"), "wb") as f:
            f.write(b"fLaC" + bytes(range(256)) * 64)
        # One byte past the bound: the sleeve is refused, the title kept.
        with open(bare, "rb") as f:
            audio = f.read()
        huge = b"\x89PNG\r\n\x1a\n" + bytes(64 * 1024 * 1024 + 1 - 8)
        with open(os.path.join(media, "huge cover.mp3"), "wb") as f:
            f.write(id3v23_with_picture(huge) + audio)
        names = sorted(os.listdir(media))
        with cdp.StaticServer(cls.root) as server, cdp.Chromium() as browser:
            page = browser.open(server.url("/index.html"))
            cls.read = page.evaluate(READ_ALL % names, timeout=120)
            cls.errors = page.errors

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root, ignore_errors=True)

    def cover_bytes(self, name):
        return base64.b64decode(self.read[name]["cover"]["bytes"])

    def test_tags_and_cover_of_each_kind_of_tag(self):
        # ID3v2, FLAC's Vorbis comments and picture block, MP4 atoms, and
        # Vorbis comments in Ogg (which ffmpeg gives no cover).
        for name, picture, mime in (("tagged.mp3", self.png, "image/png"), ("tagged.flac", self.jpg, "image/jpeg"),
                                    ("tagged.m4a", self.png, "image/png"), ("tagged.opus", None, None)):
            with self.subTest(name):
                got = self.read[name]
                self.assertEqual({k: got[k] for k in TAGS}, TAGS)
                self.assertEqual(got["problems"], [])
                if picture is None:
                    self.assertIsNone(got["cover"])
                    continue
                self.assertEqual(got["cover"]["mime"], mime)
                with open(picture, "rb") as f:
                    self.assertEqual(self.cover_bytes(name), f.read())

    def test_file_without_tags_is_named_by_its_file(self):
        got = self.read["Night Drive.v2.mp3"]
        self.assertEqual((got["title"], got["artist"], got["album"], got["cover"]), ("Night Drive.v2", "", "", None))

    def test_file_that_is_not_music_is_named_by_its_file_and_says_why(self):
        got = self.read["not music.flac"]
        self.assertEqual((got["title"], got["cover"]), ("not music", None))
        self.assertEqual(len(got["problems"]), 1)
        self.assertIn("no tags read from not music.flac", got["problems"][0])

    def test_cover_over_the_native_bound_is_refused(self):
        got = self.read["huge cover.mp3"]
        self.assertEqual((got["title"], got["cover"]), ("Big Sleeve", None))
        self.assertEqual(len(got["problems"]), 1)
        self.assertIn("67108865 bytes", got["problems"][0])

    def test_a_file_reads_as_its_bytes_do(self):
        for name, got in self.read.items():
            with self.subTest(name):
                self.assertTrue(got["sameFromFile"])

    def test_page_logs_no_error(self):
        self.assertEqual(self.errors, [])


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit("usage: tags_test.py BUNDLE_DIR (from web/build-js.sh)")
    BUNDLES = sys.argv.pop(1)
    unittest.main()
