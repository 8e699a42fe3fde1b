# SPDX-License-Identifier: MIT
"""vshare's HTTP face on the simulated board: its endpoints and refusals
byte for byte, connections kept alive, HEAD, the stream's variants and a
viewer's own pace, the age of the frames a slow viewer gets, the
descriptors kept for the capture, a viewer flooding its input, and how it
listens (-listen, socket activation)."""

import os
import re
import resource
import select
import signal
import socket
import stat
import subprocess
import time
from base64 import b64encode

import pytest

from test_vcapture_stream import board_command
from test_vshare import (CLOSING, PART_HEAD, SIZE, Share, bound, own_lines, receive_all,
                         receive_until, servers_of, whole_parts)

COMMON = {"Cache-Control": "no-store", "X-Content-Type-Options": "nosniff"}
STREAM_HEAD = (b"HTTP/1.1 200 OK\r\n"
               b"Content-Type: multipart/x-mixed-replace; boundary=frame\r\n"
               b"Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n"
               b"Connection: close\r\n\r\n")
ADVANCE_HEAD = b"--frame\r\nContent-Type: image/jpeg\r\n\r\n"
UNAVAILABLE = (b"HTTP/1.1 503 Service Unavailable\r\n"
               b"Content-Type: text/plain; charset=utf-8\r\nContent-Length: 28\r\n"
               b"Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n"
               b"Connection: close\r\n\r\nThe camera gave no picture.\n")
PAGE = b"<!doctype html><title>live</title>\n"
STYLE = b"img { width: 100%; }\n"


class HttpShare(Share):
    """A vshare server listening on a loopback port of its choice too."""

    def __init__(self, board, tmp_path, *args, limit=None, activated=None, host="127.0.0.1",
                 settings=None, logins=False):
        www = tmp_path / "www"
        (www / "sub").mkdir(parents=True, exist_ok=True)
        (www / "index.html").write_bytes(PAGE)
        (www / "sub" / "page.css").write_bytes(STYLE)
        (www / ".hidden").write_bytes(b"secret")
        (tmp_path / "outside.html").write_bytes(b"outside")
        if not (www / "link.html").is_symlink():
            (www / "link.html").symlink_to(tmp_path / "outside.html")
        self.board = board
        self.socket = tmp_path / "live" / "vshare.sock"
        self.socket.parent.mkdir(exist_ok=True)
        self.errors = tmp_path / f"vshare-{time.monotonic_ns()}.err"
        self.settings = settings or {}
        listen = [] if activated else ["-listen", f"{host}:0"]
        cmd, kwargs = board_command(board, "vshare", "-socket", str(self.socket), *listen,
                                    "-www", str(www), *([] if logins else ["-no-auth"]), "-users",
                                    str(tmp_path / "users"), "-vcapture",
                                    self.vcapture(tmp_path), *args,
                                    settings=self.settings)
        if activated is not None:
            # systemd's protocol: the socket on descriptor 3, and this very
            # process's id, which only the shell that execs vshare knows.
            kwargs["env"]["LISTEN_FDS"] = "1"
            words, executable = cmd[0], kwargs.pop("executable")
            cmd = (["sh", "-c", 'LISTEN_PID=$$ exec "$0" "$@"', executable or words[0],
                    *words[1:]],)
            kwargs["pass_fds"] = (3,)

        def prepare():
            if activated is not None:
                os.dup2(activated.fileno(), 3)
            if limit:
                resource.setrlimit(resource.RLIMIT_NOFILE, (limit, limit))
        with open(self.errors, "wb") as err:
            self.proc = subprocess.Popen(*cmd, **kwargs, stdout=subprocess.DEVNULL, stderr=err,
                                         preexec_fn=prepare)
        deadline = time.time() + bound(board, 30)
        self.host = host.strip("[]")
        listening = re.escape(f"vshare: listening on {host}:") + r"(\d+)\n"
        while not (m := re.search(listening, self.stderr())):
            assert self.proc.poll() is None, self.stderr()
            assert time.time() < deadline, "vshare did not listen"
            time.sleep(0.05)
        self.port = int(m.group(1))

    def open(self, request=None, rcvbuf=None):
        s = socket.socket(socket.AF_INET6 if ":" in self.host else socket.AF_INET)
        if rcvbuf:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
        s.settimeout(bound(self.board, 60))
        s.connect((self.host, self.port))
        if request:
            s.sendall(request)
        return s

    def exchange(self, request):
        with self.open(request) as s:
            return receive_all(s)


@pytest.fixture
def http_factory(board, tmp_path):
    yield from servers_of(HttpShare, board, tmp_path)


@pytest.fixture
def http(http_factory):
    return http_factory(*SIZE)


def get(path, version="1.0", more=""):
    return f"GET {path} HTTP/{version}\r\nHost: cam\r\n{more}\r\n".encode()


def response(data):
    """Status line, head fields and body of one response."""
    head, body = data.split(b"\r\n\r\n", 1)
    status, *fields = head.decode().split("\r\n")
    return status, dict(f.split(": ", 1) for f in fields), body


def text_fields(**more):
    """The fields of a short text answer (its length is filled in)."""
    return {"Content-Type": "text/plain; charset=utf-8", "Content-Length": None, **COMMON,
            "Connection": "close", **more}


# --- endpoints and refusals ----------------------------------------------------------

@pytest.mark.parametrize("request_bytes, status, fields, body", [
    (get("/"), "200 OK", {"Content-Type": "text/html; charset=utf-8",
                          "Content-Length": str(len(PAGE)), **COMMON, "Connection": "close"}, PAGE),
    (get("/sub/page.css"), "200 OK", {"Content-Type": "text/css; charset=utf-8",
                                      "Content-Length": str(len(STYLE)), **COMMON,
                                      "Connection": "close"}, STYLE),
    (b"HEAD /sub/page.css HTTP/1.0\r\n\r\n", "200 OK",
     {"Content-Type": "text/css; charset=utf-8", "Content-Length": str(len(STYLE)), **COMMON,
      "Connection": "close"}, b""),
    (get("/missing.html"), "404 Not Found", text_fields(), b"Not found.\n"),
    (get("/../outside.html"), "404 Not Found", text_fields(), b"Not found.\n"),
    (get("/link.html"), "404 Not Found", text_fields(), b"Not found.\n"),
    (get("/.hidden"), "404 Not Found", text_fields(), b"Not found.\n"),
    (get("/sub"), "404 Not Found", text_fields(), b"Not found.\n"),
    (b"POST / HTTP/1.0\r\n\r\n", "405 Method Not Allowed",
     text_fields(Allow="GET, HEAD"), b"Only GET and HEAD are served.\n"),
    (b"GET / HTTP/2.0\r\n\r\n", "505 HTTP Version Not Supported", text_fields(),
     b"Only HTTP/1.0 and HTTP/1.1 are served.\n"),
    (b"GET /\r\n\r\n", "400 Bad Request", text_fields(), b"Bad request.\n"),
    (b"GET / HTTP/1.1\r\n\r\n", "400 Bad Request", text_fields(), b"Bad request.\n"),
    (b"GET / HTTP/1.0\n\n", "400 Bad Request", text_fields(), b"Bad request.\n"),
    (b"GET /" + b"a" * 3000 + b" HTTP/1.0\r\n\r\n", "414 URI Too Long", text_fields(),
     b"Request line too long.\n"),
    (b"GET / HTTP/1.0\r\n" + b"X-Pad: " + b"p" * 9000 + b"\r\n\r\n",
     "431 Request Header Fields Too Large", text_fields(), b"Request head too large.\n"),
    (get("/stream?fps=0"), "400 Bad Request", text_fields(), b"fps: expected 1 to 30.\n"),
    (get("/stream?fps=31"), "400 Bad Request", text_fields(), b"fps: expected 1 to 30.\n"),
    (get("/stream?advance_headers=yes"), "400 Bad Request", text_fields(),
     b"advance_headers: expected 0 or 1.\n"),
])
def test_endpoints_and_refusals(http, request_bytes, status, fields, body):
    answer = http.exchange(request_bytes)
    if fields.get("Content-Length", "") is None:
        fields = {**fields, "Content-Length": str(len(body))}
    assert response(answer) == ("HTTP/1.1 " + status, fields, body)
    assert http.captures() == []


def test_head_of_the_stream_starts_no_capture(http):
    assert http.exchange(b"HEAD /stream?advance_headers=1 HTTP/1.1\r\nHost: c\r\n\r\n") == STREAM_HEAD
    assert http.streamons() == 0


def test_state_and_metrics_report_the_capture_and_each_viewer(board, http):
    with http.open(get("/stream?fps=10")) as viewer:
        receive_until(viewer, lambda d: d.count(b"--frame\r\n") >= 3)
        status, fields, body = response(http.exchange(get("/state")))
        assert (status, fields["Content-Type"]) == ("HTTP/1.1 200 OK", "application/json")
        import json
        state = json.loads(body)
        capture, (seen,) = state["capture"], state["viewers"]
        assert list(capture) == ["state", "reason", "width", "height", "fps", "frames", "restarts"]
        assert capture["state"] == "live" and capture["reason"] == ""
        assert (capture["width"], capture["height"], capture["restarts"]) == (320, 240, 0)
        assert capture["frames"] >= 3 and capture["fps"] > 0
        assert list(seen) == ["address", "path", "fps", "sent", "skipped", "queued", "age_ms"]
        assert seen["address"] == "127.0.0.1:%d" % viewer.getsockname()[1]
        assert (seen["path"], seen["fps"]) == ("/stream", 10)
        assert seen["sent"] >= 3 and seen["age_ms"] >= 0 and seen["queued"] >= 0
        status, fields, body = response(http.exchange(get("/metrics")))
        assert fields["Content-Type"] == "text/plain; version=0.0.4; charset=utf-8"
        text = body.decode()
        for name, kind in [("capture_frames_total", "counter"), ("viewers", "gauge"),
                           ("viewer_frames_sent_total", "counter")]:
            assert f"# TYPE vshare_{name} {kind}\n" in text
        assert 'vshare_capture_state{state="live"} 1\n' in text
        assert "vshare_viewers 1\n" in text
        assert re.search(r'vshare_viewer_fps\{address="127\.0\.0\.1:\d+",path="/stream"\} 10\n',
                         text)


# --- connections ---------------------------------------------------------------------

def read_response(s, data, with_body=True):
    """One response from a kept connection, and the bytes after it."""
    while b"\r\n\r\n" not in data:
        chunk = s.recv(65536)
        assert chunk, data
        data += chunk
    head, data = data.split(b"\r\n\r\n", 1)
    length = int(re.search(rb"Content-Length: (\d+)", head).group(1)) if with_body else 0
    while len(data) < length:
        data += s.recv(65536)
    return head, data[:length], data[length:]


HEAD_CSS = b"HEAD /sub/page.css HTTP/1.1\r\nHost: c\r\n\r\n"
HEAD_MISSING = b"HEAD /missing HTTP/1.1\r\nHost: c\r\n\r\n"


@pytest.mark.parametrize("sends, answers, fields, closed", [
    # HTTP/1.1 keeps the connection, pipelined requests included, until asked.
    ([get("/", "1.1") + HEAD_CSS, get("/missing", "1.1", "Connection: close\r\n")],
     [(b"200 OK", PAGE), (b"200 OK", b""), (b"404 Not Found", b"Not found.\n")],
     [b"", b"", b"Connection: close"], True),
    ([get("/", "1.1"), get("/", "1.1")], [(b"200 OK", PAGE)] * 2, [b"", b""], False),
    # The answer to HEAD is a head alone, refusals included.
    ([HEAD_MISSING, get("/", "1.1")], [(b"404 Not Found", b""), (b"200 OK", PAGE)], [b"", b""],
     False),
    # HTTP/1.0 closes unless asked to keep it.
    ([get("/", "1.0", "Connection: keep-alive\r\n"), get("/", "1.0")], [(b"200 OK", PAGE)] * 2,
     [b"Connection: keep-alive", b"Connection: close"], True),
])
def test_kept_alive_connections(http, sends, answers, fields, closed):
    with http.open() as s:
        data, got = b"", []
        for request in sends:
            s.sendall(request)
            for _ in range(request.count(b" HTTP/")):
                # (the answers without a body are those to HEAD)
                head, body, data = read_response(s, data, answers[len(got)][1] != b"")
                got.append((head, body))
        assert data == b""
        if closed:
            assert receive_all(s) == b""
        else:
            s.setblocking(False)
            with pytest.raises(BlockingIOError):
                s.recv(1)  # still open, nothing more
    assert [(head.split(b"\r\n")[0], body) for head, body in got] == [
        (b"HTTP/1.1 " + status, body) for status, body in answers]
    for (head, _), field in zip(got, fields):
        last = head.split(b"\r\n")[-1]
        assert last == field or (field == b"" and not last.startswith(b"Connection"))


def test_a_request_that_does_not_come_whole_is_dropped(http_factory):
    http = http_factory(*SIZE, "-drop", "1")
    with http.open(b"GET / HTTP/1.1\r\nHost: c\r\n") as s:
        assert receive_all(s) == b""
    assert "vshare: viewer dropped: no request for 1 s" in own_lines(http.stderr())


# --- the stream --------------------------------------------------------------------------

def test_stream_parts_are_those_of_the_unix_socket(board, http):
    with http.open(get("/stream")) as s:
        body = receive_until(s, lambda d: d.count(b"--frame\r\n") >= 4)
    assert body.startswith(STREAM_HEAD)
    parts, _ = whole_parts(body[len(STREAM_HEAD):])
    assert len(parts) >= 3  # each checked strictly: head, image, CR LF


def test_advance_headers_put_each_next_head_right_after_the_image(board, http):
    viewer = http.open(get("/stream?advance_headers=1"))
    body = receive_until(viewer, lambda d: d.count(b"\xff\xd9") >= 3)
    assert http.stop() == 0
    body += receive_all(viewer)
    viewer.close()
    assert body.startswith(STREAM_HEAD + ADVANCE_HEAD)
    images = body[len(STREAM_HEAD + ADVANCE_HEAD):].split(b"\r\n" + ADVANCE_HEAD)
    # The last part, begun in advance, stays empty and the body is closed.
    assert images[-1].endswith(b"\r\n--frame--\r\n\r\n")
    for image in images[:-1]:
        assert image.startswith(b"\xff\xd8") and image.endswith(b"\xff\xd9")
    assert len(images) >= 4


def stamps(body):
    return [int(sec) + int(usec) / 1e6 for _, sec, usec in PART_HEAD.findall(body)]


@pytest.mark.parametrize("fps", [5, 12])
def test_a_viewer_gets_the_frames_at_its_own_pace(board, http, fps):
    with http.open(get(f"/stream?fps={fps}")) as s, http.open(get("/stream")) as full:
        body = receive_until(s, lambda d: len(stamps(d)) >= 8)
        every = receive_until(full, lambda d: len(stamps(d)) >= 8)
    got = stamps(body)
    gaps = [b - a for a, b in zip(got, got[1:])]
    # The capture's frames (30 a second), none ahead of the viewer's schedule
    # give or take half a frame. A frame the capture delivered late may be
    # followed by one sooner: the schedule holds the average, not each gap.
    assert all(t - got[0] >= k / fps - 1 / 30 for k, t in enumerate(got)), gaps
    assert (len(got) - 1) / (got[-1] - got[0]) <= fps * 1.1, gaps
    assert min(b - a for a, b in zip(stamps(every), stamps(every)[1:])) < 1 / fps - 1 / 30


@pytest.mark.parametrize("method", ["GET", "HEAD"])
def test_a_snapshot_is_named_after_its_frame(board, http, method):
    status, fields, image = response(http.exchange(f"{method} /snapshot HTTP/1.0\r\n\r\n".encode()))
    assert status == "HTTP/1.1 200 OK"
    if method == "HEAD":
        assert image == b"" and int(fields["Content-Length"]) > 0
        return
    name = re.fullmatch(r'inline; filename="camboard-(\d{8}-\d{6})\.jpg"',
                        fields.pop("Content-Disposition"))
    assert fields == {"Content-Type": "image/jpeg", "Content-Length": str(len(image)), **COMMON,
                      "Connection": "close"}
    assert image.startswith(b"\xff\xd8") and image.endswith(b"\xff\xd9")
    taken = time.mktime(time.strptime(name.group(1), "%Y%m%d-%H%M%S"))
    assert abs(taken - time.time()) < bound(board, 60)


def test_snapshots_on_a_kept_connection(http):
    with http.open() as s:
        data, images = b"", []
        for _ in range(3):
            s.sendall(get("/snapshot", "1.1"))
            head, image, data = read_response(s, data)
            assert head.startswith(b"HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\n")
            assert b"Connection:" not in head
            images.append(image)
    assert all(i.startswith(b"\xff\xd8") and i.endswith(b"\xff\xd9") for i in images)
    assert http.streamons() == 1


@pytest.mark.parametrize("rcvbuf", [8192, None], ids=["small buffer", "default buffer"])
def test_a_slow_viewer_gets_fresh_frames(board, http, rcvbuf):
    # A reader that takes about 200 KB a second, for parts of about 14 KB
    # at 30 frames a second: most frames cannot go, and those that do must
    # not wait behind the others, in the kernel or in the reader's buffer.
    viewer = http.open(get("/stream"), rcvbuf=rcvbuf)
    viewer.settimeout(bound(board, 30))
    body, ages, read_at = b"", [], {}
    started = time.monotonic()
    while time.monotonic() < started + bound(board, 5):
        body += viewer.recv(4096)
        read_at[len(body)] = time.time()
        time.sleep(0.02)
    rate = len(body) / (time.monotonic() - started)  # bytes a second taken
    viewer.close()
    for m in PART_HEAD.finditer(body):
        last_byte = m.end() + int(m.group(1))
        received = min((t for n, t in read_at.items() if n >= last_byte), default=None)
        if received is not None:
            ages.append(received - int(m.group(2)) - int(m.group(3)) / 1e6)
    sizes = [int(m.group(1)) for m in PART_HEAD.finditer(body)]
    link = max(sizes) / rate  # seconds to carry one frame
    limit = 2 / 30 + link + bound(board, 0.5)  # the slack is for a loaded machine
    assert len(ages) >= 10
    assert max(ages[3:]) < limit, (ages, limit)


# --- limits ----------------------------------------------------------------------------------

def test_viewers_beyond_the_descriptors_kept_for_the_capture_get_503(board, http_factory):
    if board.programs.emulator:
        pytest.skip("the emulator's own descriptors count against the limit")
    http = http_factory(*SIZE, limit=40)
    idle = [http.open() for _ in range(40)]
    # The first viewers took what there was to take; the capture still
    # starts for one of them.
    with idle[0] as first:
        first.sendall(get("/stream"))
        body = receive_until(first, lambda d: d.count(b"--frame\r\n") >= 2)
        assert body.startswith(STREAM_HEAD)
    ready, _, _ = select.select(idle[1:], [], [], bound(board, 5))
    refused = [receive_all(s) for s in ready]
    assert refused and all(answer == UNAVAILABLE for answer in refused)
    assert len(refused) < 39
    assert ("vshare: viewer refused: too few descriptors left for the capture"
            in own_lines(http.stderr()))
    for s in idle[1:]:
        s.close()


def test_a_streaming_viewer_that_floods_its_input_is_not_read(board, http):
    with http.open(get("/stream")) as s:
        receive_until(s, lambda d: d.count(b"--frame\r\n") >= 2)
        read_before = read_bytes(http.proc.pid)
        s.setblocking(False)
        flood, sent = b"x" * 65536, 0
        deadline = time.monotonic() + bound(board, 10)
        while sent < 8 << 20 and time.monotonic() < deadline:
            try:
                sent += s.send(flood)
            except BlockingIOError:
                try:
                    s.recv(1 << 20)  # the parts keep coming
                except BlockingIOError:
                    time.sleep(0.01)
        # vshare read a few KiB at most; the rest lies in the kernel's buffers.
        # An emulator's own reads count in the process's too, so there the
        # bound only tells a few KiB from the megabytes sent.
        limit = 1 << 20 if board.programs.emulator else 64 << 10
        assert read_bytes(http.proc.pid) - read_before < limit
        s.settimeout(bound(board, 30))
        assert receive_until(s, lambda d: d.count(b"--frame\r\n") >= 2)


def read_bytes(pid):
    for line in open(f"/proc/{pid}/io"):
        if line.startswith("rchar:"):
            return int(line.split()[1])
    raise AssertionError("no rchar")


# --- listening ------------------------------------------------------------------------------

@pytest.mark.parametrize("address", ["80", "localhost:80", "127.0.0.1:65536", "[::1:80",
                                     "1.2.3:80", "127.0.0.1:"])
def test_bad_listen_addresses(programs, address):
    result = programs.run("vshare", "-listen", address)
    assert (result.returncode, result.stdout) == (1, b"")
    assert result.stderr.decode() == f"vshare: -listen: expected [ADDRESS]:PORT, not '{address}'\n"


def test_a_port_in_use_is_refused(board, http, tmp_path):
    result = board.run("vshare", "-listen", f"127.0.0.1:{http.port}", "-socket",
                       tmp_path / "other.sock", timeout=60)
    assert result.returncode == 1
    assert own_lines(result.stderr.decode())[-2] == (
        f"vshare: can't listen on 127.0.0.1:{http.port}: Address already in use")


def test_ipv6_loopback(http_factory):
    try:
        socket.socket(socket.AF_INET6).bind(("::1", 0))
    except OSError:
        pytest.skip("no IPv6 loopback here")
    http = http_factory(*SIZE, host="[::1]")
    with http.open(get("/stream")) as viewer:
        receive_until(viewer, lambda d: d.count(b"--frame\r\n") >= 2)
        _, _, body = response(http.exchange(get("/state")))
        assert b'"address":"[::1]:%d"' % viewer.getsockname()[1] in body


def test_socket_activation(board, http_factory):
    if board.programs.emulator:
        pytest.skip("the emulator's own descriptors come first")
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    with listener:
        http = http_factory(*SIZE, activated=listener)
        assert http.port == listener.getsockname()[1]
        status, _, body = response(http.exchange(get("/")))
        assert (status, body) == ("HTTP/1.1 200 OK", PAGE)
        assert http.stop(signal.SIGTERM) == 0


# --- logins -------------------------------------------------------------------------------

def basic(user, password):
    return "Authorization: Basic " + b64encode(f"{user}:{password}".encode()).decode() + "\r\n"


@pytest.fixture
def guarded(http_factory, tmp_path):
    """A server with logins on, and the password its first start made."""
    share = http_factory(*SIZE, logins=True)
    return share, (tmp_path / "admin.password").read_text().rstrip("\n")


def test_a_first_start_makes_a_login_of_its_own(board, guarded, tmp_path):
    share, password = guarded
    assert (f"vshare: no credentials file: created {tmp_path}/users with the user admin, whose "
            f"password is in {tmp_path}/admin.password") in own_lines(share.stderr())
    for name in ("users", "admin.password"):
        assert stat.S_IMODE((tmp_path / name).stat().st_mode) == 0o600
    user, hashed = (tmp_path / "users").read_text().rstrip("\n").split(":", 1)
    assert user == "admin" and hashed.startswith("$") and password not in hashed
    assert len(password) >= 12


REFUSED = "WWW-Authenticate: Basic realm=\"camboard\", charset=\"UTF-8\""


@pytest.mark.parametrize("path", ["/", "/stream", "/snapshot", "/state", "/metrics"])
@pytest.mark.parametrize("login, status", [
    (None, "401 Unauthorized"),
    (("admin", "wrong"), "401 Unauthorized"),
    (("nobody", "wrong"), "401 Unauthorized"),
    (("admin", None), "200 OK"),
])
def test_every_endpoint_needs_the_login(guarded, path, login, status):
    share, password = guarded
    more = "" if login is None else basic(login[0], login[1] or password)
    with share.open(get(path, "1.0", more)) as s:
        head = receive_until(s, lambda d: b"\r\n\r\n" in d).split(b"\r\n\r\n")[0].decode()
    assert head.split("\r\n")[0] == "HTTP/1.1 " + status
    assert (REFUSED in head.split("\r\n")) == status.startswith("401")
    if status != "200 OK":
        assert share.streamons() == 0  # nothing of the camera for a stranger


def test_failed_logins_are_limited_per_address(guarded):
    share, password = guarded
    assert response(share.exchange(get("/state", "1.0", basic("admin", password))))[0].endswith(
        "200 OK")
    for _ in range(5):
        assert response(share.exchange(get("/state", "1.0", basic("admin", "guess"))))[0] == (
            "HTTP/1.1 401 Unauthorized")
    status, fields, _ = response(share.exchange(get("/state", "1.0", basic("admin", "guess"))))
    assert status == "HTTP/1.1 429 Too Many Requests" and 0 < int(fields["Retry-After"]) <= 60
    # The login verified before still passes; nothing new is tried meanwhile.
    assert response(share.exchange(get("/state", "1.0", basic("admin", password))))[0].endswith(
        "200 OK")
    assert response(share.exchange(get("/state", "1.0", basic("other", "x"))))[0].endswith(
        "429 Too Many Requests")


def test_passwd_sets_a_login_the_running_server_takes(board, guarded, tmp_path):
    share, password = guarded
    result = board.run("vshare", "-passwd", "viewer", "-users", str(tmp_path / "users"),
                       input=b"a new secret\n")
    assert (result.returncode, result.stdout) == (0, b"")
    assert result.stderr.decode() == f"vshare: the password of viewer is set in {tmp_path}/users\n"
    lines = (tmp_path / "users").read_text().splitlines()
    assert [l.split(":")[0] for l in lines] == ["admin", "viewer"]
    for user, secret in (("viewer", "a new secret"), ("admin", password)):
        assert response(share.exchange(get("/state", "1.0", basic(user, secret))))[0].endswith(
            "200 OK")
