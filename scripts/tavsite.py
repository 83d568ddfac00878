"""A simulated site for the demo and the end-to-end tests: a private network
with simulated units on it, and `tav` run in its normal mode with a browser
that tav itself starts through its HTML open command.

Call tavnet.enter_private_namespace() first: this process then acts as the
host that runs tav, and nothing it or its children send can leave.

With full=True (as root, or inside a user namespace: see tavnet) the site
is

    segment A 10.77.1.0/24: this host 10.77.1.10, router .1, RIP responder
        .2, IP units .100-.101 (answering SNMP, web pages on port 80), IPX
        units .50-.52 (locator, SAP, description service, web pages over SPX;
        in Ethernet frames of different types where IPX runs in frames, the
        default where raw frames are allowed)
    segment B 10.77.2.0/24 behind the router: IP units .100-.101

Otherwise (full=False) there is only the loopback: IP and IPX units on
127.0.0.x, no router and no second subnet, IPX mapped onto IPv4."""

import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import cdp  # noqa: E402
import tavnet  # noqa: E402

CDP_PORT = 9222  # on the loopback of the private namespace
GATEWAY_PORT = 34  # kGatewayPort in units/gateway_url.h
CHROMIUM_FLAGS = [
    "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
    "--no-first-run", "--disable-background-networking",
    "--disable-component-update", "--disable-sync", "--no-proxy-server",
    "--window-size=1000,700"]


class Unit:
    """One simulated unit. kind "ip": found over SNMP, web pages on port 80
    of its address; kind "ipx": found by locator and SAP, web pages over
    SPX, in Ethernet frames of type `frame` where IPX runs in frames
    (`network`: the IPX network it knows, for a unit behind an IPX router).
    `shown` is the description the page shows for it."""

    def __init__(self, kind, address, name, description, shown=None,
                 number=None, frame="ethernet_ii", network=None):
        self.kind, self.address, self.name = kind, address, name
        self.description = description
        self.shown = shown or description
        self.number = number
        self.frame = frame
        self.network = network

    def sim_arg(self):
        if self.kind == "ip":
            hw = self.number * 8
            return ("name=%s,ip=%s,hw=00-40-AF-%02X-%02X-%02X,"
                    'description="%s",http=80' % (
                        self.name, self.address, (hw >> 16) & 0xFF,
                        (hw >> 8) & 0xFF, hw & 0xFF, self.description))
        arg = ('name=%s,ip=%s,ipx=on,snmp=off,desc="%s",http=16385,'
               'frame=%s' % (self.name, self.address, self.description,
                             self.frame))
        return arg + (f",ipx-network={self.network}" if self.network else "")

    def link(self, gateway):
        if self.kind == "ip":
            return f"http://{self.address}/"
        return f"http://{gateway}:{GATEWAY_PORT}/{self.name}-HTML/"


# The IPX networks of the two segments, joined by the IPX router on "rt".
IPX_NETWORK_A, IPX_NETWORK_B = "00A00001", "00B00002"


def ipx_in_frames():
    """IPX runs in Ethernet frames (the default), not mapped onto IPv4."""
    return os.environ.get("TAV_IPX", "") not in ("ipv4", "off")


def site_units(full):
    """The units at start and the units started later (for a refresh)."""
    a, b = ("10.77.1", "10.77.2") if full else ("127.0.0", "127.0.0")
    b_low = 100 if full else 110
    start = [
        Unit("ip", f"{a}.100", "Lobby", "LaserJet 4000", number=100001),
        # A blank description gives the model's own.
        Unit("ip", f"{a}.101", "Annex", " ", "MIO Based Printer",
             number=100002),
        Unit("ip", f"{b}.{b_low}", "Roof", "DesignJet 750C", number=200001),
        Unit("ip", f"{b}.{b_low + 1}", "Cellar", " ", "MIO Based Printer",
             number=200002),
        # One of each frame type (one in two of them) where IPX runs in
        # Ethernet frames.
        Unit("ipx", f"{a}.50", "VEM_000417", "Print Server"),
        Unit("ipx", f"{a}.51", "Stores", "MIO Based Printer",
             frame="802.2+snap"),
        Unit("ipx", f"{a}.52", "VEM_002345", "Colour laser, 2nd floor",
             frame="snap"),
    ]
    if full and ipx_in_frames():
        # On segment B, a second IPX network behind the IPX router.
        start.append(Unit("ipx", f"{b}.{b_low + 50}", "Upstairs",
                          "Routed print server", network=IPX_NETWORK_B))
    late = [Unit("ipx", f"{a}.60", "Mailroom", "Print Server",
                 frame="802.3")]
    return start, late


def write_file(path, text, mode=0o644):
    with open(path, "w") as f:
        f.write(text)
    os.chmod(path, mode)


def hive_text(wrapper):
    def q(s):
        return s.replace("\\", "\\\\").replace('"', '\\"')
    command = f'"{wrapper}" "%1"'
    return ("REGEDIT4\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.htm]\n"
            '@="htmlfile"\n\n'
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\htmlfile\\Shell\\Open"
            "\\command]\n"
            f'@="{q(command)}"\n')


def wrapper_text(chromium_argv):
    """A browser program for tav's open command: takes the page (a path, or
    a URL), with surrounding double quotes removed should the launcher have
    kept them, and execs the browser on it, so that tav waits for the
    browser itself."""
    args = " ".join("'" + a.replace("'", "'\\''") + "'" for a in chromium_argv)
    return f"""#!/bin/sh
page=$1
case $page in
  \\"*\\") page=${{page#\\"}}; page=${{page%\\"}} ;;
esac
case $page in
  /*) page=file://$page ;;
esac
unset http_proxy https_proxy HTTP_PROXY HTTPS_PROXY all_proxy ALL_PROXY
printf '%s\n' "$1" > "$0.arg"
exec {args} "$page" 2>>"$0.log"
"""


class Site:
    def __init__(self, build_dir, work_dir, full, headless=True):
        self.build_dir = os.path.abspath(build_dir)
        self.work_dir = work_dir
        self.full = full
        self.headless = headless
        self.net = tavnet.Network("s") if full else None
        self.sims = []
        self.profiles = []
        self.tav = None
        self.tav_log = self.debug_log = None
        self.gateway = None
        self.units, self.late_units = site_units(full)
        self.page_dir = os.path.join(work_dir, "pages")
        os.makedirs(self.page_dir, exist_ok=True)

    # -- network and units ------------------------------------------------

    def build_network(self):
        if not self.full:
            self.gateway = "127.0.0.1"
            return
        try:
            self._build_full_network()
        except RuntimeError as e:
            # No right to make namespaces: a container that forbids them.
            raise RuntimeError(
                f"cannot make the private network ({e})") from None

    def _build_full_network(self):
        n = self.net
        sw_a, sw_b = n.segment("a"), n.segment("b")
        self.segments = {"a": sw_a, "b": sw_b}
        self.rt = n.host("rt", (sw_a, "10.77.1.1/24"), (sw_b, "10.77.2.1/24"),
                         forward=True)
        # The RIP responder needs a host of its own: the router forwards
        # directed broadcasts for the host's subnet instead of taking them.
        self.rip = n.host("rip", (sw_a, "10.77.1.2/24"))
        self.hosts = {}
        for segment, prefix, name in ((sw_a, "10.77.1", "ua"),
                                      (sw_b, "10.77.2", "ub"),
                                      (sw_a, "10.77.1", "late")):
            units = [u for u in self.units + self.late_units
                     if u.address.startswith(prefix + ".")
                     and (u in self.late_units) == (name == "late")]
            first = units[0].address
            ns = n.host(name, (segment, first + "/24"),
                        gateway=prefix + ".1")
            for u in units[1:]:
                n.add_address(ns, "eth0", u.address + "/24")
            self.hosts[name] = ns
        n.host(None, (sw_a, "10.77.1.10/24"), gateway="10.77.1.1")
        self.gateway = "10.77.1.10"

    def _start_sim(self, ns, args, tag):
        ready = os.path.join(self.work_dir, f"sim-{tag}.ready")
        log = os.path.join(self.work_dir, f"sim-{tag}.log")
        argv = [os.path.join(self.build_dir, "tav-sim"),
                f"--ready-file={ready}"] + args
        with open(log, "w") as out:
            if self.net:
                p = self.net.popen(ns, argv, stdout=out, stderr=out)
            else:
                p = subprocess.Popen(argv, stdout=out, stderr=out,
                                     start_new_session=True)
        self.sims.append(p)
        if not tavnet.wait_for_file(ready, 20) or p.poll() is not None:
            raise RuntimeError(f"tav-sim ({tag}) did not start: see {log}")
        return p

    @staticmethod
    def _unit_args(units):
        args = []
        for u in units:
            args += ["--unit", u.sim_arg()]
        return args

    def start_units(self):
        if not self.full:  # every 127/8 address is local already
            self._start_sim(None, self._unit_args(self.units), "units")
            return
        # The IPX router first (any order works: the units announce their
        # services as they start, and it answers their RIP requests with
        # their network).
        if ipx_in_frames():
            self._start_sim(self.rt, [
                "--ipxrouter",
                f"ports=ethernet_ii:{IPX_NETWORK_A}@eth0;"
                f"ethernet_ii:{IPX_NETWORK_B}@eth1"], "ipxrouter")
        a = [u for u in self.units if u.address.startswith("10.77.1.")]
        b = [u for u in self.units if u.address.startswith("10.77.2.")]
        self._start_sim(self.hosts["ua"], self._unit_args(a), "a")
        self._start_sim(self.hosts["ub"], self._unit_args(b), "b")
        self._start_sim(self.rip, ["--router",
                                   "ip=10.77.1.2,version=1,"
                                   "routes=10.77.2.0/1"], "rip")

    def start_hostile_unit(self, address, lifetime):
        """Starts a hostile unit (tav-sim --hostile, see sim/README.md) on
        a host of its own on segment A (root only)."""
        ns = self.net.host("bad", (self.segments["a"], address + "/24"),
                           gateway="10.77.1.1")
        return self._start_sim(ns, [f"--lifetime={lifetime}", "--hostile",
                                    f"ip={address}"], "hostile")

    def start_late_units(self):
        """Starts the units that appear only after a rediscovery."""
        ns = self.hosts["late"] if self.full else None
        self._start_sim(ns, self._unit_args(self.late_units), "late")

    # -- tav and the browser ----------------------------------------------

    def browser_argv(self):
        profile = tempfile.mkdtemp(prefix="profile-", dir=self.work_dir)
        self.profiles.append(profile)
        chromium = shutil.which("chromium") or "chromium"
        if self.headless:
            return [chromium] + CHROMIUM_FLAGS + [
                f"--user-data-dir={profile}",
                f"--remote-debugging-port={CDP_PORT}"]
        visible = [chromium, "--no-first-run",
                   "--disable-background-networking",
                   "--disable-component-update", "--disable-sync",
                   "--no-proxy-server", f"--user-data-dir={profile}"]
        if os.geteuid() == 0:
            visible.append("--no-sandbox")  # Chromium refuses root without
        return visible

    def start_tav(self, own_browser=True, args=(), env=None):
        """Starts tav with the command line `args` and `env` added to its
        environment. own_browser False: the settings name no browser, so
        tav takes the desktop's ($BROWSER, else the default for HTML)."""
        self.wrapper = wrapper = os.path.join(self.work_dir, "browser")
        write_file(wrapper, wrapper_text(self.browser_argv()), 0o755)
        self.hive = os.path.join(self.work_dir, "registry.reg")
        write_file(self.hive, hive_text(wrapper) if own_browser
                   else "REGEDIT4\n")
        self.tav_log = os.path.join(self.work_dir, "tav.log")
        self.debug_log = os.path.join(self.work_dir, "tav-debug.log")
        e = dict(os.environ)
        e.update({"TAV_REGISTRY": self.hive, "TAV_PAGE_DIR": self.page_dir,
                  "TAV_DEBUG": self.debug_log})
        e.update(env or {})
        with open(self.tav_log, "w") as out:
            self.tav = subprocess.Popen(
                [os.path.join(self.build_dir, "tav"), *args], cwd=self.work_dir,
                env=e, stdout=out, stderr=subprocess.STDOUT,
                stdin=subprocess.DEVNULL, start_new_session=True)
        return self.tav

    def add_client(self, name, segment, address):
        """Another host on segment "a" or "b" (full site only), for a
        browser or a client of its own; its namespace."""
        prefix = address.rsplit(".", 1)[0]
        return self.net.host(name, (self.segments[segment], address + "/24"),
                             gateway=prefix + ".1")

    def client_browser(self, ns, url, timeout=120):
        """Headless Chromium on host ns, showing url; its first page,
        driven from this process through a connection made inside ns."""
        argv = self.browser_argv() + [url]
        e = {k: v for k, v in os.environ.items() if "proxy" not in k.lower()}
        log = open(os.path.join(self.work_dir, f"browser-{ns}.log"), "w")
        with log:
            self.net.popen(ns, argv, stdout=log, stderr=log, env=e)
        with self.net.inside(ns):
            return cdp.Browser(CDP_PORT, timeout=timeout).first_page(
                match=lambda u: u.startswith("http"))

    @property
    def page_path(self):
        return os.path.join(self.page_dir, "tav-disc.htm")

    @property
    def help_path(self):
        return os.path.join(self.page_dir, "tavhelp.htm")

    def browser(self, timeout=180):
        """The headless browser tav started, once its page shows."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            if self.tav.poll() is not None:
                raise RuntimeError(
                    f"tav ended with status {self.tav.returncode} before the "
                    f"browser showed: see {self.tav_log}")
            try:
                with socket.create_connection(("127.0.0.1", CDP_PORT), 1):
                    break
            except OSError:
                time.sleep(0.5)
        else:
            raise RuntimeError(f"no browser within {timeout} s: "
                               f"see {self.tav_log}")
        return cdp.Browser(CDP_PORT, timeout=max(10, deadline - time.time()))

    def wait_tav(self, timeout=60):
        try:
            return self.tav.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    def tav_output(self):
        if not self.tav_log:  # tav never started
            return ""
        try:
            with open(self.tav_log) as f:
                return f.read()
        except OSError:
            return ""

    def close(self):
        if self.tav and self.tav.poll() is None:
            try:
                os.killpg(self.tav.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            self.tav.wait()
        for p in self.sims:
            if p.poll() is None:
                try:
                    os.killpg(p.pid, signal.SIGTERM)
                    p.wait(5)
                except (ProcessLookupError, subprocess.TimeoutExpired):
                    os.killpg(p.pid, signal.SIGKILL)
                    p.wait()
        self.sims.clear()
        if self.net:
            self.net.close()
        for profile in self.profiles:  # large; the logs stay
            shutil.rmtree(profile, ignore_errors=True)
