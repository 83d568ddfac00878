"""TAV on a desktop: real GTK windows on Xvfb with openbox, driven with
xdotool, and Chromium as the user's browser, on a private network of
simulated units (see scripts/tavsite.py): the settings dialog, message 108
as a dialog, the hand-over to a running browser with its progress and
serving windows, a browser that stays, and the ends on "Quit" and signals.

Needs root, Xvfb, openbox, xdotool, ImageMagick and Chromium; exits 77
(skipped) without root or Xvfb, and in other than a debug build
(TAV_BUILD_DIR ending in "debug"). Screenshots go to
<build>/tests/desktop/artifacts. TAV_DESKTOP_WAIT (60) is the wait in
seconds before an IPX unit's page is loaded after a hand-over."""

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
sys.path.insert(0, os.path.join(os.path.dirname(os.path.dirname(
    os.path.abspath(__file__))), "e2e"))

import e2e_test  # noqa: E402
import cdp  # noqa: E402
import tavsite  # noqa: E402
from e2e_test import BUILD_DIR, catalogue  # noqa: E402

ARTIFACTS = os.path.join(BUILD_DIR, "tests", "desktop", "artifacts")
TAV = os.path.join(BUILD_DIR, "tav")
CHROMIUM = shutil.which("chromium") or "chromium"
RUNNING_CDP_PORT, STAYING_CDP_PORT = 9222, 9223
# Window titles of the catalogue; the progress window and messages are "TAV".
PROGRESS_TITLE = MESSAGE_TITLE = "TAV"
SERVING_TITLE = "TAV gateway"
SETTINGS_TITLE = "TAV settings"
ABOUT_TITLE = "About TAV"
ICON_BLUE = "4A6FA5"  # the printer's body in tav.svg


def end(p):
    """Ends a process group started here, forcibly after 10 s."""
    if p.poll() is None:
        os.killpg(p.pid, signal.SIGTERM)
        try:
            p.wait(10)
        except subprocess.TimeoutExpired:
            os.killpg(p.pid, signal.SIGKILL)
            p.wait()


class Desktop:
    """Xvfb with openbox on a display number of its own."""

    def __init__(self, work):
        read, write = os.pipe()
        self.log = open(os.path.join(work, "xvfb.log"), "w")
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x800x24",
             "-nolisten", "tcp", "-ac"], pass_fds=(write,),
            stdout=self.log, stderr=self.log, start_new_session=True)
        os.close(write)
        with os.fdopen(read) as f:
            number = f.readline().strip()
        assert number, "Xvfb did not start: see xvfb.log"
        self.env = dict(os.environ, DISPLAY=":" + number)
        for name in ("WAYLAND_DISPLAY", "TAV_UI", "BROWSER"):
            self.env.pop(name, None)
        subprocess.run(["display", "-window", "root", "-resize", "1280x800!",
                        "gradient:#5b7392-#2b3a4d"], env=self.env,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=30)
        self.wm = subprocess.Popen(["openbox"], env=self.env,
                                   stdout=self.log, stderr=self.log,
                                   start_new_session=True)
        time.sleep(1)

    def xdotool(self, *args):
        return subprocess.run(["xdotool", *args], env=self.env, text=True,
                              stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL).stdout.split()

    def windows(self, title):
        return self.xdotool("search", "--onlyvisible", "--name",
                            f"^{title}$")

    def wait_window(self, title, timeout=60, gone=False):
        deadline = time.time() + timeout
        while time.time() < deadline:
            found = self.windows(title)
            if bool(found) != gone:
                return found[0] if found else None
            time.sleep(0.1)
        raise AssertionError(f"window {title!r} did not "
                             f"{'go' if gone else 'show'} in {timeout} s")

    def keys(self, window, *keys, text=None):
        """Presses `keys` in the window, then types `text`."""
        self.xdotool("windowactivate", "--sync", window)
        time.sleep(0.3)
        self.xdotool("key", "--clearmodifiers", *keys)
        time.sleep(0.5)
        if text:
            self.xdotool("type", "--delay", "50", text)

    def shot(self, name, window="root"):
        # A window just mapped may not have painted its check marks yet.
        time.sleep(0.5)
        os.makedirs(ARTIFACTS, exist_ok=True)
        path = os.path.join(ARTIFACTS, name)
        subprocess.run(["import", "-window", window, path], env=self.env,
                       check=True, timeout=30)
        print(f"\nscreenshot kept: {path}", file=sys.stderr)
        return path

    def colours(self, window):
        """The colours shown in a window, as upper-case hex."""
        r = subprocess.run(
            ["sh", "-c", f"import -window {window} png:- | "
             "convert png:- -format %c histogram:info:-"],
            env=self.env, text=True, stdout=subprocess.PIPE, timeout=30)
        return r.stdout.upper()

    def close(self):
        end(self.wm)
        end(self.xvfb)
        self.log.close()


class DesktopTest(e2e_test.SiteTest):
    desktop, browsers, keep = None, [], "TAV_DESKTOP_KEEP"

    @classmethod
    def setUpClass(cls):
        if not shutil.which("Xvfb"):
            raise unittest.SkipTest("Xvfb is missing (setup.sh installs it)")
        if not BUILD_DIR.rstrip("/").endswith("debug"):
            raise unittest.SkipTest("they run in the debug build only")
        e2e_test.enter_test_network(needs_browser=True)
        # As root with Xvfb nothing else may be missing.
        for program in ("openbox", "xdotool", "import", "convert", "display"):
            assert shutil.which(program), f"{program} is missing (setup.sh)"
        cls.work = tempfile.mkdtemp(prefix="tav-desktop-")
        os.chmod(cls.work, 0o755)
        cls.site = tavsite.Site(BUILD_DIR, cls.work, full=True)
        try:
            cls.site.build_network()
            cls.site.start_units()
            cls.desktop = Desktop(cls.work)
        except BaseException:
            cls.tearDownClass()
            raise

    @classmethod
    def tearDownClass(cls):
        for p in cls.browsers:
            end(p)
        if cls.desktop:
            cls.desktop.close()
            cls.desktop = None
        super().tearDownClass()

    # -- helpers ----------------------------------------------------------

    def setUp(self):
        self.tav = None
        self.hive = os.path.join(self.work, f"{self.id()}.reg")
        self.tmp = tempfile.mkdtemp(prefix="tmp-", dir=self.work)
        self.log = os.path.join(self.work, f"{self.id()}.log")

    def tearDown(self):
        if self.tav:
            end(self.tav)

    def start_tav(self, *args, open_command=None, env=None, preexec=None):
        hive = "REGEDIT4\n"
        if open_command:
            quoted = open_command.replace("\\", "\\\\").replace('"', '\\"')
            hive += ("\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.htm]\n"
                     '@="htmlfile"\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes'
                     f'\\htmlfile\\Shell\\Open\\command]\n@="{quoted}"\n')
        tavsite.write_file(self.hive, hive)
        e = dict(self.desktop.env, TAV_REGISTRY=self.hive, TMPDIR=self.tmp,
                 TAV_DEBUG=self.log + ".debug")
        e.update(env or {})
        with open(self.log, "w") as out:
            self.tav = subprocess.Popen(
                [TAV, *args], cwd=self.work, env=e, stdout=out,
                stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                start_new_session=True, preexec_fn=preexec)
        return self.tav

    def wait_tav(self, timeout=60):
        try:
            return self.tav.wait(timeout)
        except subprocess.TimeoutExpired:
            self.fail(f"tav still runs after {timeout} s; see {self.log}")

    def stored(self):
        with open(self.hive) as f:
            return f.read()

    def page_in(self, port, timeout=90):
        """The browser's tab that shows this test's discovery page."""
        browser = cdp.Browser(port, timeout=timeout)
        page = browser.first_page(timeout, lambda url: url.startswith(
            "file://" + self.tmp) and url.endswith("tav-disc.htm"))
        page.wait_for(cdp.LISTED, 60, what="the discovery page")
        return browser, page

    def assert_page_files_gone(self):
        self.assertEqual(os.listdir(self.tmp), [],
                         "the private page folder is left")

    def running_browser(self):
        """Chromium running as the user's browser, started once."""
        cls = type(self)
        if not getattr(cls, "running_profile", None):
            cls.running_profile = tempfile.mkdtemp(prefix="running-",
                                                   dir=self.work)
            argv = [CHROMIUM, *(f for f in tavsite.CHROMIUM_FLAGS
                                if f != "--headless"),
                    "--test-type", "--password-store=basic",
                    f"--user-data-dir={cls.running_profile}",
                    f"--remote-debugging-port={RUNNING_CDP_PORT}",
                    "--window-position=40,30", "about:blank"]
            with open(os.path.join(self.work, "chromium.log"), "a") as log:
                self.browsers.append(subprocess.Popen(
                    argv, env=self.desktop.env, stdout=log, stderr=log,
                    start_new_session=True))
            # Shown and painted before tav starts, as a user's would be.
            browser = cdp.Browser(RUNNING_CDP_PORT, timeout=90)
            browser.first_page().wait_for(
                "document.readyState === 'complete'", 60)
            browser.ws.sock.close()
            time.sleep(2)
        # Its ordinary command line: hands the page to the running instance.
        return (f'"{CHROMIUM}" --no-sandbox '
                f'--user-data-dir={cls.running_profile} "%1"')

    # -- the cases --------------------------------------------------------

    def test_1_configure_dialog(self):
        d = self.desktop
        self.start_tav("-Configure", env={"TAV_IPX": "ipv4"})
        dialog = d.wait_window(SETTINGS_TITLE)
        d.shot("configure-dialog.png")
        d.keys(dialog, "alt+x")  # IPX search off
        d.keys(dialog, "alt+m", "ctrl+a", text="16")
        d.keys(dialog, "Return")
        message = d.wait_window(MESSAGE_TITLE)
        d.shot("configure-invalid-hops.png")
        d.keys(message, "Return")
        d.wait_window(MESSAGE_TITLE, gone=True)
        self.assertEqual(d.windows(SETTINGS_TITLE), [dialog])
        self.assertNotIn("Discovery Max Hops", self.stored())
        # The about box from the menu, with the program's icon.
        d.keys(dialog, "alt+h", "Return")
        about = d.wait_window(ABOUT_TITLE)
        d.shot("about-box.png")
        self.assertIn(ICON_BLUE, d.colours(about))
        d.keys(about, "Return")
        d.wait_window(ABOUT_TITLE, gone=True)
        d.keys(dialog, "alt+m", "ctrl+a", text="5")
        d.keys(dialog, "Return")
        self.assertEqual(self.wait_tav(), 0)
        hive = self.stored()
        for value in ('"Discovery Max Hops"="5"', '"Enable IP Search"="Yes"',
                      '"Enable IPX Search"="No"'):
            self.assertIn(value, hive)

    def test_2_port_not_allowed_shows_108(self):
        d = self.desktop
        held = socket.socket()
        held.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        held.bind(("0.0.0.0", 80))

        def as_nobody():  # no right to bind ports below 1024
            os.setgroups([])
            os.setgid(65534)
            os.setuid(65534)
        try:
            self.start_tav(preexec=as_nobody)
            message = d.wait_window(MESSAGE_TITLE, 30)
            d.shot("message-108.png")
            self.assertIsNone(self.tav.poll())
            d.keys(message, "Return")
            self.assertEqual(self.wait_tav(), 255)
        finally:
            held.close()
        with open(self.log) as f:
            self.assertNotIn(catalogue(108), f.read())  # a dialog, not text

    def test_3_page_handed_to_running_browser_until_quit(self):
        d = self.desktop
        self.start_tav(open_command=self.running_browser())
        d.wait_window(PROGRESS_TITLE, 60)
        d.shot("progress-window.png")
        window = d.wait_window(SERVING_TITLE, 240)
        browser, page = self.page_in(RUNNING_CDP_PORT)
        page_path = page.url()[len("file://"):]
        self.assertTrue(page_path.startswith(self.tmp + "/"))
        time.sleep(float(os.environ.get("TAV_DESKTOP_WAIT", "60")))
        unit = next(u for u in self.site.units if u.name == "VEM_002345")
        page.navigate(unit.link(self.site.gateway))
        self.assertEqual(page.evaluate("document.title"), unit.name)
        self.assertIsNone(self.tav.poll())
        self.assertEqual(d.windows(SERVING_TITLE), [window])
        d.xdotool("windowactivate", "--sync", window)
        d.shot("serving-window.png")
        page.navigate("about:blank")
        browser.ws.sock.close()
        d.keys(window, "alt+q")
        self.assertEqual(self.wait_tav(), 1)
        self.assertFalse(os.path.exists(page_path))
        self.assert_page_files_gone()

    def test_4_sigterm_while_serving_ends_cleanly(self):
        self.start_tav(open_command=self.running_browser())
        self.desktop.wait_window(SERVING_TITLE, 240)
        self.assertTrue(os.listdir(self.tmp))
        self.tav.send_signal(signal.SIGTERM)
        self.assertEqual(self.wait_tav(), 1)
        self.assert_page_files_gone()

    def test_5_browser_that_stays_is_watched(self):
        d = self.desktop
        profile = tempfile.mkdtemp(prefix="staying-", dir=self.work)
        own = (f'"{CHROMIUM}" --no-sandbox --no-first-run --disable-gpu '
               f"--user-data-dir={profile} "
               f"--remote-debugging-port={STAYING_CDP_PORT} "
               '--window-position=120,80 --window-size=900,600 "%1"')
        self.start_tav(open_command=own)
        browser, _ = self.page_in(STAYING_CDP_PORT, timeout=240)
        # Past the hand-over time: still watched, no window of tav's.
        time.sleep(12)
        self.assertEqual(d.windows(SERVING_TITLE), [])
        self.assertIsNone(self.tav.poll())
        browser.close()
        self.assertEqual(self.wait_tav(60), 1)
        self.assert_page_files_gone()

    def test_6_hand_over_on_the_console_serves_until_a_signal(self):
        self.start_tav(open_command=self.running_browser(),
                       env={"TAV_UI": "console"})
        browser, page = self.page_in(RUNNING_CDP_PORT, timeout=240)
        page_path = page.url()[len("file://"):]
        browser.ws.sock.close()
        time.sleep(12)  # past the hand-over time
        self.assertIsNone(self.tav.poll())
        self.assertTrue(os.path.exists(page_path))
        self.assertEqual(self.desktop.windows(SERVING_TITLE), [])
        self.tav.send_signal(signal.SIGHUP)
        self.assertEqual(self.wait_tav(), 1)
        self.assert_page_files_gone()


if __name__ == "__main__":
    e2e_test.main(DesktopTest.tearDownClass, time_limit=840)
