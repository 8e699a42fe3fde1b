# SPDX-License-Identifier: MIT
"""The board's packages installed in the board's own userland (armhf Debian
12, run by qemu-user-static): the manual pages, the GStreamer element, the
live view served by vshare, and the register and module tools."""

import os
import re
import signal
import socket
import subprocess
import time
from base64 import b64encode
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import pytest

import http_site
from systemd_units import exec_start, unit_settings
from project import VERSION
from conftest import PACKAGES, SIMULATOR
from pictures import ffmpeg_gray, picture_size, sequences_in_gray


# --- the installation ----------------------------------------------------------

def test_packages_install_with_their_dependencies_from_the_archive(board):
    result = board.run("dpkg-query -W -f '${Package} ${Architecture} ${db:Status-Abbrev}\\n' "
                       + " ".join(PACKAGES))
    assert result.returncode == 0, result.stderr
    assert sorted(result.stdout.split("\n")[:-1]) == [
        "camboard-liveview all ii ", "camboard-tools armhf ii ", "gstreamer1.0-vxrate armhf ii "]


def test_programs_run_as_arm_processes(board):
    result = board.run("uname -m; od -An -tx1 -N20 /usr/bin/vcapture")
    words = result.stdout.split()
    assert words[0] == "armv7l"
    # ELF, 32-bit, little-endian, machine 0x28 (ARM).
    assert words[1:7] == ["7f", "45", "4c", "46", "01", "01"]
    assert words[19:21] == ["28", "00"]


def test_no_package_carries_the_simulator(board):
    files = board.run("dpkg -L " + " ".join(PACKAGES)).stdout
    assert "boardsim" not in files and "pixim_emulator" not in files
    assert board.run("grep -rl -i -e boardsim -e LD_PRELOAD /usr/share/camboard-liveview "
                     "/etc/camboard-liveview /lib/systemd/system/camboard-vshare.socket "
                     "/lib/systemd/system/camboard-vshare.service").stdout == ""


# --- manual pages ------------------------------------------------------------------

@pytest.mark.parametrize("section, page", [("1", "vcapture"), ("1", "fdiv"), ("8", "sensreg"),
                                           ("8", "sensdump"), ("8", "isptune"), ("7", "vxrate")])
def test_man_renders_the_installed_page(board, section, page):
    result = board.run(f"man {section} {page}",
                       env={"MANPAGER": "cat", "MANWIDTH": "80"})
    assert (result.returncode, result.stderr) == (0, "")
    lines = result.stdout.splitlines()
    assert lines[0].startswith(f"{page.upper()}({section})")
    assert re.search(rf"^NAME\n +{page} - \S", result.stdout, re.M)
    assert max(len(line) for line in lines) <= 80


# --- the GStreamer element -----------------------------------------------------------

def gst(board, command):
    # The output is decoded without universal newlines: each buffer's line
    # starts with "\r".
    result = board.run(command, timeout=600)
    assert result.returncode == 0, result.stderr
    return result


def test_inspect_finds_the_installed_element(board):
    out = gst(board, "gst-inspect-1.0 vxrate").stdout
    for line in ["Long-name                video frame rate analyzer",
                 "Klass                    Filter/Analyzer/Video",
                 "Description              Frame rate analyze/report filter",
                 f"Version                  {VERSION}",
                 "License                  MIT/X11",
                 "Binary package           camboard",
                 "+----GstBaseTransform\n                         +----GstVxRate"]:
        assert line in out
    # The installed file (the registry may name it through the /lib link).
    assert re.search(r"^  Filename +(/usr)?/lib/arm-linux-gnueabihf/gstreamer-1.0/libgst_vxrate.so$",
                     out, re.M)
    pads = out[out.index("Pad Templates:"):out.index("Element has no clocking")]
    assert re.search(r"SINK template: 'sink'\s+Availability: Always\s+Capabilities:\s+ANY", pads)
    assert re.search(r"SRC template: 'src'\s+Availability: Always\s+Capabilities:\s+ANY", pads)
    # Its manual page names every property it has.
    page = board.run("man 7 vxrate", env={"MANPAGER": "cat"}).stdout
    properties = re.findall(r"^  ([\w-]+)\s+: ", out.split("Element Properties:")[1], re.M)
    assert properties and [p for p in properties if p not in page] == []


def test_launch_reports_every_buffer_and_event(board):
    n = 12
    result = gst(board, f"gst-launch-1.0 -q videotestsrc num-buffers={n} ! "
                        "video/x-raw,framerate=25/1 ! vxrate ! fakesink sync=true")
    lines = result.stderr.split("\n")
    rates = [l for l in lines if l.startswith("\rvxrate: period(usec): ")]
    assert len(rates) == n
    assert rates[0] == "\rvxrate: period(usec):      0, rate(1/sec):  0.000"
    # Paced by the clock: the average holds even on a loaded, emulated machine.
    values = [float(l.rsplit(" ", 1)[1]) for l in rates[2:]]
    assert sum(values) / len(values) == pytest.approx(25.0, rel=0.25)
    events = [l for l in lines if l.startswith("vxrate: event (vxrate0 : sink) E (type: ")]
    names = [e.split(", ", 1)[1].split(",")[0] for e in events]
    assert names[:3] == ["GstEventStreamStart", "GstEventCaps", "GstEventSegment"]
    assert events[-1].endswith(", )")


def test_buffers_pass_unchanged(board):
    data = bytes(range(256)) * 400
    (board.path / "tmp/in.bin").write_bytes(data)
    gst(board, "gst-launch-1.0 -q filesrc location=/tmp/in.bin blocksize=999 ! vxrate ! "
               "filesink location=/tmp/out.bin")
    assert (board.path / "tmp/out.bin").read_bytes() == data


# --- the live view ---------------------------------------------------------------------

def vshare_unit(board):
    """camboard-vshare.service's [Service] settings, as (key, value) pairs."""
    return unit_settings(board.path / "lib/systemd/system/camboard-vshare.service")["Service"]


class LiveView:
    """The live view as its installed units start it: vshare from
    camboard-vshare.service's command line as the unit's user and group, with
    the runtime and state directories systemd would make for it and the
    simulator in its environment (vcapture inherits it), listening on a
    loopback port itself instead of taking port 80 from
    camboard-vshare.socket, and on the unix socket the service opens for the
    CGI scripts. Its first start makes the login used here."""

    RUNTIME = "run/camboard-liveview"
    STATE = "var/lib/camboard-liveview"

    def __init__(self, board, sim, log):
        self.board, self.sim = board, sim
        service = vshare_unit(board)
        vshare = dict(service)
        self.user = vshare["User"]
        user = f"{vshare['User']}:{vshare['Group']}"
        assert f"/run/{vshare['RuntimeDirectory']}" == f"/{self.RUNTIME}"
        assert f"/var/lib/{vshare['StateDirectory']}" == f"/{self.STATE}"
        # The package made the state directory; systemd would make the
        # runtime directory.
        assert board.run(f"install -d -o {vshare['User']} -g {vshare['Group']} "
                         f"/{self.RUNTIME}").returncode == 0
        self.port = http_site.free_port()
        self.log = log
        with log.open("wb") as stderr:
            settings = board.path / vshare["EnvironmentFile"].lstrip("-/")
            command = exec_start(service, settings.read_text())
            # Socket-activated, the service opens its unix socket too;
            # with -listen it is asked for.
            self.sharer = board.popen(command + ["-listen", f"127.0.0.1:{self.port}",
                                                 "-socket", f"/{self.RUNTIME}/vshare.sock"],
                                      env=sim.env, user=user, start_new_session=True,
                                      stdout=subprocess.DEVNULL, stderr=stderr)
        password = board.path / self.STATE / "admin.password"
        self._wait(lambda: self.accepts() and password.exists(), self.sharer, log.read_text)
        self.login = "admin:" + password.read_text().strip()

    @staticmethod
    def _wait(ready, proc, report):
        deadline = time.time() + 60
        while not ready():
            assert proc.poll() is None, report()
            assert time.time() < deadline, f"{proc.args} did not start"
            time.sleep(0.2)

    def accepts(self):
        return http_site.accepts(self.port)

    def connect(self, path, login=True):
        s = socket.create_connection(("127.0.0.1", self.port), timeout=120)
        field = f"Authorization: Basic {b64encode(self.login.encode()).decode()}\r\n"
        s.sendall(f"GET {path} HTTP/1.0\r\n{field if login else ''}\r\n".encode())
        return s

    def get(self, path, login=True):
        with self.connect(path, login) as s:
            data = b""
            while chunk := s.recv(65536):
                data += chunk
        head, body = data.split(b"\r\n\r\n", 1)
        status, *fields = head.decode().split("\r\n")
        return status, {k.lower(): v for k, v in (f.split(": ", 1) for f in fields)}, body

    def vcaptures(self):
        return self.board.processes("vcapture")

    def stop(self):
        # vshare ends every body and stops vcapture.
        self.sharer.terminate()
        try:
            self.sharer.wait(timeout=30)
        except subprocess.TimeoutExpired:
            pass
        try:
            os.killpg(self.sharer.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        self.sharer.wait(timeout=10)
        self.board.run(f"rm -rf /{self.RUNTIME} /{self.STATE}/*")


@pytest.fixture
def liveview(board, sim, tmp_path):
    view = LiveView(board, sim, tmp_path / "vshare.log")
    yield view
    view.stop()


def sequence_number(jpeg, tmp_path):
    """The frame number the simulator draws into a picture of 640x480."""
    path = tmp_path / "seq.jpg"
    path.write_bytes(jpeg)
    return sequences_in_gray(ffmpeg_gray([], path), 640, 480)[0]


def parts(data):
    """The JPEG pictures of a multipart body with the boundary "frame"."""
    pictures = []
    while True:
        match = re.match(rb"--frame\r\nContent-Type: image/jpeg\r\nContent-Length: (\d+)\r\n"
                         rb"(?:X-Timestamp: [\d.]+\r\n)?\r\n", data)
        if not match:
            return pictures, data
        start, length = match.end(), int(match.group(1))
        if len(data) < start + length + 2:
            return pictures, data
        assert data[start + length:start + length + 2] == b"\r\n"
        pictures.append(data[start:start + length])
        data = data[start + length + 2:]


def test_page_is_the_installed_one(liveview, board):
    status, fields, body = liveview.get("/")
    assert status.split()[1] == "200" and fields["content-type"].startswith("text/html")
    assert body == (board.path / "usr/share/camboard-liveview/www/index.html").read_bytes()
    assert b'<img id="view" src="/stream?advance_headers=1"' in body
    assert b'href="/snapshot"' in body


def test_stream_delivers_whole_jpeg_pictures_from_the_camera(liveview, tmp_path):
    wanted = 4
    with liveview.connect("/stream") as s:
        data = b""
        while b"\r\n\r\n" not in data:
            data += s.recv(65536)
        head, body = data.split(b"\r\n\r\n", 1)
        pictures, rest = parts(body)
        while len(pictures) < wanted:
            chunk = s.recv(65536)
            assert chunk, head
            more, rest = parts(rest + chunk)
            pictures += more
    assert head.startswith(b"HTTP/1.")
    assert b"\r\nContent-Type: multipart/x-mixed-replace; boundary=frame" in head
    for picture in pictures:
        assert picture[:2] == b"\xff\xd8" and picture[-2:] == b"\xff\xd9"
        assert picture_size(picture, tmp_path) == "640,480"
    seqs = [sequence_number(p, tmp_path) for p in pictures]
    assert seqs == sorted(seqs) and len(set(seqs)) == len(seqs), seqs
    # The viewer has gone: vshare stops vcapture a few seconds later.
    deadline = time.time() + 60
    while liveview.vcaptures() and time.time() < deadline:
        time.sleep(0.5)
    assert liveview.vcaptures() == []


def test_snapshot_delivers_one_whole_jpeg_picture(liveview, tmp_path):
    status, fields, body = liveview.get("/snapshot")
    assert status.split()[1] == "200"
    assert fields["content-type"] == "image/jpeg"
    assert int(fields["content-length"]) == len(body)
    assert body[:2] == b"\xff\xd8" and body[-2:] == b"\xff\xd9"
    assert picture_size(body, tmp_path) == "640,480"


def test_live_view_runs_as_its_own_user(liveview, sim):
    assert liveview.get("/snapshot")[0].split()[1] == "200"
    # Its first start made a login of its own, for its user alone.
    assert liveview.get("/snapshot", login=False)[0].split()[1] == "401"
    assert (f"vshare: no credentials file: created /{liveview.STATE}/users with the user admin, "
            f"whose password is in /{liveview.STATE}/admin.password") in liveview.log.read_text()
    listing = liveview.board.run(f"stat -c '%n %U %a' /{liveview.STATE}/users "
                                 f"/{liveview.STATE}/admin.password").stdout
    assert liveview.user == "camboard-view"
    assert listing == (f"/{liveview.STATE}/users camboard-view 600\n"
                       f"/{liveview.STATE}/admin.password camboard-view 600\n")
    # The simulator's files were made by vshare and the vcapture it started,
    # run as the unit's user.
    uid = liveview.board.run(f"id -u {liveview.user}").stdout.strip()
    made = list(sim.path("").iterdir())
    assert made and {str(f.stat().st_uid) for f in made} == {uid}


class Viewer:
    """A client of the stream that collects its pictures as they come."""

    def __init__(self, liveview):
        self.sock = liveview.connect("/stream")
        data = b""
        while b"\r\n\r\n" not in data:
            chunk = self.sock.recv(65536)
            assert chunk, data
            data += chunk
        self.head, self.rest = data.split(b"\r\n\r\n", 1)
        self.pictures, self.rest = parts(self.rest)

    def read(self, count):
        while len(self.pictures) < count:
            chunk = self.sock.recv(65536)
            assert chunk, self.rest[:200]
            more, self.rest = parts(self.rest + chunk)
            self.pictures += more
        return self.pictures


def test_streams_at_once_and_a_snapshot_share_one_capture(liveview, tmp_path):
    viewers = [Viewer(liveview), Viewer(liveview)]
    with ThreadPoolExecutor(3) as pool:
        # The two viewers read on while the snapshot is taken, as browsers do.
        streams = [pool.submit(v.read, 6) for v in viewers]
        status, fields, snapshot = liveview.get("/snapshot")
        streams = [s.result() for s in streams]
        capturing = liveview.vcaptures()
    for viewer in viewers:
        viewer.sock.close()
    assert status.split()[1] == "200" and fields["content-type"] == "image/jpeg"
    assert picture_size(snapshot, tmp_path) == "640,480"
    # One vcapture, started by vshare as the unit's user, serves them all.
    assert len(capturing) == 1
    uid = liveview.board.run(f"id -u {liveview.user}").stdout.strip()
    status_lines = (Path(f"/proc/{capturing[0]}/status")).read_text().splitlines()
    assert [l.split()[1] for l in status_lines if l.startswith("Uid:")] == [uid]
    seqs = [[sequence_number(p, tmp_path) for p in pictures] for pictures in streams]
    for numbers in seqs:
        assert numbers == sorted(numbers) and len(set(numbers)) == len(numbers), seqs
    # The same frame is the same picture for both viewers.
    common = set(seqs[0]) & set(seqs[1])
    assert common, seqs
    for seq in common:
        assert streams[0][seqs[0].index(seq)] == streams[1][seqs[1].index(seq)]


# The package's CGI scripts behind the board's own busybox httpd, started as
# its README says, with vshare running: each answer as the web server sends it.
CGI_ANSWERS = [
    # request, status, content type, pictures at least (None: no body)
    ("GET /cgi-bin/snapshot", "200", "image/jpeg", 1),
    ("GET /cgi-bin/stream", "200", "multipart/x-mixed-replace; boundary=frame", 3),
    ("HEAD /cgi-bin/stream", "200", "multipart/x-mixed-replace; boundary=frame", None),
    ("POST /cgi-bin/stream", "405", "text/plain", None),
]


@pytest.fixture
def web_server(board, liveview, tmp_path):
    """busybox httpd's port; its messages (and the scripts') in its log."""
    port = http_site.free_port()
    log = tmp_path / "httpd.log"
    with log.open("wb") as stderr:
        httpd = board.popen(["busybox", "httpd", "-f", "-p", f"127.0.0.1:{port}",
                             "-u", "www-data:video", "-h", "/usr/share/camboard-liveview/www",
                             "-c", "/etc/camboard-liveview/httpd.conf"],
                            start_new_session=True, stderr=stderr)
    LiveView._wait(lambda: http_site.accepts(port), httpd, log.read_text)
    yield port, log
    os.killpg(httpd.pid, signal.SIGKILL)
    httpd.wait(timeout=10)


def cgi_answer(port, request, pictures):
    """Status, content type and body of one answer, read to its end or, for
    a stream, until it has brought `pictures` pictures."""
    def enough(data):
        return (pictures and b"\r\n\r\n" in data and
                len(parts(data.split(b"\r\n\r\n", 1)[1])[0]) >= pictures)
    with socket.create_connection(("127.0.0.1", port), timeout=120) as s:
        s.sendall(f"{request} HTTP/1.0\r\nContent-Length: 0\r\n\r\n".encode())
        data = b""
        while not enough(data) and (chunk := s.recv(65536)):
            data += chunk
    head, body = data.split(b"\r\n\r\n", 1)
    status, *fields = head.decode().split("\r\n")
    return status.split()[1], dict(f.split(": ", 1) for f in fields).get("Content-Type"), body


@pytest.mark.parametrize("request_line, status, content_type, pictures", CGI_ANSWERS)
def test_a_web_server_relays_through_the_cgi_scripts(web_server, liveview, tmp_path,
                                                      request_line, status, content_type,
                                                      pictures):
    port, log = web_server
    got_status, got_type, body = cgi_answer(port, request_line, pictures)
    assert (got_status, got_type) == (status, content_type), \
        (body[:200], log.read_text(), liveview.log.read_text())
    if pictures is None:
        # A head alone or a refusal, and no capture started for it.
        assert b"\xff\xd8" not in body and liveview.vcaptures() == []
        return
    images = [body] if content_type == "image/jpeg" else parts(body)[0]
    assert len(images) >= pictures
    for image in images:
        assert image[:2] == b"\xff\xd8" and image[-2:] == b"\xff\xd9"
        assert picture_size(image, tmp_path) == "640,480"


# --- the register and module tools ---------------------------------------------------------

def test_sensor_register_tools(sim):
    result = sim.run("sensreg reg 0 0")
    assert (result.returncode, result.stdout, result.stderr) == (
        0, " 5401 0x1519 0001,0101,0001,1001\n", "")
    assert sim.run("sensreg reg 1 0x20 0x1234").returncode == 0
    assert sim.run("sensreg reg 1 0x20").stdout == " 4660 0x1234 0001,0010,0011,0100\n"
    lines = sim.run("sensdump 1").stdout.splitlines()
    assert len(lines) == 256
    assert lines[0x20] == "0x20:  4660 0x1234 0001,0010,0011,0100"


def test_isptune_with_the_module_on_the_serial_line(board, sim):
    module = board.popen(f"{SIMULATOR}/pixim_emulator", env=sim.env, stdout=subprocess.PIPE)
    try:
        ready = module.stdout.readline()
        assert ready.startswith(b"ready /dev/pts/"), ready
        assert sim.run("isptune --read --wb").stdout == "2\n"
        assert sim.run("isptune --write --gamma 1").stdout == "gamma mode = 1\nOK\n"
        assert sim.run("isptune --read --gamma").stdout == "1\n"
        result = sim.run("isptune --readconf")
        assert result.returncode == 0, result.stdout + result.stderr
        assert sim.path("etc/pixim.conf").stat().st_size > 0
    finally:
        module.terminate()
        module.wait(timeout=30)
