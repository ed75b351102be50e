#!/usr/bin/python3
"""The page's frames per second in Debian's headless chromium (WebGL 2 on
SwiftShader, 1280 x 720), with the demo song playing, at 525 and 5000
particles, in each mode. Builds nothing: run scripts/web first.

    /usr/bin/python3 bench/web/page_fps.py [seconds per figure]
"""
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "web"))
from page_test import Site, browser, wait  # noqa: E402

SECONDS = float(sys.argv[1]) if len(sys.argv) > 1 else 6.0


def fps_over(b, seconds):
    first, t0 = b.evaluate("window.lumenvortex.frames"), time.monotonic()
    time.sleep(seconds)
    return (b.evaluate("window.lumenvortex.frames") - first) / (time.monotonic() - t0)


def main():
    site = Site()
    try:
        with browser(1280, 720) as chromium:
            b = chromium.open(site.url)
            wait(b, "window.lumenvortex.frames > 5", "the page starting")
            b.evaluate("document.getElementById('play-demo').click()")
            wait(b, "window.lumenvortex.playing", "the demo playing")
            print(f"renderer: {b.evaluate('window.lumenvortex.renderer')}")
            print(f"canvas: {b.evaluate('canvas.width')} x {b.evaluate('canvas.height')}")
            b.press("c")   # the demo starts over every 30 s: no mode change with it
            print("| Particles | Mode | fps |\n|---:|---:|---:|")
            modes = b.evaluate("window.lumenvortex.modes")
            for particles in (525, 5000):
                while b.evaluate("window.lumenvortex.particles") < particles:
                    b.press("a")
                # The field grows a few particles a frame: in the quickest
                # mode (1, sprites only) it gets there soonest.
                while b.evaluate("window.lumenvortex.mode") != 1:
                    b.press("m")
                wait(b, f"window.lumenvortex.alive >= {particles}", "the field grown", timeout=1200)
                for mode in range(modes):
                    while b.evaluate("window.lumenvortex.mode") != mode:
                        b.press("m")
                    time.sleep(1.0)
                    print(f"| {b.evaluate('window.lumenvortex.alive')} | {mode} | {fps_over(b, SECONDS):.1f} |",
                          flush=True)
    finally:
        site.close()


if __name__ == "__main__":
    main()
