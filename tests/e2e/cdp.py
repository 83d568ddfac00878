"""A small client of the browser's remote debugging protocol, standard
library only: enough to find the page target, evaluate scripts, navigate,
take screenshots and close the browser."""

import base64
import hashlib
import json
import os
import socket
import struct
import time
import urllib.request


class CdpError(Exception):
    pass


class WebSocket:
    """A minimal client WebSocket (text frames, no extensions)."""

    def __init__(self, url, timeout=30):
        assert url.startswith("ws://")
        rest = url[len("ws://"):]
        hostport, _, path = rest.partition("/")
        host, _, port = hostport.partition(":")
        self.sock = socket.create_connection((host, int(port or 80)), timeout)
        key = base64.b64encode(os.urandom(16)).decode()
        request = (
            f"GET /{path} HTTP/1.1\r\nHost: {hostport}\r\n"
            "Upgrade: websocket\r\nConnection: Upgrade\r\n"
            f"Sec-WebSocket-Key: {key}\r\nSec-WebSocket-Version: 13\r\n\r\n")
        self.sock.sendall(request.encode())
        response = b""
        while b"\r\n\r\n" not in response:
            chunk = self.sock.recv(4096)
            if not chunk:
                raise CdpError("websocket handshake: connection closed")
            response += chunk
        head, _, self.pending = response.partition(b"\r\n\r\n")
        if b" 101 " not in head.split(b"\r\n")[0]:
            raise CdpError("websocket handshake refused: %r" % head[:80])
        accept = base64.b64encode(hashlib.sha1(
            (key + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11").encode()).digest())
        if accept not in head:
            raise CdpError("websocket handshake: bad accept key")

    def send(self, text):
        data = text.encode()
        header = bytearray([0x81])
        n = len(data)
        if n < 126:
            header.append(0x80 | n)
        elif n < 65536:
            header.append(0x80 | 126)
            header += struct.pack(">H", n)
        else:
            header.append(0x80 | 127)
            header += struct.pack(">Q", n)
        mask = os.urandom(4)
        header += mask
        masked = bytes(b ^ mask[i % 4] for i, b in enumerate(data))
        self.sock.sendall(bytes(header) + masked)

    def _read(self, n):
        while len(self.pending) < n:
            chunk = self.sock.recv(65536)
            if not chunk:
                raise CdpError("websocket closed")
            self.pending += chunk
        out, self.pending = self.pending[:n], self.pending[n:]
        return out

    def receive(self):
        message = b""
        while True:
            b0, b1 = self._read(2)
            n = b1 & 0x7F
            if n == 126:
                n = struct.unpack(">H", self._read(2))[0]
            elif n == 127:
                n = struct.unpack(">Q", self._read(8))[0]
            if b1 & 0x80:
                mask = self._read(4)
                payload = bytes(b ^ mask[i % 4]
                                for i, b in enumerate(self._read(n)))
            else:
                payload = self._read(n)
            opcode = b0 & 0x0F
            if opcode == 0x8:
                raise CdpError("websocket closed by the browser")
            if opcode in (0x9, 0xA):
                continue  # ping/pong
            message += payload
            if b0 & 0x80:
                return message.decode("utf-8", "replace")

    def close(self):
        try:
            self.sock.close()
        except OSError:
            pass


class Browser:
    """The browser behind a remote debugging port."""

    def __init__(self, port, timeout=60):
        self.port = port
        deadline = time.time() + timeout
        last = None
        while time.time() < deadline:
            try:
                with urllib.request.urlopen(
                        f"http://127.0.0.1:{port}/json/version", timeout=5) as r:
                    self.version = json.load(r)
                break
            except OSError as e:
                last = e
                time.sleep(0.3)
        else:
            raise CdpError(f"no browser on debugging port {port}: {last}")
        self.ws = WebSocket(self.version["webSocketDebuggerUrl"])
        self.next_id = 0
        self.events = []

    def call(self, method, session=None, timeout=60, **params):
        self.next_id += 1
        msg = {"id": self.next_id, "method": method, "params": params}
        if session:
            msg["sessionId"] = session
        self.ws.send(json.dumps(msg))
        self.ws.sock.settimeout(timeout)
        while True:
            reply = json.loads(self.ws.receive())
            if reply.get("id") == self.next_id:
                if "error" in reply:
                    raise CdpError(f"{method}: {reply['error']}")
                return reply.get("result", {})
            self.events.append(reply)

    def page_targets(self):
        return [t for t in self.call("Target.getTargets")["targetInfos"]
                if t["type"] == "page"]

    def attach(self, target_id):
        return Page(self, self.call("Target.attachToTarget",
                                    targetId=target_id,
                                    flatten=True)["sessionId"])

    def first_page(self, timeout=60):
        deadline = time.time() + timeout
        while time.time() < deadline:
            pages = self.page_targets()
            if pages:
                return self.attach(pages[0]["targetId"])
            time.sleep(0.3)
        raise CdpError("the browser shows no page")

    def close(self):
        try:
            self.call("Browser.close", timeout=10)
        except (CdpError, OSError):
            pass
        self.ws.close()


class Page:
    def __init__(self, browser, session):
        self.browser = browser
        self.session = session
        self.call("Page.enable")
        self.call("Runtime.enable")

    def call(self, method, **params):
        return self.browser.call(method, session=self.session, **params)

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", expression=expression,
                           returnByValue=True, awaitPromise=True)
        if "exceptionDetails" in result:
            raise CdpError(f"script failed: {result['exceptionDetails']}")
        return result["result"].get("value")

    def wait_for(self, expression, timeout=60, what=None):
        deadline = time.time() + timeout
        value = None
        while time.time() < deadline:
            try:
                value = self.evaluate(expression)
            except CdpError:
                value = None
            if value:
                return value
            time.sleep(0.25)
        raise CdpError(f"timed out waiting for {what or expression}")

    def url(self):
        return self.evaluate("location.href")

    # A mark on the shown document: a new document does not have it, so
    # waiting for its absence waits for the next page even when the URL
    # stays the same (a reload).
    _MARK = "window.__cdpShown"

    def _mark(self):
        self.evaluate(f"{self._MARK} = true")

    def _wait_for_new_document(self, condition, timeout, what):
        self.wait_for(f"!{self._MARK} && document.readyState === 'complete'"
                      f" && ({condition})", timeout, what=what)

    def navigate(self, url, timeout=60):
        """Loads url (also the URL already shown) and waits until it has
        loaded."""
        self._mark()
        self.call("Page.navigate", url=url)
        self._wait_for_new_document(f"location.href === {json.dumps(url)}",
                                    timeout, f"page {url}")

    def click_link(self, href_part, timeout=60):
        """Clicks the first link whose href contains href_part and waits
        until the next page has loaded; returns the link's href."""
        before = self.url()
        self._mark()
        found = self.evaluate(
            "(() => { const a = [...document.links].find(l => "
            f"l.href.includes({json.dumps(href_part)})); "
            "if (!a) return false; a.click(); return a.href; })()")
        if not found:
            raise CdpError(f"no link containing {href_part!r} on {before}")
        self._wait_for_new_document("true", timeout,
                                    f"page after clicking {found}")
        return found

    def screenshot(self, path):
        data = self.call("Page.captureScreenshot", format="png")["data"]
        with open(path, "wb") as f:
            f.write(base64.b64decode(data))
        return path
