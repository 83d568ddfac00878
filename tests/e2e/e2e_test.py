"""The whole program end to end: tav in its normal run on a private network
of simulated units, with headless Chromium as the browser that tav starts
through its HTML open command, driven over the remote debugging protocol.

One run of tav serves the whole class, so the tests run in the order of
their numbers: the page, a unit behind the gateway, links inside it, a unit
linked directly, the refresh with a unit started meanwhile, and last the
closing of the browser, which ends tav.

Needs root (network namespaces) and Debian's chromium. Screenshots go to
<build>/tests/e2e/artifacts. The run stops itself after 600 s
(TAV_E2E_TIME_LIMIT seconds when set)."""

import os
import shutil
import signal
import sys
import tempfile
import time
import unittest

sys.dont_write_bytecode = True  # no caches in the source tree

SOURCE_DIR = os.environ.get(
    "TAV_SOURCE_DIR",
    os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(
        __file__)))))
BUILD_DIR = os.environ.get("TAV_BUILD_DIR",
                           os.path.join(SOURCE_DIR, "build", "debug"))
sys.path.insert(0, os.path.join(SOURCE_DIR, "scripts"))

import tavnet  # noqa: E402
import tavsite  # noqa: E402

ARTIFACTS = os.path.join(BUILD_DIR, "tests", "e2e", "artifacts")
# The suite stops itself after this many seconds.
WHOLE_RUN_LIMIT_S = int(os.environ.get("TAV_E2E_TIME_LIMIT", "600"))


def why_not_runnable():
    if os.geteuid() != 0:
        return ("the end-to-end suite builds a network of namespaces and "
                "needs root: run it as root (scripts/test.sh does in CI)")
    return ""


class NormalRunTest(unittest.TestCase):
    site = None

    @classmethod
    def setUpClass(cls):
        reason = why_not_runnable()
        if reason:
            raise unittest.SkipTest(reason)
        # As root nothing may be missing: a skip would hide a broken CI.
        if not shutil.which("chromium"):
            raise AssertionError("chromium is not installed "
                                 "(scripts/setup.sh installs it)")
        for program in ("tav", "tav-sim"):
            if not os.access(os.path.join(BUILD_DIR, program), os.X_OK):
                raise AssertionError(f"{program} is not built in {BUILD_DIR}")
        problem = tavnet.enter_private_namespace()
        if problem:
            raise AssertionError("no private network namespace: " + problem)
        os.makedirs(ARTIFACTS, exist_ok=True)
        cls.work = tempfile.mkdtemp(prefix="tav-e2e-")
        cls.site = tavsite.Site(BUILD_DIR, cls.work, full=True)
        try:
            cls.site.build_network()
            cls.site.start_units()
            cls.site.start_tav()
            cls.browser = cls.site.browser(timeout=180)
            cls.page = cls.browser.first_page()
            cls.page.wait_for("document.readyState === 'complete' && "
                              "document.links.length > 0", 60,
                              what="the discovery page")
        except BaseException:
            cls.tearDownClass()
            raise
        cls.gateway = cls.site.gateway

    @classmethod
    def tearDownClass(cls):
        if cls.site:
            if cls.site.tav and cls.site.tav.poll() is None:
                print("\n--- tav's output:\n" + cls.site.tav_output()[-3000:],
                      file=sys.stderr)
            cls.site.close()
            cls.site = None
            print(f"working files (tav's output, debug log, simulator logs): "
                  f"{cls.work}", file=sys.stderr)

    # -- helpers ----------------------------------------------------------

    def shot(self, name):
        path = self.page.screenshot(os.path.join(ARTIFACTS, name))
        with open(path, "rb") as f:
            self.assertEqual(f.read(4), b"\x89PNG")
        print(f"\nscreenshot kept: {path}", file=sys.stderr)

    def links(self):
        return self.page.evaluate(
            "[...document.links].map(a => [a.href, a.textContent])")

    def open_discovery_page(self):
        self.page.navigate("file://" + self.site.page_path)

    def unit_links(self, units):
        return {u.link(self.gateway) for u in units}

    def page_units(self):
        """(link, text of the line) of each unit listed on the page."""
        lines = self.page.evaluate("document.body.innerText").splitlines()
        out = {}
        for href, text in self.links():
            if href.startswith("file:") or "$$Refresh$" in href:
                continue
            out[href] = next((l for l in lines if l.startswith(text)), "")
        return out

    def assert_lists_exactly(self, units):
        listed = self.page_units()
        self.assertEqual(set(listed), self.unit_links(units))
        for u in units:
            line = listed[u.link(self.gateway)]
            self.assertIn(u.name, line)
            self.assertTrue(line.rstrip().endswith(u.shown), line)

    def assert_on_gateway_for(self, unit):
        """Every link of the shown unit page that leads to the unit goes
        through the gateway under the unit's name."""
        prefix = f"http://{self.gateway}:34/{unit.name}"
        for href, _ in self.links():
            if href.startswith("javascript:") or "other.example" in href:
                continue
            self.assertTrue(href.startswith(prefix + "/") or
                            href.startswith(prefix + "-HTML/"), href)

    # -- the run ----------------------------------------------------------

    def test_1_page_lists_exactly_the_simulated_units(self):
        self.assertEqual(self.page.url(), "file://" + self.site.page_path)
        self.assert_lists_exactly(self.site.units)
        hrefs = [h for h, _ in self.links()]
        self.assertIn(f"http://{self.gateway}:34/$$Refresh$", hrefs)
        self.assertIn("file://" + self.site.help_path, hrefs)
        self.assertTrue(os.path.isfile(self.site.help_path))
        # The browser got the page's path as one argument, no quotes kept.
        with open(self.site.wrapper + ".arg") as f:
            self.assertEqual(f.read(), self.site.page_path + "\n")
        # IP units are linked directly, IPX units through the gateway.
        for u in self.site.units:
            self.assertEqual(u.link(self.gateway).startswith(
                f"http://{self.gateway}:34/"), u.kind == "ipx")
        self.shot("discovery-page.png")

    def test_2_ipx_unit_page_through_gateway_with_its_image(self):
        unit = next(u for u in self.site.units if u.name == "VEM_002345")
        self.open_discovery_page()
        self.page.click_link(unit.link(self.gateway))
        self.assertEqual(self.page.url(), unit.link(self.gateway))
        self.assertEqual(self.page.evaluate("document.title"), unit.name)
        # The image is fetched through the gateway, all of it.
        image = self.page.wait_for(
            "performance.getEntriesByType('resource').find(e => "
            "e.name.endsWith('/logo.gif') && e.responseEnd > 0)?.toJSON()", 30,
            what="the unit's image")
        self.assertEqual(image["name"],
                         f"http://{self.gateway}:34/{unit.name}/logo.gif")
        self.assertEqual(image["responseStatus"], 200)
        self.assertEqual(image["encodedBodySize"], 1234)
        # ... and it shows: the browser decoded the 32x16 picture.
        self.assertTrue(self.page.wait_for(
            "[...document.images].every(i => i.complete && "
            "i.naturalWidth === 32 && i.naturalHeight === 16)", 30,
            what="the unit's image to be decoded"))
        self.assert_on_gateway_for(unit)
        self.shot("unit-page-through-gateway.png")

    def test_3_links_inside_a_unit_page_stay_on_the_gateway(self):
        unit = next(u for u in self.site.units if u.name == "Stores")
        self.page.navigate(unit.link(self.gateway))
        self.page.click_link("/status.htm")
        self.assertEqual(self.page.url(),
                         f"http://{self.gateway}:34/Stores/status.htm")
        self.assertIn("Status of Stores: ready",
                      self.page.evaluate("document.body.innerText"))
        self.assert_on_gateway_for(unit)
        # Back to the unit's home page by its relative link, then by the
        # link that names the unit as host.
        self.page.click_link("/index.htm")
        self.assertEqual(self.page.evaluate("document.title"), "Stores")
        self.page.click_link("/dir/x.htm")
        self.assertEqual(self.page.url(),
                         f"http://{self.gateway}:34/Stores/dir/x.htm")

    def test_4_ip_unit_behind_the_router_is_linked_directly(self):
        unit = next(u for u in self.site.units if u.name == "Roof")
        self.open_discovery_page()
        self.page.click_link(unit.link(self.gateway))
        self.assertEqual(self.page.url(), unit.link(self.gateway))
        self.assertEqual(self.page.evaluate("document.title"), "Roof")
        # Not through the gateway: the unit's own links are untouched.
        self.assertIn(f"http://{unit.address}/status.htm",
                      [h for h, _ in self.links()])

    def test_5_refresh_finds_a_unit_started_meanwhile(self):
        # A mark in the help page's copy shows whether it is copied again.
        with open(self.site.help_path, "a") as f:
            f.write("<!-- kept -->\n")
        self.site.start_late_units()
        refresh = f"http://{self.gateway}:34/$$Refresh$"
        self.open_discovery_page()
        self.page.click_link(refresh)
        self.assertEqual(self.page.url(), refresh)
        self.assertEqual(self.page.evaluate("document.title"),
                         "TAV: searching")
        # Reloading answers "searching" until the rediscovery is done, then
        # once with the way to the rewritten page.
        deadline = time.time() + 180
        while self.page.evaluate("document.title") == "TAV: searching":
            self.assertLess(time.time(), deadline,
                            "the rediscovery did not finish within 180 s")
            time.sleep(3)
            self.page.navigate(refresh)
        self.assertEqual(self.page.evaluate("document.title"),
                         "TAV: search finished")
        page_url = "file://" + self.site.page_path
        self.assertIn(page_url, [h for h, _ in self.links()])
        self.page.navigate(page_url)
        self.assert_lists_exactly(self.site.units + self.site.late_units)
        self.shot("discovery-page-after-refresh.png")
        late = self.site.late_units[0]
        self.page.click_link(late.link(self.gateway))
        self.assertEqual(self.page.evaluate("document.title"), late.name)
        with open(self.site.help_path) as f:
            self.assertIn("<!-- kept -->", f.read(),
                          "the help page was copied again")

    def test_6_closing_the_browser_ends_tav_and_removes_the_pages(self):
        self.assertIsNone(self.site.tav.poll(), "tav ended early")
        self.browser.close()
        status = self.site.wait_tav(60)
        self.assertEqual(status, 1, "tav's exit status after the browser "
                         "closed; output:\n" + self.site.tav_output()[-2000:])
        self.assertFalse(os.path.exists(self.site.page_path))
        self.assertFalse(os.path.exists(self.site.help_path))


def main():
    # Bounded whatever happens: at the time limit, or when terminated, the
    # site is torn down (its namespaces would outlive the process) and the
    # run ends.
    def stop(reason):
        def handler(*_):
            print(f"e2e: {reason}: stopped", file=sys.stderr)
            NormalRunTest.tearDownClass()
            os._exit(1)
        return handler
    signal.signal(signal.SIGALRM,
                  stop(f"the run took over {WHOLE_RUN_LIMIT_S} s"))
    signal.signal(signal.SIGTERM, stop("terminated"))
    signal.alarm(WHOLE_RUN_LIMIT_S)
    result = unittest.main(verbosity=2, exit=False).result
    if not result.wasSuccessful():
        sys.exit(1)
    if result.skipped and result.testsRun <= len(result.skipped):
        print("e2e: skipped: " + result.skipped[0][1], file=sys.stderr)
        sys.exit(77)  # CTest's SKIP_RETURN_CODE


if __name__ == "__main__":
    main()
