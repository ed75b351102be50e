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
from browser import Browser  # noqa: E402
from page_test import Site  # noqa: E402

SECONDS = float(sys.argv[1]) if len(sys.argv) > 1 else 6.0


def fps_over(b, seconds):
    first, t0 = b.eval("window.lumenvortex.frames"), time.monotonic()
    time.sleep(seconds)
    return (b.eval("window.lumenvortex.frames") - first) / (time.monotonic() - t0)


def main():
    site = Site()
    try:
        with Browser(1280, 720) as b:
            b.open(site.url)
            b.wait_for("window.lumenvortex.frames > 5")
            b.eval("document.getElementById('play-demo').click()")
            b.wait_for("window.lumenvortex.playing")
            print(f"renderer: {b.eval('window.lumenvortex.renderer')}")
            print(f"canvas: {b.eval('canvas.width')} x {b.eval('canvas.height')}")
            b.key("c")   # the demo starts over every 30 s: no mode change with it
            print("| Particles | Mode | fps |\n|---:|---:|---:|")
            modes = b.eval("window.lumenvortex.modes")
            for particles in (525, 5000):
                while b.eval("window.lumenvortex.particles") < particles:
                    b.key("a")
                # The field grows a few particles a frame: in the quickest
                # mode (1, sprites only) it gets there soonest.
                while b.eval("window.lumenvortex.mode") != 1:
                    b.key("m")
                b.wait_for(f"window.lumenvortex.alive >= {particles}", timeout=1200, what="the field grown")
                for mode in range(modes):
                    while b.eval("window.lumenvortex.mode") != mode:
                        b.key("m")
                    time.sleep(1.0)
                    print(f"| {b.eval('window.lumenvortex.alive')} | {mode} | {fps_over(b, SECONDS):.1f} |",
                          flush=True)
    finally:
        site.close()


if __name__ == "__main__":
    main()
