"""The main job as a newcomer sees it: the simulated board streams MJPEG
through busybox httpd to a page in a real browser."""

import os
import signal
import socket
import subprocess
import time
from pathlib import Path

import pytest

from cdp import Browser

SERVE = Path(__file__).resolve().parents[2] / "demo" / "serve.sh"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Demo:
    """demo/serve.sh, the part of tools/demo.sh after the build, with this
    build's programs, in a session of its own."""

    def __init__(self, programs, work, settings=None):
        self.www, self.sim = work / "www", work / "sim"
        self.port = free_port()
        self.url = f"http://127.0.0.1:{self.port}/"
        self.proc = subprocess.Popen(
            ["bash", str(SERVE), str(self.port), str(work), str(programs.path("vcapture")),
             str(programs.libdir / "libboardsim.so"), *programs.emulator],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True,
            # Simulator settings reach vcapture through the server and the CGI.
            env={**os.environ, **(settings or {})},
            # As from a terminal, even where this test runs with SIGINT ignored
            # (started in the background), which the script could not undo.
            preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
        deadline = time.time() + 30
        while not self.accepts():
            assert self.proc.poll() is None and time.time() < deadline, "the server did not start"
            time.sleep(0.1)

    def accepts(self):
        try:
            socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
            return True
        except OSError:
            return False

    def get(self, path):
        """One whole response: status line, head fields and body."""
        with socket.create_connection(("127.0.0.1", self.port), timeout=60) as s:
            s.sendall(f"GET {path} HTTP/1.0\r\n\r\n".encode())
            data = b""
            while chunk := s.recv(65536):
                data += chunk
        head, body = data.split(b"\r\n\r\n", 1)
        status, *fields = head.decode().split("\r\n")
        return status, dict(f.split(": ", 1) for f in fields), body

    def stream(self, frames):
        """A client that has received the given number of parts of the stream."""
        s = socket.create_connection(("127.0.0.1", self.port), timeout=60)
        s.sendall(b"GET /cgi-bin/stream HTTP/1.0\r\n\r\n")
        data = b""
        while data.count(b"--frame\r\n") < frames:
            chunk = s.recv(65536)
            assert chunk, data[:200]
            data += chunk
        return s, data

    def processes(self):
        """Every process that serves this demo's site or streams from its board."""
        found = []
        for entry in Path("/proc").iterdir():
            if not entry.name.isdigit() or int(entry.name) == os.getpid():
                continue
            try:
                environ = (entry / "environ").read_bytes().split(b"\0")
                cmdline = (entry / "cmdline").read_bytes().split(b"\0")
            except OSError:
                continue  # gone meanwhile, or not ours to read
            if f"BOARDSIM_DIR={self.sim}".encode() in environ or str(self.www).encode() in cmdline:
                found.append((int(entry.name), b" ".join(cmdline).decode(errors="replace")))
        return found

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(timeout=30)
            except subprocess.TimeoutExpired:
                os.killpg(self.proc.pid, signal.SIGKILL)
                self.proc.wait(timeout=10)
        for pid, _ in self.processes():
            os.kill(pid, signal.SIGKILL)


@pytest.fixture
def demo(programs, tmp_path):
    demo = Demo(programs, tmp_path)
    yield demo
    demo.stop()


@pytest.fixture
def server(demo):
    return demo.url, demo.sim


def picture_size(jpeg, tmp_path):
    """Width and height of a JPEG picture as ffprobe decodes it."""
    path = tmp_path / "picture.jpg"
    path.write_bytes(jpeg)
    result = subprocess.run(["ffprobe", "-v", "error", "-show_entries", "stream=width,height",
                             "-of", "csv=p=0", str(path)], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, timeout=60)
    assert result.returncode == 0 and result.stderr == b"", result.stderr.decode()
    return result.stdout.decode().strip()


def test_snapshot_is_one_whole_jpeg_picture(demo, tmp_path):
    status, fields, body = demo.get("/cgi-bin/snapshot")
    assert status.split()[1] == "200"
    assert fields["Content-Type"] == "image/jpeg"
    assert int(fields["Content-Length"]) == len(body)
    assert body[:2] == b"\xff\xd8" and body[-2:] == b"\xff\xd9"
    assert picture_size(body, tmp_path) == "640,480"


def test_snapshot_without_a_camera_is_an_error_not_an_empty_picture(programs, tmp_path):
    demo = Demo(programs, tmp_path / "work", {"BOARDSIM_OPEN_ERRNO": "ENODEV"})
    try:
        status, fields, body = demo.get("/cgi-bin/snapshot")
    finally:
        demo.stop()
    assert status.split()[1:3] == ["503", "Service"]
    assert fields["Content-Type"] == "text/plain"
    assert body == b"The camera gave no picture.\n"


@pytest.mark.parametrize("sig, status", [(signal.SIGINT, 130), (signal.SIGTERM, 143)])
def test_a_stop_signal_ends_the_server_and_every_stream(demo, sig, status):
    # The camera serves one streamer at a time: one client streams, another
    # holds a connection whose request the server is still waiting for.
    clients = [demo.stream(2)[0], socket.create_connection(("127.0.0.1", demo.port), timeout=60)]
    streaming = [c for _, c in demo.processes() if "vcapture" in c]
    assert len(streaming) == 1, demo.processes()
    demo.proc.send_signal(sig)  # to the script alone, as kill(1) would
    ended = demo.proc.wait(timeout=60)
    deadline = time.time() + 10
    while demo.processes() and time.time() < deadline:
        time.sleep(0.1)
    assert demo.processes() == []
    assert ended == status
    assert not demo.accepts()
    for client in clients:
        with client:
            client.settimeout(30)
            while client.recv(65536):
                pass  # the stream ends instead of hanging


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
