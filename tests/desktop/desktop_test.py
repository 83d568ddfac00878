"""TAV's windows on Xvfb with openbox, driven with xdotool, Chromium as the
user's browser, on the e2e site (see README.md, "desktop tests")."""

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
sys.path.insert(0, os.path.abspath(__file__ + "/../../e2e"))

import e2e_test  # noqa: E402
from e2e_test import BUILD_DIR, artifact, cdp, read, tavsite  # noqa: E402

RUNNING_CDP_PORT, STAYING_CDP_PORT = 9222, 9223
PROGRESS_TITLE = MESSAGE_TITLE = "TAV"  # window titles of the catalogue
SERVING, SETTINGS, ABOUT = "TAV gateway", "TAV settings", "About TAV"


class DesktopTest(e2e_test.SiteTest):
    keep, running, tav = "TAV_DESKTOP_KEEP", None, None

    @classmethod
    def setUpClass(cls):
        if not shutil.which("Xvfb"):
            raise unittest.SkipTest("Xvfb is missing (setup.sh installs it)")
        if not BUILD_DIR.rstrip("/").endswith("debug"):
            raise unittest.SkipTest("they run in the debug build only")

        def start_desktop(site):
            cls.start = site.net.popen
            cls.x_log = open(os.path.join(cls.work, "desktop.log"), "w")
            xvfb = cls.start(None, ["Xvfb", "-displayfd", "1", "-screen", "0",
                                    "1280x800x24", "-nolisten", "tcp", "-ac"],
                             stdout=subprocess.PIPE, stderr=cls.x_log)
            cls.env = {k: v for k, v in os.environ.items() if k not in
                       ("WAYLAND_DISPLAY", "TAV_UI", "BROWSER")}
            cls.env["DISPLAY"] = ":" + xvfb.stdout.readline().decode().strip()
            xvfb.stdout.close()
            assert cls.env["DISPLAY"] != ":", "Xvfb did not start"
            cls.start(None, ["openbox"], env=cls.env, stdout=cls.x_log,
                      stderr=cls.x_log)
            time.sleep(1)
        cls.open_site("tav-desktop-", "chromium", "openbox", "xdotool",
                      "import", "convert", then=start_desktop)

    @classmethod
    def tearDownClass(cls):
        super().tearDownClass()
        if getattr(cls, "x_log", None):
            cls.x_log.close()

    def tearDown(self):
        if self.tav:
            self.site.net.stop(self.tav, 10)

    def run_x(self, *argv):
        return subprocess.run(argv, env=self.env, text=True, timeout=30,
                              capture_output=True).stdout

    def windows(self, title):
        return self.run_x("xdotool", "search", "--onlyvisible", "--name",
                          f"^{title}$").split()

    def wait_window(self, title, timeout=60, gone=False):
        return cdp.poll(lambda: (self.windows(title) or [None])[0] if not gone
                        else not self.windows(title), timeout,
                        f"window {title!r} to {'go' if gone else 'show'}",
                        every=0.1)

    def keys(self, window, *keys, text=None):
        self.run_x("xdotool", "windowactivate", "--sync", window)
        time.sleep(0.3)
        self.run_x("xdotool", "key", "--clearmodifiers", *keys)
        time.sleep(0.5)
        if text:
            self.run_x("xdotool", "type", "--delay", "50", text)

    def shot(self, name, window="root"):  # kept; returns its colours (hex)
        time.sleep(0.5)  # a window just mapped may not be painted yet
        self.run_x("import", "-window", window,
                   path := artifact("desktop", name))
        return self.run_x("convert", path, "-format", "%c",
                          "histogram:info:-").upper()

    def start_tav(self, *args, browser=None, env=None):
        """tav with a hive naming `browser` (an argv); page folder self.tmp."""
        self.tearDown()  # a run a failed case left
        run = tempfile.mkdtemp(prefix=self._testMethodName[:7], dir=self.work)
        self.hive, self.log = run + "/hive.reg", run + "/tav.log"
        self.tmp = run + "/tmp"
        os.mkdir(self.tmp)
        if browser:
            tavsite.write_file(run + "/browser", tavsite.wrapper_text(browser),
                               0o755)
        tavsite.write_file(self.hive, tavsite.hive_text(run + "/browser")
                           if browser else "REGEDIT4\n")
        with open(self.log, "w") as out:
            self.tav = self.start(
                None, [os.path.join(BUILD_DIR, "tav"), *args],
                cwd=self.work,
                env=dict(self.env, TAV_REGISTRY=self.hive, TMPDIR=self.tmp,
                         TAV_DEBUG=run + "/debug.log", **(env or {})),
                stdout=out, stderr=subprocess.STDOUT,
                stdin=subprocess.DEVNULL)

    def assert_tav_ends(self, status):
        self.assertEqual(self.tav.wait(60), status, self.log)
        self.assertEqual(os.listdir(self.tmp), [], "page folder left")

    def page_in(self, port, timeout=90):
        page = cdp.Browser(port, timeout=timeout).first_page(
            timeout, lambda url: url.startswith("file://" + self.tmp) and
            url.endswith("tav-disc.htm"))
        page.wait_for(cdp.LISTED, 60, what="the discovery page")
        return page

    def chromium(self, port, *more):
        return [shutil.which("chromium"),
                *(f for f in tavsite.CHROMIUM_FLAGS if f != "--headless"),
                "--user-data-dir=" + tempfile.mkdtemp(dir=self.work),
                f"--remote-debugging-port={port}", *more]

    def running_browser(self):
        """Chromium as the user's (once); its command line hands it a page."""
        cls = type(self)
        if not cls.running:
            cls.running = self.chromium(RUNNING_CDP_PORT, "--test-type",
                                        "--password-store=basic",
                                        "--window-position=40,30")
            self.start(None, [*cls.running, "about:blank"], env=self.env,
                       stdout=self.x_log, stderr=self.x_log)
            # Shown and painted before tav starts, as a user's would be.
            browser = cdp.Browser(RUNNING_CDP_PORT, timeout=90)
            browser.first_page().wait_for("document.readyState==='complete'")
            browser.close(browser=False)
            time.sleep(2)
        return cls.running

    def test_1_configure_dialog(self):
        self.start_tav("-Configure", env={"TAV_IPX": "ipv4"})
        dialog = self.wait_window(SETTINGS)
        self.shot("configure-dialog.png")
        self.keys(dialog, "alt+x")  # IPX search off
        self.keys(dialog, "alt+m", "ctrl+a", text="16")
        self.keys(dialog, "Return")
        message = self.wait_window(MESSAGE_TITLE)
        self.shot("configure-invalid-hops.png")
        self.keys(message, "Return")
        self.wait_window(MESSAGE_TITLE, gone=True)
        self.assertEqual(self.windows(SETTINGS), [dialog])
        self.assertNotIn("Discovery Max Hops", read(self.hive))
        self.keys(dialog, "alt+h", "Return")  # the about box, with the icon
        about = self.wait_window(ABOUT)  # (the printer in it is blue)
        self.assertIn("4A6FA5", self.shot("about-box.png", about), "no icon")
        self.keys(about, "Return")
        self.wait_window(ABOUT, gone=True)
        self.keys(dialog, "alt+m", "ctrl+a", text="5")
        self.keys(dialog, "Return")
        self.assert_tav_ends(0)
        for value in ('"Discovery Max Hops"="5"', '"Enable IP Search"="Yes"',
                      '"Enable IPX Search"="No"'):
            self.assertIn(value, read(self.hive))

    def test_2_ports_taken_show_108(self):
        with socket.create_server(("", 34)), socket.create_server(("", 80)):
            self.start_tav()
            message = self.wait_window(MESSAGE_TITLE, 30)
            self.shot("message-108.png")
            self.assertIsNone(self.tav.poll())
            self.keys(message, "Return")
            self.assert_tav_ends(255)
        self.assertNotIn("TCP port 34", read(self.log))  # a dialog, not text

    def test_3_page_handed_to_running_browser_until_quit(self):
        self.start_tav(browser=self.running_browser())
        self.wait_window(PROGRESS_TITLE, 60)
        self.shot("progress-window.png")
        window = self.wait_window(SERVING, 240)
        page = self.page_in(RUNNING_CDP_PORT)
        time.sleep(float(os.environ.get("TAV_DESKTOP_WAIT", "60")))
        page.navigate(f"http://{self.site.gateway}:34/VEM_002345-HTML/")
        self.assertEqual(page.evaluate("document.title"), "VEM_002345")
        self.assertEqual(self.windows(SERVING), [window])
        self.run_x("xdotool", "windowactivate", "--sync", window)
        self.shot("serving-window.png")
        page.navigate("about:blank")
        page.close(browser=False)
        self.keys(window, "alt+q")
        self.assert_tav_ends(1)

    def test_4_served_until_a_signal_or_watched_until_closed(self):
        staying = self.chromium(STAYING_CDP_PORT, "--window-position=120,80")
        for browser, env, end in (
                (self.running_browser(), {}, signal.SIGTERM),
                (self.running_browser(), {"TAV_UI": "console"}, signal.SIGHUP),
                (staying, {}, None)):
            with self.subTest(env=env, end=end):
                self.start_tav(browser=browser, env=env)
                shown = self.page_in(STAYING_CDP_PORT if end is None
                                     else RUNNING_CDP_PORT, 240)
                if env or end is None:
                    time.sleep(12)  # past the hand-over time
                    self.assertEqual(self.windows(SERVING), [])
                else:
                    self.wait_window(SERVING, 240)
                self.assertIsNone(self.tav.poll())
                self.assertTrue(os.listdir(self.tmp))
                shown.close(browser=end is None)
                if end:
                    self.tav.send_signal(end)
                self.assert_tav_ends(1)


if __name__ == "__main__":
    e2e_test.main(DesktopTest, time_limit=840)
