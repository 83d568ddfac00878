"""The gallery page of a simulated unit (sim/gallery_pages.h) reached three
ways inside a private network namespace: directly, through an nginx reverse
proxy that rewrites the unit's links (proxy_pass + sub_filter), and through
tav's gateway; and headless browsers that load it. For bench/browse_bench.py
and tests/e2e/browsers_test.py; root only. IPX runs mapped onto IPv4, so the
unit's web pages are TCP on the loopback as well as SPX for tav."""

import os
import shutil
import socket
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE_DIR = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(SOURCE_DIR, "scripts"))

import cdp  # noqa: E402
import tavnet  # noqa: E402
import tavsite  # noqa: E402

NGINX_PORT = 8034
IMAGES, FRAMES = 20, 2

NGINX_CONF = """daemon off;
user root;
worker_processes 1;
pid {work}/nginx.pid;
error_log {work}/nginx-error.log;
events {{ worker_connections 512; }}
http {{
  access_log off;
  client_body_temp_path {work}/nginx-body;
  proxy_temp_path {work}/nginx-proxy;
  fastcgi_temp_path {work}/nginx-fcgi;
  uwsgi_temp_path {work}/nginx-uwsgi;
  scgi_temp_path {work}/nginx-scgi;
  server {{
    listen 127.0.0.1:{port};
    location /{name}-HTML/ {{
      proxy_pass http://{unit}/;
      proxy_set_header Accept-Encoding "";
      sub_filter 'http://{name}/' 'http://127.0.0.1:{port}/{name}-HTML/';
      sub_filter_once off;
    }}
    location /gallery/ {{
      proxy_pass http://{unit};
    }}
  }}
}}
"""

# Loaded, its images decoded and its frames shown: the count of each.
SHOWN = ("[[...document.images].filter(i => i.complete && i.naturalWidth > 0)"
         ".length, [...document.querySelectorAll('iframe')].filter(f => "
         "f.contentDocument && f.contentDocument.body && "
         "f.contentDocument.body.innerText.includes('Frame')).length]")
LOAD_MS = ("performance.getEntriesByType('navigation')[0].loadEventEnd")


class Gallery:
    """The site: one IPX unit (VEM_000417), tav with its own headless
    browser, and nginx when it is installed. base[way] is the gallery's
    folder URL for way "direct", "nginx" or "tav", root[way] the unit's."""

    def __init__(self, build_dir):
        os.environ["TAV_IPX"] = "ipv4"
        problem = tavnet.enter_private_namespace()
        if problem:
            raise RuntimeError("no private network namespace: " + problem)
        self.work = tempfile.mkdtemp(prefix="tav-gallery-")
        os.chmod(self.work, 0o755)
        self.site = tavsite.Site(build_dir, self.work, full=False)
        self.extra, self.clients, self.nginx = [], [], None
        self.site.build_network()
        self.site.start_units()
        self.unit = next(u for u in self.site.units if u.kind == "ipx")
        unit_at = f"{self.unit.address}:16385"
        name = self.unit.name
        self.base = {
            "direct": f"http://{unit_at}/gallery/",
            "tav": f"http://127.0.0.1:34/{name}-HTML/gallery/",
        }
        if shutil.which("nginx") or os.path.exists("/usr/sbin/nginx"):
            conf = os.path.join(self.work, "nginx.conf")
            with open(conf, "w") as f:
                f.write(NGINX_CONF.format(work=self.work, port=NGINX_PORT,
                                          name=name, unit=unit_at))
            log = open(os.path.join(self.work, "nginx.log"), "w")
            self.nginx = subprocess.Popen(
                [shutil.which("nginx") or "/usr/sbin/nginx", "-c", conf,
                 "-p", self.work], stdout=log, stderr=log,
                start_new_session=True)
            self.base["nginx"] = (f"http://127.0.0.1:{NGINX_PORT}/"
                                  f"{name}-HTML/gallery/")
        self.root = {k: v.removesuffix("gallery/")
                     for k, v in self.base.items()}
        self.site.start_tav()
        self.browser = self.site.browser().first_page()
        self.clients.append(self.browser)
        for port in [34] + ([NGINX_PORT] if self.nginx else []):
            cdp.poll(lambda: socket.create_connection(("127.0.0.1", port), 1),
                     30, f"port {port}")

    def open_browser(self, port):
        """Another headless browser, on CDP port `port`, its cache off."""
        argv = self.site.browser_argv()
        argv = [a for a in argv if not a.startswith("--remote-debugging")]
        argv.append(f"--remote-debugging-port={port}")
        log = open(os.path.join(self.work, f"chromium-{port}.log"), "w")
        p = subprocess.Popen(argv + ["about:blank"], stdout=log, stderr=log,
                             start_new_session=True)
        self.extra.append(p)
        self.clients.append(cdp.Browser(port, 60).first_page())
        return no_cache(self.clients[-1])

    def close(self):
        for client in self.clients:
            client.close(browser=False)
        for p in self.extra + ([self.nginx] if self.nginx else []):
            if p.poll() is None:
                p.kill()
                p.wait()
        self.site.close()
        shutil.rmtree(self.work, ignore_errors=True)


def no_cache(browser):
    browser.call("Network.enable")
    browser.call("Network.setCacheDisabled", cacheDisabled=True)
    return browser


def load(browser, url, timeout=60):
    """Loads the gallery; (load event in ms, images shown, frames shown)."""
    browser.navigate(url, timeout)
    images, frames = browser.evaluate(SHOWN)
    return browser.evaluate(LOAD_MS), images, frames


def load_at_once(browsers, url, timeout=60):
    """Each browser loads url at the same moment; their load() results."""
    results = [None] * len(browsers)
    start = threading.Barrier(len(browsers))

    def run(i):
        start.wait()
        try:
            results[i] = load(browsers[i], url, timeout)
        except (cdp.CdpError, OSError) as e:
            results[i] = e

    threads = [threading.Thread(target=run, args=(i,))
               for i in range(len(browsers))]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return results


def first_byte_ms(url):
    """One GET over a fresh connection: ms to its first answer byte."""
    host, _, path = url.removeprefix("http://").partition("/")
    address, _, port = host.partition(":")
    start = time.perf_counter()
    with socket.create_connection((address, int(port or 80)), 10) as s:
        s.sendall(f"GET /{path} HTTP/1.1\r\nHost: {host}\r\n"
                  "Connection: close\r\n\r\n".encode())
        if not s.recv(1):
            raise OSError("no answer from " + url)
        took = time.perf_counter() - start
        while s.recv(65536):
            pass
    return took * 1000


def rate_mb_s(url):
    """A GET of url read to its end: (bytes, MB/s after the first byte)."""
    host, _, path = url.removeprefix("http://").partition("/")
    address, _, port = host.partition(":")
    buf = memoryview(bytearray(1 << 20))
    with socket.create_connection((address, int(port or 80)), 30) as s:
        s.sendall(f"GET /{path} HTTP/1.1\r\nHost: {host}\r\n"
                  "Connection: close\r\n\r\n".encode())
        total = s.recv_into(buf)
        start = time.perf_counter()
        while n := s.recv_into(buf):
            total += n
        took = time.perf_counter() - start
    return total, total / took / 1e6

