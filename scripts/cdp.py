"""A small client of the browser's remote debugging protocol (stdlib only)."""

import base64
import contextlib
import json
import os
import socket
import struct
import time
import urllib.parse
import urllib.request

# A page loaded and showing links (the discovery page is never without).
LISTED = "document.readyState === 'complete' && document.links.length > 0"


class CdpError(Exception):
    pass


def poll(probe, timeout, what, every=0.25):
    """probe()'s first true value within `timeout` s; failures: not yet."""
    deadline, problem = time.time() + timeout, ""
    while time.time() < deadline:
        try:
            if value := probe():
                return value
        except (CdpError, OSError) as e:
            problem = f" ({e})"
        time.sleep(every)
    raise CdpError(f"timed out waiting for {what}{problem}")


class Browser:
    """The browser at a port; first_page() picks the tab the calls act on."""

    def __init__(self, port, timeout=60):
        url = urllib.parse.urlsplit(poll(lambda: json.load(
            urllib.request.urlopen(f"http://127.0.0.1:{port}/json/version",
                                   timeout=5))["webSocketDebuggerUrl"],
            timeout, f"port {port}"))
        self.sock = socket.create_connection((url.hostname, url.port), 30)
        self.sock.sendall(
            f"GET {url.path} HTTP/1.1\r\nHost: {url.netloc}\r\nUpgrade: "
            "websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: "
            f"{base64.b64encode(os.urandom(16)).decode()}\r\n"
            "Sec-WebSocket-Version: 13\r\n\r\n".encode())
        self.file = self.sock.makefile("rb")
        if b" 101 " not in (status := self.file.readline()):
            raise CdpError(f"websocket handshake refused: {status!r}")
        while self.file.readline().strip():
            pass
        self.next_id, self.session = 0, None

    def _read(self, n):
        if len(data := self.file.read(n)) < n:
            raise CdpError("websocket closed")
        return data

    def _send(self, text):
        data, mask = text.encode(), os.urandom(4)
        n = len(data)
        header = (bytes([0x81, 0x80 | n]) if n < 126 else
                  bytes([0x81, 0x80 | 126]) + struct.pack(">H", n))
        self.sock.sendall(header + mask +
                          bytes(b ^ mask[i % 4] for i, b in enumerate(data)))

    def _receive(self):  # the browser's frames are unmasked
        message = b""
        while True:
            b0, b1 = self._read(2)
            n = b1 & 0x7F
            if n >= 126:
                n = struct.unpack(">H" if n == 126 else ">Q",
                                  self._read(2 if n == 126 else 8))[0]
            payload, opcode = self._read(n), b0 & 0x0F
            if opcode == 0x8:
                raise CdpError("websocket closed by the browser")
            message += payload  # (the browser sends no ping)
            if b0 & 0x80:
                return message.decode("utf-8", "replace")

    def call(self, method, timeout=60, **params):
        self.next_id += 1
        msg = {"id": self.next_id, "method": method, "params": params}
        if self.session and method.split(".")[0] not in ("Target", "Browser"):
            msg["sessionId"] = self.session  # the tab's
        self._send(json.dumps(msg))
        self.sock.settimeout(timeout)
        while True:  # events are skipped
            reply = json.loads(self._receive())
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise CdpError(f"{method}: {reply['error']}")
                return reply.get("result", {})

    def first_page(self, timeout=60, match=lambda url: True):
        target = poll(lambda: next(
            (t["targetId"] for t in self.call("Target.getTargets")
             ["targetInfos"] if t["type"] == "page" and match(t["url"])),
            None), timeout, "a page in the browser")
        self.session = self.call("Target.attachToTarget", targetId=target,
                                 flatten=True)["sessionId"]
        return self

    def close(self, browser=True):  # browser=False: leaves it running
        if browser:
            with contextlib.suppress(CdpError, OSError):
                self.call("Browser.close", timeout=10)
        self.file.close()
        self.sock.close()

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", expression=expression,
                           returnByValue=True, awaitPromise=True)
        if "exceptionDetails" in result:
            raise CdpError(f"script failed: {result['exceptionDetails']}")
        return result["result"].get("value")

    def wait_for(self, expression, timeout=60, what=None):
        return poll(lambda: self.evaluate(expression), timeout,
                    what or expression)

    def url(self):
        return self.evaluate("location.href")

    def _load(self, start, condition, timeout, what):
        # The next document lacks the mark, even at the same URL.
        self.evaluate("window.__shown = true")
        start()
        self.wait_for("!window.__shown && document.readyState === "
                      f"'complete' && ({condition})", timeout, what)

    def navigate(self, url, timeout=60):
        self._load(lambda: self.call("Page.navigate", url=url),
                   f"location.href === {json.dumps(url)}", timeout, url)

    def click_link(self, href_part, timeout=60):
        """Clicks the first link whose href contains href_part."""
        self._load(lambda: self.evaluate(
            "[...document.links].find(l => l.href.includes("
            f"{json.dumps(href_part)})).click()"), "true", timeout,
            f"the page behind {href_part}")

    def screenshot(self, path):
        data = self.call("Page.captureScreenshot", format="png")["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))
        return path
