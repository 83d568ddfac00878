"""Three headless browsers load a unit's gallery page (20 images, 2 frames)
through tav's gateway at the same moment, with their caches off: up to 18
connections at once for its 10 session slots. Every image and frame of
every page must arrive. Root only."""

import os
import sys
import unittest

sys.dont_write_bytecode = True
SOURCE_DIR = os.environ.get("TAV_SOURCE_DIR",
                            os.path.abspath(__file__ + "/../../.."))
BUILD_DIR = os.environ.get("TAV_BUILD_DIR",
                           os.path.join(SOURCE_DIR, "build", "debug"))
sys.path.insert(0, os.path.join(SOURCE_DIR, "bench"))

import gallery_site  # noqa: E402


class ThreeBrowsers(unittest.TestCase):
    def test_every_resource_of_every_page_arrives(self):
        if os.geteuid() != 0:
            self.skipTest("the test builds a namespace: needs root")
        g = gallery_site.Gallery(BUILD_DIR)
        try:
            browsers = [gallery_site.no_cache(g.browser)] + [
                g.open_browser(9301 + i) for i in range(2)]
            url = g.base["tav"] + "index.htm"
            for round_ in range(3):
                for result in gallery_site.load_at_once(browsers, url):
                    self.assertNotIsInstance(result, Exception, round_)
                    self.assertEqual(result[1:], (gallery_site.IMAGES,
                                                  gallery_site.FRAMES), round_)
        finally:
            g.close()


if __name__ == "__main__":
    unittest.main()
