"""tav's normal run with headless Chromium on a private network of simulated
units, root only. TAV_E2E_TIME_LIMIT: 600 s; TAV_E2E_KEEP keeps the files."""

import os
import re
import shutil
import signal
import socket
import sys
import tempfile
import time
import unittest

sys.dont_write_bytecode = True  # no caches in the source tree

SOURCE_DIR = os.environ.get("TAV_SOURCE_DIR",
                            os.path.abspath(__file__ + "/../../.."))
BUILD_DIR = os.environ.get("TAV_BUILD_DIR",
                           os.path.join(SOURCE_DIR, "build", "debug"))
sys.path.insert(0, os.path.join(SOURCE_DIR, "scripts"))

import tavnet  # noqa: E402
import tavsite  # noqa: E402
from tavsite import cdp  # noqa: E402


def artifact(suite, name):
    os.makedirs(folder := os.path.join(BUILD_DIR, "tests", suite,
                                       "artifacts"), exist_ok=True)
    print(f"\nscreenshot kept: {folder}/{name}", file=sys.stderr)
    return os.path.join(folder, name)


def read(path):
    with open(path, newline="", errors="replace") as f:
        return f.read()


def fetch(host, path, timeout):  # through the gateway: answer, seconds
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
    def open_site(cls, prefix, *programs, then, site_class=tavsite.Site):
        """The site's units started, then then(site); `programs` required."""
        if os.geteuid() != 0:
            raise unittest.SkipTest("the suite builds namespaces: needs root")
        for program in programs:
            assert shutil.which(program), f"{program} is missing (setup.sh)"
        problem = tavnet.enter_private_namespace()
        assert not problem, "no private network namespace: " + problem
        cls.work = tempfile.mkdtemp(prefix=prefix)
        os.chmod(cls.work, 0o755)
        try:
            cls.site = site_class(BUILD_DIR, cls.work, full=True)
            cls.site.build_network()
            cls.site.start_units()
            then(cls.site)
        except BaseException:
            cls.tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        if not cls.site:
            return
        if cls.site.tav and cls.site.tav.poll() is None:
            print("\n--- tav's output:\n" + cls.site.tav_output()[-3000:],
                  file=sys.stderr)
        cls.site.close()
        cls.site = None
        if os.environ.get(cls.keep):
            print(f"working files: {cls.work}", file=sys.stderr)
        else:
            shutil.rmtree(cls.work, ignore_errors=True)

    def links(self):
        return self.page.evaluate("[...document.links].map(a => a.href)")

    def unit_links(self):  # the page's links to units
        return {h for h in self.links() if h.startswith("http") and
                "$$Refresh$" not in h and not h.endswith("/tavhelp.htm")}


class NormalRunTest(SiteTest):

    @classmethod
    def setUpClass(cls):
        def show_page(site):
            site.start_tav()
            cls.page = site.browser(timeout=180).first_page()
            cls.page.wait_for(cdp.LISTED, 60, what="the discovery page")
        cls.open_site("tav-e2e-", "chromium", then=show_page)
        cls.gateway = cls.site.gateway

    def assert_lists_exactly(self, units):
        self.assertEqual(self.unit_links(),
                         {u.link(self.gateway) for u in units})
        text = self.page.evaluate("document.body.innerText")
        for u in units:
            self.assertRegex(text, f"{u.name}.*{re.escape(u.shown)}")

    def assert_on_gateway_for(self, unit):
        for href in self.links():
            if not href.startswith("javascript:") and "other." not in href:
                self.assertRegex(
                    href, f"^http://{self.gateway}:34/{unit.name}(-HTML)?/")

    def refresh_answer(self):  # its title
        return re.search(rb"<TITLE>(.*)</TITLE>", fetch(
            self.gateway, "/$$Refresh$", 30)[0]).group(1).decode()

    def wait_refresh_done(self):  # asking after it would start a new one
        self.assertEqual(cdp.poll(lambda: (t := self.refresh_answer()) !=
                                  "TAV: searching" and t, 180,
                                  "the rediscovery", every=2),
                         "TAV: search finished")

    def test_1_page_lists_exactly_the_simulated_units(self):
        self.assertEqual(self.page.url(), "file://" + self.site.page_path)
        self.assert_lists_exactly(self.site.units)
        self.page.screenshot(artifact("e2e", "discovery-page.png"))

    def test_2_ipx_unit_page_and_its_links_through_gateway(self):
        unit = next(u for u in self.site.units if u.name == "VEM_002345")
        self.page.navigate("file://" + self.site.page_path)
        self.page.click_link(unit.link(self.gateway))
        self.assertEqual(self.page.evaluate("document.title"), unit.name)
        self.page.wait_for("[...document.images].every(i => i.complete && "
                           "i.naturalWidth === 32)", 30, what="the image")
        self.assert_on_gateway_for(unit)
        self.assertEqual(os.path.getsize(  # the unit's IPX address, kept
            os.path.join(self.site.work_dir, "address")), 14)
        self.page.screenshot(artifact("e2e", "unit-page.png"))
        for link in ("/status.htm", "/index.htm", "/test/links.htm",
                     "/dir/x.htm"):
            at = f"http://{self.gateway}:34/{unit.name}{link}"
            if link.startswith("/test/"):  # every kind of link, by path
                self.page.navigate(at)
            else:
                self.page.click_link(link)
            self.assertEqual(self.page.url(), at)
            self.assert_on_gateway_for(unit)

    def test_5_refresh_finds_a_unit_started_meanwhile(self):
        with open(self.site.help_path, "a") as f:  # not to be copied again
            f.write("<!-- kept -->\n")
        self.site.start_late_units()
        self.page.navigate("file://" + self.site.page_path)
        self.page.click_link("/$$Refresh$")
        self.assertEqual(self.page.evaluate("document.title"),
                         "TAV: searching")
        self.wait_refresh_done()
        self.page.navigate("file://" + self.site.page_path)
        self.assert_lists_exactly(self.site.units + self.site.late_units)
        self.page.screenshot(artifact("e2e", "page-after-refresh.png"))
        self.page.click_link(self.site.late_units[0].link(self.gateway))
        self.assertEqual(self.page.evaluate("document.title"), "Mailroom")
        self.assertIn("<!-- kept -->", read(self.site.help_path), "copied")
        self.assertEqual(sorted(os.listdir(self.site.page_dir)),
                         ["tav-disc.htm", "tavhelp.htm"])
        self.assertEqual(self.refresh_answer(), "TAV: searching")  # anew
        self.wait_refresh_done()

    def test_6_closing_the_browser_ends_tav_and_removes_the_pages(self):
        self.page.close()
        self.assertEqual(self.site.wait_tav(60), 1, self.site.tav_output())
        self.assertEqual(os.listdir(self.site.page_dir), [])


def main(test_class, time_limit=600):
    """Runs the tests; tears the site down at the time limit or SIGTERM."""
    suite = os.path.basename(sys.argv[0]).removesuffix(".py")

    def stop(*_):
        print(f"{suite}: stopped (time limit or terminated)", file=sys.stderr)
        test_class.tearDownClass()
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
    main(NormalRunTest)
