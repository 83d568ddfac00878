"""tav -Serve for the whole LAN, root only: a browser on another host opens
the served page, a host outside is refused, SIGHUP searches, SIGTERM ends."""

import json
import os
import re
import signal
import sys
import time

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

import e2e_test  # noqa: E402
from e2e_test import cdp, fetch  # noqa: E402


def body(answer):
    head, _, rest = answer.partition(b"\r\n\r\n")
    length = re.search(rb"\r\nContent-Length: (\d+)\r\n", head + b"\r\n")
    assert length and int(length.group(1)) == len(rest), head
    return rest


class LanTest(e2e_test.SiteTest):

    @classmethod
    def setUpClass(cls):
        def serve(site):
            site.start_tav(args=["-SERVE"])
            cls.gateway = gw = site.gateway
            cls.pc = site.add_client("pc", "a", "10.77.1.30")
            cls.far = site.add_client("far", "b", "10.77.2.30")
            cdp.poll(lambda: fetch(gw, "/units.json", 10)[0].startswith(
                b"HTTP/1.0 200"), 180, "the served page", every=1)
            cls.page = site.client_browser(cls.pc, f"http://{gw}:34/")
            cls.page.wait_for(cdp.LISTED, 60, what="the page on the pc")
        cls.open_site("tav-lan-", "chromium", then=serve)

    def units_json(self):
        return json.loads(body(fetch(self.gateway, "/units.json", 30)[0]))

    def log_lines(self):
        return self.site.tav_output().splitlines()

    def test_1_a_browser_elsewhere_sees_every_unit_and_an_ipx_page(self):
        self.assertEqual(self.unit_links(),
                         {u.link(self.gateway) for u in self.site.units})
        unit = next(u for u in self.site.units if u.name == "VEM_002345")
        self.page.click_link(unit.link(self.gateway))
        self.assertEqual(self.page.evaluate("document.title"), unit.name)
        self.page.navigate(f"http://{self.gateway}:34/")
        self.page.click_link("tavhelp.htm")
        self.assertEqual(self.page.url(), f"http://{self.gateway}:34/tavhelp.htm")

    def test_2_units_json_lists_the_units_of_the_page(self):
        units = self.units_json()
        listed = units["ip_units"] + units["ipx_units"]
        self.assertEqual({u["link"] for u in listed if u["link"]},
                         {u.link(self.gateway) for u in self.site.units})
        self.assertEqual({u["name"] for u in listed},
                         {u.name for u in self.site.units})
        self.assertEqual({u["address"] for u in units["ip_units"]},
                         {u.address for u in self.site.units
                          if u.kind == "ip"})

    def test_3_a_host_outside_is_refused_and_every_request_logged(self):
        with self.site.net.inside(self.far):
            answer, _ = fetch(self.gateway, "/VEM_002345-HTML/", 30)
        self.assertTrue(answer.startswith(b"HTTP/1.0 403 Forbidden"), answer)
        self.assertIn(b"Not allowed", body(answer))
        lines = cdp.poll(lambda: (t := self.log_lines()) and any(
            " 10.77.2.30 " in x for x in t) and t, 10, "the log line")
        day = r"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ"
        for expected in (
                rf"{day} 10\.77\.2\.30 - /VEM_002345-HTML/ 403 {len(answer)} "
                r"\d+",
                rf"{day} 10\.77\.1\.30 - / 200 \d+ \d+",
                rf"{day} 10\.77\.1\.30 VEM_002345 /VEM_002345-HTML/ 200 \d+ "
                r"\d+",
                rf"tav: .*http://{re.escape(self.gateway)}:34/.*"):
            self.assertTrue(any(re.fullmatch(expected, x) for x in lines),
                            f"{expected} not in\n" + "\n".join(lines))

    def test_4_sighup_lists_a_unit_added_to_the_site(self):
        self.site.start_late_units()
        os.kill(self.site.tav.pid, signal.SIGHUP)
        late = self.site.late_units[0]
        cdp.poll(lambda: late.name in {
            u["name"] for u in self.units_json()["ipx_units"]} and
            late.link(self.gateway).encode() in fetch(self.gateway, "/", 30)[0],
            180, "the late unit", every=2)
        self.assertIsNone(self.site.tav.poll())
        self.page.navigate(f"http://{self.gateway}:34/")
        self.assertEqual(self.unit_links(), {
            u.link(self.gateway) for u in self.site.units + [late]})

    def test_5_sigterm_ends_it_with_0_and_removes_its_files(self):
        time.sleep(0.2)
        os.kill(self.site.tav.pid, signal.SIGTERM)
        self.assertEqual(self.site.wait_tav(30), 0, self.site.tav_output())
        self.assertEqual(os.listdir(self.site.page_dir), [])


if __name__ == "__main__":
    e2e_test.main(LanTest)
