"""Three headless browsers, caches off, load a unit's gallery page (20 images,
2 frames) through the gateway at once: 18 connections for 10 session slots,
and every image and frame of every page must arrive. Root only."""

import os
import sys
import unittest

sys.dont_write_bytecode = True  # no caches in the source tree

import e2e_test  # noqa: E402

sys.path.insert(0, os.path.join(e2e_test.SOURCE_DIR, "bench"))
import gallery_site  # noqa: E402


class ThreeBrowsers(unittest.TestCase):
    def test_every_resource_of_every_page_arrives(self):
        if os.geteuid() != 0:
            self.skipTest("the test builds a namespace: needs root")
        g = gallery_site.Gallery(e2e_test.BUILD_DIR)
        try:
            browsers = [gallery_site.no_cache(g.browser)] + [
                g.open_browser(9301 + i) for i in range(2)]
            for round_ in range(3):
                for result in gallery_site.load_at_once(
                        browsers, g.base["tav"] + "index.htm"):
                    self.assertNotIsInstance(result, Exception, round_)
                    self.assertEqual(result[1:], (gallery_site.IMAGES,
                                                  gallery_site.FRAMES), round_)
        finally:
            g.close()


if __name__ == "__main__":
    unittest.main()
