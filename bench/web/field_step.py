#!/usr/bin/python3
"""The field's step in the page without drawing (?bench=field), in Debian's
headless chromium: each build of the module (scalar, SIMD, SIMD with the
helper thread on a cross-origin isolated page) at 525, 2000 and 5000
particles, noise flow off and on, the median of each run's frames
(window.lumenvortex.stepMs). Builds nothing: run scripts/web first.

    /usr/bin/python3 bench/web/field_step.py [frames per run] [runs]
"""
import os
import statistics
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "web"))
from app_test import ISOLATION  # noqa: E402
from cdp import StaticServer  # noqa: E402
from page_test import Site, browser, wait  # noqa: E402

FRAMES = int(sys.argv[1]) if len(sys.argv) > 1 else 100
RUNS = int(sys.argv[2]) if len(sys.argv) > 2 else 3


def main():
    site = Site()
    try:
        with StaticServer(site.root, headers=ISOLATION) as isolated, browser() as chromium:
            # The site is isolated from the second visit on (its service worker):
            # the build without threads is asked for by name.
            builds = (("scalar", site.url + "?simd=0"), ("simd", site.url + "?threads=0"),
                      ("simd-mt", isolated.url("/?")))
            print("| Particles | Flow | " + " | ".join(f"{name} ms" for name, _ in builds) + " |")
            print("|---:|:---:|" + "---:|" * len(builds))
            for flow in (0, 1):
                for particles in (525, 2000, 5000):
                    cells = []
                    for name, url in builds:
                        medians = []
                        for _ in range(RUNS):
                            b = chromium.open(url + f"&bench=field&particles={particles}&flow={flow}&frames={FRAMES}")
                            wait(b, "window.lumenvortex.stepMs > 0", f"the {name} step", timeout=1200)
                            result = b.evaluate("window.lumenvortex")
                            assert result["build"] == name, result
                            medians.append(result["stepMs"])
                            b.send("Page.close")
                        cells.append(f"{statistics.median(medians):.2f}")
                    print(f"| {particles} | {'on' if flow else 'off'} | " + " | ".join(cells) + " |", flush=True)
    finally:
        site.close()


if __name__ == "__main__":
    main()
