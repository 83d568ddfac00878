"""tav beside a hostile unit (tav-sim --hostile: malformed replies, junk
floods) on the e2e site; the browser only waits, pages are fetched raw."""

import concurrent.futures
import os
import pathlib
import sys
import time

sys.dont_write_bytecode = True  # no caches in the source tree

import e2e_test  # noqa: E402
from e2e_test import cdp, fetch, tavsite  # noqa: E402

# Junk holds discovery's listens to their bound (~40 s); hostile pages: 20 s.
DISCOVERY_BOUND, REQUEST_BOUND = 50, 30
SANITIZER = "ERROR: (Address|Leak)Sanitizer|runtime error:|ThreadSanitizer"


class WaitingBrowserSite(tavsite.Site):
    def browser_argv(self):
        self.browser_pid = os.path.join(self.work_dir, "browser.pid")
        return ["sh", "-c", f"echo $$ > {self.browser_pid}; exec sleep 600"]


class HostileUnitTest(e2e_test.SiteTest):

    @classmethod
    def setUpClass(cls):
        os.environ["TAV_IPX"] = "ipv4"  # the hostile unit's only IPX

        def discover(site):
            site.start_hostile_unit("10.77.1.66", lifetime=240)
            start = time.time()
            site.start_tav()
            cdp.poll(lambda: site.tav.poll() is not None or
                     os.path.exists(site.browser_pid), DISCOVERY_BOUND,
                     f"discovery to end within {DISCOVERY_BOUND} s")
            assert site.tav.poll() is None, \
                f"tav ended early: {site.tav_output()[-3000:]}"
            print(f"\ndiscovery took {time.time() - start:.1f} s",
                  file=sys.stderr)
        cls.open_site("tav-hostile-", then=discover,
                      site_class=WaitingBrowserSite)

    def test_1_good_units_listed_and_served_hostile_requests_ended(self):
        for u in self.site.units:
            self.assertIn(f'HREF="{u.link(self.site.gateway)}"',
                          e2e_test.read(self.site.page_path))
        hostile = [f"/Hostile-HTML/{p}" for p in (
            "", "nostatus.htm", "badstatus.htm", "longheader.htm",
            "nolf.htm", "lengths.htm", "trickle.htm", "silent.htm")]
        with concurrent.futures.ThreadPoolExecutor(len(hostile)) as pool:
            seconds = {p: pool.submit(fetch, self.site.gateway, p,
                                      REQUEST_BOUND + 5) for p in hostile}
            for u in (u for u in self.site.units if u.kind == "ipx"):
                answer = fetch(self.site.gateway, f"/{u.name}-HTML/index.htm",
                               REQUEST_BOUND)[0]  # while those run
                self.assertRegex(answer, b"(?s)^HTTP/1.0 200 OK\r\n.*<TITLE>"
                                 + u.name.encode() + b"</TITLE>")
            for path, future in seconds.items():
                with self.subTest(path=path):
                    self.assertLess(future.result()[1], REQUEST_BOUND)
        self.assertIsNone(self.site.tav.poll(), "tav ended")

    def test_2_closing_the_browser_ends_tav_cleanly(self):
        os.kill(int(pathlib.Path(self.site.browser_pid).read_text()), 15)
        self.assertEqual(self.site.wait_tav(60), 1, self.site.tav_output())
        sims = list(pathlib.Path(self.work).glob("sim-*.log"))
        self.assertIn(pathlib.Path(self.work, "sim-hostile.log"), sims)
        for output in (self.site.tav_output(),
                       *(f.read_text(errors="replace") for f in sims)):
            self.assertNotRegex(output, SANITIZER, output[-5000:])


if __name__ == "__main__":
    e2e_test.main(HostileUnitTest, time_limit=300)
