#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""How soon after a frame's last byte a browser's <img> shows it, for
vshare's stream with and without advance_headers, at 15 fps, in headless
Chromium and Firefox ESR.

vshare runs on the simulated camera; a loopback proxy between it and the
browser notes when it hands over the last byte of each picture (its JPEG end
marker and CR LF). In Chromium the page polls its <img> as fast as the
event loop lets it, drawing the picture's top band to a canvas and reading
the frame number the simulator drew there; the delay per frame is the time
the number first appears minus the time its last byte went out, the frames
matched by decoding the forwarded pictures with ffmpeg afterwards. Firefox
fires a load event for each part it shows; there the k-th event is matched
with the k-th picture.

Usage: bench/page_latency.py [BUILD_DIR] [SECONDS]   (default build/native, 10)
"""

import json
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(ROOT / "tests" / "system"))
import http_site  # noqa: E402
from bidi import Firefox  # noqa: E402
from cdp import Browser  # noqa: E402
from pictures import ffmpeg_gray, sequences_in_gray  # noqa: E402

PAGE = """<!DOCTYPE html><html><body style="margin:0">
<img id="view" src="%s" width="640" height="480">
<script>
const view = document.getElementById("view");
const context = document.createElement("canvas").getContext("2d");
context.canvas.width = 640;
context.canvas.height = 16;
// The frame number on each change of the picture, with the time.
window.seen = [];
let last = -1;
function look() {
  if (view.complete && view.naturalWidth > 0) {
    context.drawImage(view, 0, 0, 640, 16, 0, 0, 640, 16);
    const row = context.getImageData(0, 8, 640, 1).data;
    let number = 0;
    for (let bit = 0; bit < 32; bit++) {
      const at = (bit * 20 + 10) * 4;
      number = number * 2 + (Math.max(row[at], row[at + 1], row[at + 2]) > 128 ? 1 : 0);
    }
    if (number !== last) {
      last = number;
      seen.push([number, performance.timeOrigin + performance.now()]);
    }
  }
}
// Firefox announces each part with a load event (Chromium only the first):
// their times, in order, are its measure. A canvas there keeps drawing the
// stream's first part, and a busy loop starves the refresh driver that
// updates the picture.
window.loads = [];
view.addEventListener("load", () => loads.push(performance.timeOrigin + performance.now()));
// In Chromium, as often as the event loop allows: a message posted to
// itself runs after whatever the network and the decoder have queued.
if (%s) {
  const channel = new MessageChannel();
  channel.port1.onmessage = () => { look(); channel.port2.postMessage(0); };
  channel.port2.postMessage(0);
}
</script></body></html>"""


class Proxy:
    """Forwards one browser's connections to vshare, noting for the stream
    the time each picture's last byte was handed to the browser."""

    def __init__(self, upstream):
        self.upstream = upstream
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.port = self.listener.getsockname()[1]
        self.ends = []      # (time the picture's last byte went out, picture)
        threading.Thread(target=self._accept, daemon=True).start()

    def _accept(self):
        while True:
            client, _ = self.listener.accept()
            client.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            server = socket.create_connection(("127.0.0.1", self.upstream))
            server.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            threading.Thread(target=self._pump, args=(client, server), daemon=True).start()
            threading.Thread(target=self._pump_back, args=(server, client), daemon=True).start()

    @staticmethod
    def _pump(source, sink):
        try:
            while data := source.recv(65536):
                sink.sendall(data)
        except OSError:
            pass

    def _pump_back(self, source, sink):
        body = b""
        try:
            while data := source.recv(65536):
                sink.sendall(data)
                now = time.time()
                body += data
                # A picture ends with its end marker and the part's CR LF.
                while (end := body.find(b"\xff\xd9\r\n")) >= 0:
                    start = body.rfind(b"\r\n\r\n", 0, end)
                    self.ends.append((now, body[start + 4:end + 2]))
                    body = body[end + 4:]
        except OSError:
            pass


def delays(proxy, seen, work):
    """Delay per frame, in ms, from its last byte to the browser showing it."""
    if not proxy.ends:
        return []
    pictures = work / "pictures.mjpeg"
    pictures.write_bytes(b"".join(p for _, p in proxy.ends))
    numbers = sequences_in_gray(ffmpeg_gray(["-f", "mjpeg"], pictures), 640, 480)
    sent = {n: t for n, (t, _) in zip(numbers, proxy.ends)}
    return [(shown / 1000 - sent[n]) * 1000 for n, shown in seen if n in sent]


def measure(browser_name, variant, build, seconds, work):
    www = work / f"www-{browser_name}-{variant}"
    www.mkdir()
    path = "/stream?advance_headers=1" if variant == "advance_headers" else "/stream"
    (www / "index.html").write_text(PAGE % (path, str(browser_name == "chromium").lower()))
    port = http_site.free_port()
    env = dict(os.environ, BOARDSIM_DIR=str(work / f"sim-{browser_name}-{variant}"),
               LD_PRELOAD=str(build / "lib" / "libboardsim.so"))
    Path(env["BOARDSIM_DIR"]).mkdir()
    run = work / f"run-{browser_name}-{variant}"
    run.mkdir()
    vshare = subprocess.Popen([str(build / "bin" / "vshare"), "-listen", f"127.0.0.1:{port}",
                               "-www", str(www), "-no-auth", "-socket", str(run / "v.sock"),
                               "-vcapture", str(build / "bin" / "vcapture"), "-fps", "15"],
                              env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(0.5)
    proxy = Proxy(port)
    browser = None
    try:
        url = f"http://127.0.0.1:{proxy.port}/"
        if browser_name == "chromium":
            browser = Browser(port=http_site.free_port())
            browser.call("Page.navigate", url=url)
        else:
            browser = Firefox(port=http_site.free_port())
            browser.navigate(url)
        time.sleep(seconds)
        seen = browser.evaluate("JSON.stringify(seen)")
        loads = browser.evaluate("JSON.stringify(loads)")
    finally:
        if browser:
            browser.close()
        vshare.terminate()
        vshare.wait(timeout=30)
    if browser_name == "firefox":
        # The k-th load event announces the k-th part.
        return [(shown / 1000 - sent) * 1000
                for shown, (sent, _) in zip(json.loads(loads or "[]"), proxy.ends)], len(proxy.ends)
    return delays(proxy, json.loads(seen or "[]"), work), len(proxy.ends)


def main():
    build = Path(sys.argv[1] if len(sys.argv) > 1 else ROOT / "build" / "native").resolve()
    seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 10
    print(f"{'browser':10} {'stream':16} {'frames':>6} {'shown':>6} "
          f"{'p10 ms':>7} {'median':>7} {'p90':>7}")
    with tempfile.TemporaryDirectory() as directory:
        for browser_name in ("chromium", "firefox"):
            for variant in ("plain", "advance_headers"):
                values, sent = measure(browser_name, variant, build, seconds, Path(directory))
                # The first frames arrive while the page still loads.
                values = sorted(values[5:])
                if len(values) < 3:
                    print(f"{browser_name:10} {variant:16} {sent:6} {len(values):6}  (too few)")
                    continue
                q = statistics.quantiles(values, n=10)
                print(f"{browser_name:10} {variant:16} {sent:6} {len(values):6} "
                      f"{q[0]:7.1f} {statistics.median(values):7.1f} {q[-1]:7.1f}")


if __name__ == "__main__":
    main()
