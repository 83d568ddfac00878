"""The whole program end to end on a private network of simulated units: tav
in its normal run with headless Chromium as the browser it starts, driven
over the remote debugging protocol, and the gateway's refresh answers read
raw; then `tav -install` on the same network. The tests share the site and
run in the order of their numbers. Needs root and Debian's chromium.
Screenshots go to <build>/tests/e2e/artifacts. The run stops itself after
TAV_E2E_TIME_LIMIT seconds (600). Its working files (tav's output and
diagnostics) are removed afterwards unless TAV_E2E_KEEP is set."""

import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest

sys.dont_write_bytecode = True  # no caches in the source tree

SOURCE_DIR = os.environ.get("TAV_SOURCE_DIR", os.path.abspath(
    os.path.join(os.path.dirname(__file__), "..", "..")))
BUILD_DIR = os.environ.get("TAV_BUILD_DIR",
                           os.path.join(SOURCE_DIR, "build", "debug"))
sys.path.insert(0, os.path.join(SOURCE_DIR, "scripts"))

import tavnet  # noqa: E402
import tavsite  # noqa: E402
from tavsite import cdp  # noqa: E402

ARTIFACTS = os.path.join(BUILD_DIR, "tests", "e2e", "artifacts")


def catalogue(number, insert=""):
    """Text `number` of the catalogue, escapes resolved, %1 filled."""
    escapes = {"\\n": "\n", "\\r": "\r", "\\t": "\t", "\\\\": "\\"}
    with open(os.path.join(SOURCE_DIR, "catalogue", "resc.cat")) as f:
        lines = iter(f.read().split("\n"))
    for line in lines:
        key, _, value = line.partition(" = ")
        if key == str(number):
            if value == "<<<":
                value = "".join(l + "\n" for l in iter(lines.__next__, ">>>"))
            for k, v in escapes.items():  # no text of ours has a "\\n"
                value = value.replace(k, v)
            return value.strip(" ").replace("%1", insert)
    raise KeyError(number)


def enter_test_network(needs_browser):
    """Skips the calling test class unless run as root; checks that what
    the suite runs is there; moves this process into a private network
    namespace (see tavnet)."""
    if os.geteuid() != 0:
        raise unittest.SkipTest("the suite builds a network of "
                                "namespaces and needs root")
    # As root nothing may be missing: a skip would hide a broken CI.
    if needs_browser:
        assert shutil.which("chromium"), "chromium is missing (setup.sh)"
    for program in ("tav", "tav-sim"):
        assert os.access(os.path.join(BUILD_DIR, program), os.X_OK), \
            f"{program} is not built in {BUILD_DIR}"
    problem = tavnet.enter_private_namespace()
    assert not problem, "no private network namespace: " + problem


def close_site(site, work, keep="TAV_E2E_KEEP"):
    """Tears the site down, showing tav's output if it still ran, and
    removes the working files unless `keep` is set in the environment."""
    if site.tav and site.tav.poll() is None:
        print("\n--- tav's output:\n" + site.tav_output()[-3000:],
              file=sys.stderr)
    site.close()
    if os.environ.get(keep):
        print(f"working files: {work}", file=sys.stderr)
    else:
        shutil.rmtree(work, ignore_errors=True)


def fetch(host, path, timeout):
    """A raw GET through the gateway: (answer, seconds until it closed)."""
    start, answer = time.time(), b""
    with socket.create_connection((host, 34), timeout) as s:
        s.sendall(f"GET {path} HTTP/1.0\r\nAccept: */*\r\n\r\n".encode())
        while chunk := s.recv(4096):
            answer += chunk
    return answer, time.time() - start


class SiteTest(unittest.TestCase):
    """Tests on one site of simulated units, torn down after the last."""
    site, keep = None, "TAV_E2E_KEEP"

    @classmethod
    def tearDownClass(cls):
        if cls.site:
            close_site(cls.site, cls.work, cls.keep)
            cls.site = None


class NormalRunTest(SiteTest):

    @classmethod
    def setUpClass(cls):
        enter_test_network(needs_browser=True)
        os.makedirs(ARTIFACTS, exist_ok=True)
        cls.work = tempfile.mkdtemp(prefix="tav-e2e-")
        cls.site = tavsite.Site(BUILD_DIR, cls.work, full=True)
        try:
            cls.site.build_network()
            cls.site.start_units()
            cls.site.start_tav()
            cls.browser = cls.site.browser(timeout=180)
            cls.page = cls.browser.first_page()
            cls.page.wait_for(cdp.LISTED, 60, what="the discovery page")
        except BaseException:
            cls.tearDownClass()
            raise
        cls.gateway = cls.site.gateway
        cls.refresh = f"http://{cls.gateway}:34/$$Refresh$"

    # -- helpers ----------------------------------------------------------

    def shot(self, name):
        path = self.page.screenshot(os.path.join(ARTIFACTS, name))
        with open(path, "rb") as f:
            self.assertEqual(f.read(4), b"\x89PNG")
        print(f"\nscreenshot kept: {path}", file=sys.stderr)

    def links(self):
        return self.page.evaluate("[...document.links].map(a => a.href)")

    def assert_lists_exactly(self, units):
        lines = self.page.evaluate("document.body.innerText").splitlines()
        listed = {h: t for h, t in self.page.evaluate(
            "[...document.links].map(a => [a.href, a.textContent])")
            if not h.startswith("file:") and "$$Refresh$" not in h}
        self.assertEqual(set(listed), {u.link(self.gateway) for u in units})
        for u in units:
            text = listed[u.link(self.gateway)]
            line = next((l for l in lines if l.startswith(text)), "")
            self.assertIn(u.name, line)
            self.assertTrue(line.rstrip().endswith(u.shown), line)

    def assert_on_gateway_for(self, unit):
        prefix = f"http://{self.gateway}:34/{unit.name}"
        for href in self.links():
            if not href.startswith("javascript:") and "other." not in href:
                self.assertRegex(href, f"^{prefix}(-HTML)?/")

    def ask_refresh(self):
        """The gateway's raw answer to a refresh request."""
        return fetch(self.gateway, "/$$Refresh$", 30)[0].decode("latin-1")

    def wait_refresh_done(self):
        deadline = time.time() + 180
        while (answer := self.ask_refresh()) == catalogue(118):
            self.assertLess(time.time(), deadline, "rediscovery over 180 s")
            time.sleep(2)
        self.assertEqual(answer, catalogue(119, self.site.page_path))

    # -- the normal run ---------------------------------------------------

    def test_1_page_lists_exactly_the_simulated_units(self):
        self.assertEqual(self.page.url(), "file://" + self.site.page_path)
        self.assert_lists_exactly(self.site.units)
        self.assertIn(self.refresh, self.links())
        self.assertIn("file://" + self.site.help_path, self.links())
        self.assertTrue(os.path.isfile(self.site.help_path))
        # The browser got the page's path as one argument, no quotes kept.
        with open(self.site.wrapper + ".arg") as f:
            self.assertEqual(f.read(), self.site.page_path + "\n")
        self.shot("discovery-page.png")

    def test_2_ipx_unit_page_through_gateway_with_its_image(self):
        unit = next(u for u in self.site.units if u.name == "VEM_002345")
        self.page.navigate("file://" + self.site.page_path)
        self.page.click_link(unit.link(self.gateway))
        self.assertEqual(self.page.url(), unit.link(self.gateway))
        self.assertEqual(self.page.evaluate("document.title"), unit.name)
        image = self.page.wait_for(
            "performance.getEntriesByType('resource').find(e => "
            "e.name.endsWith('/logo.gif') && e.responseEnd > 0)?.toJSON()", 30,
            what="the unit's image")
        self.assertEqual(image["name"],
                         f"http://{self.gateway}:34/{unit.name}/logo.gif")
        self.assertEqual(image["responseStatus"], 200)
        self.assertEqual(image["encodedBodySize"], 1234)
        self.assertTrue(self.page.wait_for(
            "[...document.images].every(i => i.complete && "
            "i.naturalWidth === 32 && i.naturalHeight === 16)", 30,
            what="the unit's image to be decoded"))
        self.assert_on_gateway_for(unit)
        # The gateway leaves the unit's IPX address in its folder.
        self.assertEqual(os.path.getsize(
            os.path.join(self.site.work_dir, "address")), 14)
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
        # Back by its relative link, then by the link naming the unit.
        self.page.click_link("/index.htm")
        self.assertEqual(self.page.evaluate("document.title"), "Stores")
        self.page.click_link("/dir/x.htm")
        self.assertEqual(self.page.url(),
                         f"http://{self.gateway}:34/Stores/dir/x.htm")

    def test_5_refresh_finds_a_unit_started_meanwhile(self):
        # A mark in the help page's copy shows whether it is copied again.
        with open(self.site.help_path, "a") as f:
            f.write("<!-- kept -->\n")
        self.site.start_late_units()
        # The first request starts the rediscovery, the next while it runs
        # starts none; once done the answer leads to the rewritten page.
        self.page.navigate("file://" + self.site.page_path)
        self.page.click_link(self.refresh)
        self.assertEqual(self.page.evaluate("document.title"),
                         "TAV: searching")
        self.assertEqual(self.ask_refresh(), catalogue(118))
        self.wait_refresh_done()
        self.page.navigate("file://" + self.site.page_path)
        self.assert_lists_exactly(self.site.units + self.site.late_units)
        self.shot("discovery-page-after-refresh.png")
        self.page.click_link(self.site.late_units[0].link(self.gateway))
        self.assertEqual(self.page.evaluate("document.title"), "Mailroom")
        with open(self.site.help_path) as f:
            self.assertTrue("<!-- kept -->" in f.read(), "help copied again")
        self.assertEqual(sorted(os.listdir(self.site.page_dir)),
                         ["tav-disc.htm", "tavhelp.htm"])
        # The next request starts a new rediscovery; it ends before the
        # browser does, so that nothing writes the page once it is gone.
        self.assertEqual(self.ask_refresh(), catalogue(118))
        self.wait_refresh_done()

    def test_6_closing_the_browser_ends_tav_and_removes_the_pages(self):
        self.assertIsNone(self.site.tav.poll(), "tav ended early")
        self.browser.close()
        self.assertEqual(self.site.wait_tav(60), 1, self.site.tav_output())
        self.assertFalse(os.path.exists(self.site.page_path))
        self.assertFalse(os.path.exists(self.site.help_path))

    # -- install mode on the same network ----------------------------------

    def test_7_install_writes_the_ip_units_in_name_order(self):
        data = tempfile.mkdtemp(prefix="data-", dir=self.work)
        with open(data + ".reg", "w") as f:
            f.write("REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\ZID-AVU\\TAV"
                    f'\\4.00]\n"Data File Directory"="{data}"\n'
                    '"Enable IPX Search"="No"\n')
        r = subprocess.run([os.path.join(BUILD_DIR, "tav"), "-install"],
                           env=dict(os.environ, TAV_REGISTRY=data + ".reg"),
                           capture_output=True, text=True, timeout=120)
        self.assertEqual((r.returncode, r.stderr), (255, ""))
        with open(os.path.join(data, "ipunit.dat"), newline="") as f:
            self.assertEqual(f.read(),
                             "Annex ,10.77.1.101 ,MIO Based Printer \r\n"
                             "Cellar ,10.77.2.101 ,MIO Based Printer \r\n"
                             "Lobby ,10.77.1.100 ,LaserJet 4000 \r\n"
                             "Roof ,10.77.2.100 ,DesignJet 750C \r\n")


def main(cleanup=None, time_limit=600):
    """Runs the test classes of the __main__ module, bounded whatever
    happens: at the time limit (TAV_E2E_TIME_LIMIT overrides it), or when
    terminated, `cleanup` tears the site down (its namespaces would outlive
    us). Exits 77 when everything was skipped."""
    cleanup = cleanup or NormalRunTest.tearDownClass
    suite = os.path.basename(sys.argv[0]).removesuffix(".py")

    def stop(*_):
        print(f"{suite}: stopped (time limit or terminated)", file=sys.stderr)
        cleanup()
        os._exit(1)
    signal.signal(signal.SIGALRM, stop)
    signal.signal(signal.SIGTERM, stop)
    signal.alarm(int(os.environ.get("TAV_E2E_TIME_LIMIT", str(time_limit))))
    result = unittest.main(verbosity=2, exit=False).result
    if not result.wasSuccessful():
        sys.exit(1)
    if result.skipped and result.testsRun <= len(result.skipped):
        print(f"{suite}: skipped: " + result.skipped[0][1], file=sys.stderr)
        sys.exit(77)  # CTest's SKIP_RETURN_CODE


if __name__ == "__main__":
    main()
