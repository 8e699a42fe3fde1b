"""The main job as a newcomer sees it: the simulated board streams MJPEG
through busybox httpd to a page in a real browser."""

import socket
import subprocess
import time
from pathlib import Path

import pytest

from cdp import Browser

SITE = Path(__file__).resolve().parents[2] / "demo" / "make_site.sh"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


@pytest.fixture
def server(programs, tmp_path):
    www, sim = tmp_path / "www", tmp_path / "sim"
    emulator = programs.emulator
    subprocess.run(["sh", str(SITE), str(www), str(programs.path("vcapture")),
                    str(programs.libdir / "libboardsim.so"), str(sim), *emulator], check=True)
    port = free_port()
    httpd = subprocess.Popen(["busybox", "httpd", "-f", "-p", f"127.0.0.1:{port}", "-h", str(www)])
    time.sleep(0.3)
    yield f"http://127.0.0.1:{port}/", sim
    httpd.terminate()
    httpd.wait(timeout=10)


def test_response_head_comes_from_the_server_and_body_from_vcapture(server):
    url, _ = server
    with socket.create_connection(("127.0.0.1", int(url.split(":")[2].strip("/")))) as s:
        s.sendall(b"GET /cgi-bin/stream HTTP/1.0\r\n\r\n")
        data = b""
        while data.count(b"--frame\r\n") < 3:
            chunk = s.recv(65536)
            assert chunk
            data += chunk
    head, body = data.split(b"\r\n\r\n", 1)
    assert head.startswith(b"HTTP/1.")
    assert b"Content-Type: multipart/x-mixed-replace; boundary=frame" in head
    assert body.startswith(b"--frame\r\nContent-Type: image/jpeg\r\nContent-Length: ")


def test_browser_shows_frames_that_change(server):
    url, sim = server
    browser = Browser(port=free_port())
    try:
        browser.call("Page.navigate", url=url)
        frames = []
        deadline = time.time() + 60
        while time.time() < deadline:
            time.sleep(0.5)
            shown = browser.evaluate("document.body ? document.body.dataset.frames || '' : ''")
            frames = [int(f) for f in shown.split(",") if f]
            if len(frames) >= 3:
                break
        assert len(frames) >= 3, frames
        assert frames == sorted(frames) and len(set(frames)) == len(frames)
        shot = browser.call("Page.captureScreenshot", format="png")
        assert len(shot["data"]) > 1000
    finally:
        browser.close()
    assert sum(l.startswith("VIDIOC_DQBUF index") for l in (sim / "trace").read_text().splitlines()) >= 3
