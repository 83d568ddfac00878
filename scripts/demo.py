"""The demo: tav's normal run on a private network of simulated units.

    scripts/demo.py [--build DIR] [--headless | --desktop] [--out DIR]

The network has two subnets behind a router with a RIP responder, IP units
on both and IPX units (in real Ethernet frames, one of each frame type) on
the host's subnet, as root in named namespaces and otherwise inside a user
namespace; where namespaces cannot be made there, only the loopback, with
IP and IPX units on 127.0.0.x (no router, no second subnet, IPX over IPv4). Without a display the browser is headless Chromium: the
demo prints what it saw, saves screenshots, closes it and tav ends. At a
desktop a browser window opens (Chromium with a fresh profile, or $BROWSER);
closing it ends tav. Everything is torn down at the end."""

import argparse
import os
import shutil
import signal
import sys
import tempfile
import time

sys.dont_write_bytecode = True  # no caches in the source tree

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import tavnet  # noqa: E402
import tavsite  # noqa: E402


def say(text=""):
    print(("demo: " + text) if text else "", flush=True)


def show_headless(site, out_dir):
    browser = site.browser(timeout=180)
    shown_at = time.time()
    page = browser.first_page()
    page.wait_for("document.readyState === 'complete' && "
                  "document.links.length > 0", 60, what="the discovery page")
    say(f"the browser shows {page.url()}:")
    for line in page.evaluate("document.body.innerText").splitlines():
        if line.strip():
            print("    " + line)
    shots = [page.screenshot(os.path.join(out_dir, "discovery-page.png"))]

    unit = next(u for u in site.units if u.kind == "ipx")
    link = unit.link(site.gateway)
    page.click_link(link)
    say(f"clicked {unit.name}: {page.url()} (through tav's gateway)")
    print(f"    title: {page.evaluate('document.title')}")
    for href in page.evaluate("[...document.links].map(a => a.href)")[:4]:
        print(f"    link:  {href}")
    image = page.evaluate(
        "performance.getEntriesByType('resource').map(e => e.toJSON())"
        ".find(e => e.name.endsWith('.gif'))")
    if image:
        print(f"    image: {image['name']}: status "
              f"{image.get('responseStatus')}, "
              f"{image.get('encodedBodySize')} bytes")
    shots.append(page.screenshot(os.path.join(out_dir, "unit-page.png")))
    say("screenshots saved: " + ", ".join(shots))
    # A browser that ends within 10 s of its start has handed the page to
    # another one, and tav then goes on serving: close it after that.
    time.sleep(max(0.0, 11 - (time.time() - shown_at)))
    say("closing the browser")
    browser.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    root = os.path.dirname(HERE)
    parser.add_argument("--build", default=os.path.join(root, "build", "debug"))
    parser.add_argument("--out", default=os.path.join(root, "build", "demo"))
    mode = parser.add_mutually_exclusive_group()
    desktop = bool(os.environ.get("DISPLAY") or
                   os.environ.get("WAYLAND_DISPLAY"))
    mode.add_argument("--headless", dest="desktop", action="store_false")
    mode.add_argument("--desktop", dest="desktop", action="store_true")
    parser.set_defaults(desktop=desktop)
    args = parser.parse_args()

    problem = tavnet.enter_private_namespace()
    if problem:
        sys.exit(f"demo: no private network namespace ({problem}); "
                 "as a user other than root the kernel must allow user "
                 "namespaces (sysctl kernel.unprivileged_userns_clone=1)")
    os.makedirs(args.out, exist_ok=True)
    work = tempfile.mkdtemp(prefix="tav-demo-")
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(3))
    site = tavsite.Site(args.build, work, True, headless=not args.desktop)
    failure = None
    try:
        try:
            site.build_network()
        except RuntimeError as e:
            say(f"{e}; falling back to the loopback")
            site.close()
            site = tavsite.Site(args.build, work, False,
                                headless=not args.desktop)
            site.build_network()
        if site.full:
            say("private network: 10.77.1.0/24 (this host 10.77.1.10, "
                "router .1, RIP responder .2) and 10.77.2.0/24 behind the "
                "router")
        else:
            say("loopback only (units on 127.0.0.x; no router, no second "
                "subnet, IPX mapped onto IPv4)")
        site.start_units()
        for u in site.units:
            say(f"  {u.kind.upper():3} unit {u.name:10} at {u.address:12} "
                f"{u.shown}")
        own = not args.desktop or (not os.environ.get("BROWSER") and
                                    shutil.which("chromium") is not None)
        site.start_tav(own_browser=own)
        say(f"tav runs (discovery takes about 15 s); output in "
            f"{site.tav_log}, diagnostics in {site.debug_log}")
        if args.desktop:
            say("a browser window opens on the discovery page; it reaches "
                "only the simulated network. Close it to end the demo.")
            status = site.tav.wait()
        else:
            show_headless(site, args.out)
            status = site.wait_tav(60)
        say(f"tav ended with exit status {status}; discovery page "
            f"{'still there' if os.path.exists(site.page_path) else 'removed'}"
            f", help page "
            f"{'still there' if os.path.exists(site.help_path) else 'removed'}")
        if status != 1:
            print(site.tav_output()[-2000:])
            return 1
        return 0
    except KeyboardInterrupt:
        say("interrupted")
        return 130
    except Exception as e:  # shown last, after the places to look
        failure = e
        if site.tav:
            print(site.tav_output()[-2000:])
            say(f"working files kept in {work}")
        return 1
    finally:
        site.close()
        say("simulated units stopped, network torn down")
        if failure:
            say(f"failed: {failure}")


if __name__ == "__main__":
    sys.exit(main())
