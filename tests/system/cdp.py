# SPDX-License-Identifier: MIT
"""Just enough of the Chrome DevTools protocol to load pages in headless
Chromium, in one tab or several, and evaluate expressions in them: a
WebSocket client on a socket per tab."""

import base64
import json
import os
import shutil
import socket
import struct
import subprocess
import tempfile
import time
import urllib.parse
import urllib.request

# Tabs in the background play on as the one in front does.
CHROMIUM_FLAGS = ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic",
                  "--no-first-run", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync",
                  "--disable-background-timer-throttling", "--disable-renderer-backgrounding",
                  "--disable-backgrounding-occluded-windows"]


class Tab:
    """One page target of the browser, driven over its own WebSocket."""

    def __init__(self, url):
        self.sock = None
        self.next_id = 0
        self._connect(url)

    def _connect(self, url):
        rest = url.split("://", 1)[1]
        hostport, path = rest.split("/", 1)
        host, port = hostport.split(":")
        self.sock = socket.create_connection((host, int(port)), timeout=30)
        key = base64.b64encode(os.urandom(16)).decode()
        self.sock.sendall((f"GET /{path} HTTP/1.1\r\nHost: {hostport}\r\nUpgrade: websocket\r\n"
                           f"Connection: Upgrade\r\nSec-WebSocket-Key: {key}\r\n"
                           "Sec-WebSocket-Version: 13\r\n\r\n").encode())
        response = b""
        while b"\r\n\r\n" not in response:
            response += self.sock.recv(4096)
        assert b" 101 " in response.split(b"\r\n", 1)[0], response

    def _send(self, text):
        data = text.encode()
        mask = os.urandom(4)
        header = bytes([0x81])
        n = len(data)
        if n < 126:
            header += bytes([0x80 | n])
        elif n < 65536:
            header += bytes([0x80 | 126]) + struct.pack(">H", n)
        else:
            header += bytes([0x80 | 127]) + struct.pack(">Q", n)
        masked = bytes(b ^ mask[i % 4] for i, b in enumerate(data))
        self.sock.sendall(header + mask + masked)

    def _recv_exact(self, n):
        data = b""
        while len(data) < n:
            chunk = self.sock.recv(n - len(data))
            if not chunk:
                raise ConnectionError("devtools connection closed")
            data += chunk
        return data

    def _recv(self):
        message = b""
        while True:
            b0, b1 = self._recv_exact(2)
            n = b1 & 0x7F
            if n == 126:
                n = struct.unpack(">H", self._recv_exact(2))[0]
            elif n == 127:
                n = struct.unpack(">Q", self._recv_exact(8))[0]
            message += self._recv_exact(n)
            if b0 & 0x80:
                return message.decode()

    def call(self, method, **params):
        self.next_id += 1
        self._send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            reply = json.loads(self._recv())
            if reply.get("id") == self.next_id:
                return reply.get("result", {})

    def evaluate(self, expression):
        result = self.call("Runtime.evaluate", expression=expression, returnByValue=True)
        return result.get("result", {}).get("value")

    def close(self):
        if self.sock:
            self.sock.close()


class Browser:
    """Headless Chromium with its first tab; `call` and `evaluate` go to that
    tab, `open_tab` opens more."""

    def __init__(self, port=9333):
        self.port = port
        self.profile = tempfile.mkdtemp(prefix="chromium-")
        exe = shutil.which("chromium") or shutil.which("chromium-browser")
        self.proc = subprocess.Popen([exe, *CHROMIUM_FLAGS, f"--remote-debugging-port={port}",
                                      f"--user-data-dir={self.profile}", "about:blank"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 30
        while True:
            try:
                with urllib.request.urlopen(f"http://127.0.0.1:{port}/json/list", timeout=2) as r:
                    pages = [t for t in json.load(r) if t["type"] == "page"]
                if pages:
                    break
            except OSError:
                pass
            if time.time() > deadline:
                raise RuntimeError("chromium did not start")
            time.sleep(0.2)
        self.tab = Tab(pages[0]["webSocketDebuggerUrl"])
        self.tabs = [self.tab]

    def open_tab(self, url):
        """A new tab that loads `url`, beside the others."""
        quoted = urllib.parse.quote(url, safe=":/?=&")
        request = urllib.request.Request(f"http://127.0.0.1:{self.port}/json/new?{quoted}",
                                         method="PUT")
        with urllib.request.urlopen(request, timeout=30) as r:
            target = json.load(r)
        tab = Tab(target["webSocketDebuggerUrl"])
        self.tabs.append(tab)
        return tab

    def call(self, method, **params):
        return self.tab.call(method, **params)

    def evaluate(self, expression):
        return self.tab.evaluate(expression)

    def close(self):
        for tab in self.tabs:
            tab.close()
        self.proc.terminate()
        self.proc.wait(timeout=30)
        shutil.rmtree(self.profile, ignore_errors=True)
