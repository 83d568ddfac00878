"""Browsing a unit directly, through an nginx reverse proxy and through
tav, in one run on a private network (root only): the load event of the
gallery page (20 images, 2 frames) in headless Chromium with its cache off,
one GET's time to first byte, and the rate of a 20 MB binary after its
first byte. Install nginx and build first (scripts/setup.sh build demo
bench; scripts/build.sh release), then
    python3 bench/browse_bench.py [build/release]"""

import os
import statistics
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import gallery_site  # noqa: E402

RUNS = 15
GETS = 50


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        gallery_site.SOURCE_DIR, "build", "release")
    g = gallery_site.Gallery(build)
    try:
        browser = gallery_site.no_cache(g.browser)
        ways = [w for w in ("direct", "nginx", "tav") if w in g.base]
        # The ways take turns, so that a busy machine slows each alike.
        loads, ttfb, rates = ({w: [] for w in ways} for _ in range(3))
        for way in ways:
            gallery_site.load(browser, g.base[way] + "index.htm")  # warm-up
        for _ in range(RUNS):
            for way in ways:
                loads[way].append(
                    gallery_site.load(browser, g.base[way] + "index.htm"))
        for _ in range(GETS):
            for way in ways:
                ttfb[way].append(
                    gallery_site.first_byte_ms(g.base[way] + "page.htm"))
        for _ in range(3):
            for way in ways:
                rates[way].append(
                    gallery_site.rate_mb_s(g.root[way] + "big.bin"))
        shown = (gallery_site.IMAGES, gallery_site.FRAMES)
        rows = {w: (statistics.median(x[0] for x in loads[w]),
                    statistics.median(ttfb[w]),
                    max(r for _, r in rates[w]),
                    sum(x[1:] != shown for x in loads[w]),
                    min(n for n, _ in rates[w])) for w in ways}
        print(f"{'':8} {'page load ms':>13} {'x direct':>9} "
              f"{'first byte ms':>14} {'20 MB MB/s':>11} {'bad loads':>10}")
        for way in ways:
            load, ttfb, rate, bad, size = rows[way]
            print(f"{way:8} {load:13.1f} {load / rows['direct'][0]:9.2f} "
                  f"{ttfb:14.2f} {rate:11.0f} {bad:10d}")
        print(f"(median of {RUNS} loads and {GETS} GETs, best of 3 binaries of "
              f"at least {size} bytes)")
    finally:
        g.close()


if __name__ == "__main__":
    main()
