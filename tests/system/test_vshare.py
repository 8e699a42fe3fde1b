# SPDX-License-Identifier: MIT
"""vshare on the simulated board: one vcapture shared by every viewer, the
bodies and pictures they get, what a stalled viewer costs the others, the
capture's start and linger, the relay, and the command line. What viewers
get while the camera fails is in test_vshare_outage.py."""

import contextlib
import os
import re
import signal
import socket
import stat
import subprocess
import threading
import time
from pathlib import Path

import pytest

from pictures import ffmpeg_gray, sequences_in_gray
from project import VERSION
from test_vcapture_stream import board_command, cpu_seconds, vcapture_for_peer

WIDTH, HEIGHT = 320, 240
SIZE = ["-size", str(WIDTH), str(HEIGHT), "-fps", "30"]

STREAM_HEAD = (b"Content-Type: multipart/x-mixed-replace; boundary=frame\r\n"
               b"Cache-Control: no-cache\r\n\r\n")
CLOSING = b"--frame--\r\n\r\n"
UNAVAILABLE = (b"Status: 503 Service Unavailable\r\nContent-Type: text/plain\r\n\r\n"
               b"The camera gave no picture.\n")
UNREACHABLE = (b"Status: 503 Service Unavailable\r\nContent-Type: text/plain\r\n\r\n"
               b"The live view server is not running.\n")
PART_HEAD = re.compile(rb"--frame\r\nContent-Type: image/jpeg\r\nContent-Length: (\d+)\r\n"
                       rb"X-Timestamp: (\d+)\.(\d+)\r\n\r\n")


def bound(board, seconds):
    """A time limit with room for the sanitizers and the emulator."""
    return seconds * (4 if board.programs.emulator else 2 if board.programs.sanitized else 1)


def own_lines(stderr):
    """vshare's and vcapture's lines, without the host loader's complaint
    about the ARM preload that reaches the emulator's host-side wrapper."""
    return [l for l in stderr.split("\n") if "ld.so" not in l]


class Share:
    """A vshare server on one simulated board, with this build's vcapture."""

    def __init__(self, board, tmp_path, *args, settings=None, umask=-1):
        self.board = board
        self.socket = tmp_path / "live" / "vshare.sock"
        self.socket.parent.mkdir(exist_ok=True)
        self.errors = tmp_path / f"vshare-{time.monotonic_ns()}.err"
        self.settings = settings or {}
        cmd, kwargs = board_command(board, "vshare", "-socket", str(self.socket),
                                    "-vcapture", self.vcapture(tmp_path), *args,
                                    settings=self.settings)
        with open(self.errors, "wb") as err:
            self.proc = subprocess.Popen(*cmd, **kwargs, stdout=subprocess.DEVNULL, stderr=err,
                                         umask=umask)
        deadline = time.time() + bound(board, 30)
        while "vshare: listening on " not in self.stderr():
            assert self.proc.poll() is None, self.stderr()
            assert time.time() < deadline, "vshare did not listen"
            time.sleep(0.05)

    def vcapture(self, tmp_path):
        return vcapture_for_peer(self.board, tmp_path)

    def stderr(self):
        return self.errors.read_text(errors="replace")

    def connect(self, request=b"stream\n"):
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        s.settimeout(bound(self.board, 60))
        s.connect(str(self.socket))
        s.sendall(request)
        return s

    def relay(self, *args, stdout=subprocess.PIPE, timeout=None):
        cmd, kwargs = board_command(self.board, "vshare", "-relay", "-socket", str(self.socket),
                                    *args, settings=self.settings)
        return subprocess.run(*cmd, **kwargs, stdout=stdout, stderr=subprocess.PIPE,
                              timeout=timeout or bound(self.board, 60))

    def stop(self, sig=signal.SIGTERM):
        """Stops vshare; its exit status."""
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
        return self.proc.wait(timeout=bound(self.board, 20))

    def captures(self, besides=()):
        """The vcapture processes streaming from this board, but those named."""
        found = []
        marker = f"BOARDSIM_DIR={self.board.dir}".encode()
        for entry in Path("/proc").iterdir():
            if not entry.name.isdigit():
                continue
            try:
                environ = (entry / "environ").read_bytes().split(b"\0")
                cmdline = (entry / "cmdline").read_bytes().split(b"\0")
                state = (entry / "stat").read_text().rsplit(")", 1)[1].split()[0]
            except OSError:
                continue
            # Natively the program itself; under the emulator, what it runs.
            name = cmdline[cmdline.index(b"-0") + 1] if b"-0" in cmdline else cmdline[0]
            if (marker in environ and state != "Z" and name.endswith(b"vcapture")
                    and int(entry.name) not in besides):
                found.append(int(entry.name))
        return found

    def streamons(self):
        return self.board.trace().count("VIDIOC_STREAMON = 0")

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait(timeout=30)
        # A vcapture may end by itself between the look and the kill.
        for pid in self.captures():
            with contextlib.suppress(ProcessLookupError):
                os.kill(pid, signal.SIGKILL)


def servers_of(kind, board, tmp_path):
    """A factory fixture's body: starts servers of `kind`, closes them all
    at the end of the test."""
    started = []

    def start(*args, **kwargs):
        started.append(kind(board, tmp_path, *args, **kwargs))
        return started[-1]
    yield start
    for server in started:
        server.close()


@pytest.fixture
def share_factory(board, tmp_path):
    yield from servers_of(Share, board, tmp_path)


@pytest.fixture
def share(share_factory):
    return share_factory(*SIZE)


def wait_until(condition, timeout, what):
    deadline = time.time() + timeout
    while not condition():
        assert time.time() < deadline, what
        time.sleep(0.05)


def receive_until(s, done):
    """Reads from the socket until done(data) or its end."""
    data = b""
    while not done(data):
        chunk = s.recv(65536)
        if not chunk:
            break
        data += chunk
    return data


def receive_all(s):
    return receive_until(s, lambda data: False)


def whole_parts(body):
    """The parts of a multipart body (after any head) up to the last whole
    one, each checked strictly, and what follows them: the closing boundary,
    or a part cut short where the reading stopped."""
    parts = []
    pos = 0
    while m := PART_HEAD.match(body, pos):
        end = m.end() + int(m.group(1))
        if end + 2 > len(body):
            break
        image = body[m.end():end]
        assert image.startswith(b"\xff\xd8") and image.endswith(b"\xff\xd9")
        assert body[end:end + 2] == b"\r\n"
        assert not m.group(3).startswith(b"0") or m.group(3) == b"0"  # microseconds unpadded
        parts.append((body[pos:m.start(2)] + body[m.end(3):end + 2], image))
        pos = end + 2
    return parts, body[pos:]


def parts_of(body):
    """The images of a stream's whole parts, and what follows them."""
    assert body.startswith(STREAM_HEAD), body[:200]
    parts, rest = whole_parts(body[len(STREAM_HEAD):])
    return [image for _, image in parts], rest


def headers_of(body):
    """(image length, time stamp in microseconds) of each part."""
    return [(int(length), int(sec) * 1000000 + int(usec))
            for length, sec, usec in PART_HEAD.findall(body)]


def sequences(board, images, tmp_path):
    path = tmp_path / f"parts-{time.monotonic_ns()}.mjpeg"
    path.write_bytes(b"".join(images))
    return sequences_in_gray(ffmpeg_gray(["-f", "jpeg_pipe"], path), WIDTH, HEIGHT)


def part_count(data):
    return data.count(b"\r\n--frame\r\n") + data.startswith(STREAM_HEAD + b"--frame\r\n")


class Reader(threading.Thread):
    """A viewer that takes everything as it comes until it is told to stop."""

    def __init__(self, share, parts_wanted=None):
        super().__init__(daemon=True)
        self.sock = share.connect()
        self.data = b""
        self.stop_flag = threading.Event()
        self.parts_wanted = parts_wanted
        self.ended = False
        self.start()

    def run(self):
        self.sock.settimeout(0.2)
        while not self.stop_flag.is_set():
            try:
                chunk = self.sock.recv(65536)
            except socket.timeout:
                continue
            except OSError:
                break
            if not chunk:
                self.ended = True
                break
            self.data += chunk

    def parts(self):
        return part_count(self.data)

    def finish(self):
        self.stop_flag.set()
        self.join(timeout=30)
        self.sock.close()
        return self.data


# --- several viewers --------------------------------------------------------

def test_four_viewers_share_one_capture_and_get_the_same_frames(board, share, tmp_path):
    readers = [Reader(share) for _ in range(4)]
    wait_until(lambda: all(r.parts() >= 12 for r in readers), bound(board, 60), "parts")
    if not board.programs.emulator:  # (the emulator has descriptors of its own)
        # vcapture inherits no viewer's socket: it would hold the viewer's
        # connection open after vshare has closed it.
        capture, = share.captures()
        links = [os.readlink(f) for f in Path(f"/proc/{capture}/fd").iterdir()]
        assert [l for l in links if l.startswith("socket:")] == []
    bodies = [r.finish() for r in readers]
    assert share.streamons() == 1  # one capture serves them all
    runs = []
    for body in bodies:
        images, _ = parts_of(body)
        runs.append(dict(zip((stamp for _, stamp in headers_of(body)), images)))
    # Between the last viewer's first part and the first viewer's last, the
    # viewers got the same parts: the header (time stamp included) and image
    # of every frame. A viewer that fell behind (on a loaded machine) may
    # miss a few, never get one twice or out of order.
    both = shared_window(runs)
    assert len(both) >= 6
    for run in runs:
        assert [run[stamp] for stamp in both] == [runs[0][stamp] for stamp in both]
    seqs = sequences(board, [runs[0][stamp] for stamp in both], tmp_path)
    assert seqs == sorted(set(seqs))


def shared_window(runs):
    """The time stamps of the frames that every run got, within the span all
    runs cover, after checking that each got most of the frames there."""
    first = max(min(run) for run in runs)
    last = min(max(run) for run in runs)
    window = [set(s for s in run if first <= s <= last) for run in runs]
    both = set.intersection(*window)
    assert all(len(both) >= 0.8 * len(w) for w in window)
    return sorted(both)


def parts_by_sequence(board, body, tmp_path):
    """Each whole part of a body as written, its time stamp left out, by the
    sequence number in its picture."""
    parts, _ = whole_parts(body)
    seqs = sequences(board, [image for _, image in parts], tmp_path)
    return dict(zip(seqs, (raw for raw, _ in parts)))


def test_parts_are_those_vcapture_writes_itself(board, share, tmp_path):
    with share.connect() as s:
        body = receive_until(s, lambda data: part_count(data) >= 6)
    assert share.stop() == 0
    assert body.startswith(STREAM_HEAD)
    shared = parts_by_sequence(board, body[len(STREAM_HEAD):], tmp_path)
    # The same capture by vcapture alone. A loaded machine may make the
    # driver skip a frame in either run: the frames both have are compared.
    own = board.run("vcapture", WIDTH, HEIGHT, "-format", "jpeg", "-qscale", "80", "-fps", "30",
                    "-count", "5", "-mjpeg-http", "frame", "-out", "-", "-quiet").stdout
    assert own.endswith(CLOSING)
    alone = parts_by_sequence(board, own[:-len(CLOSING)], tmp_path)
    both = shared.keys() & alone.keys()
    assert both
    assert [shared[seq] for seq in sorted(both)] == [alone[seq] for seq in sorted(both)]
    # The time stamps are the frames' wall-clock times.
    stamps = [stamp for _, stamp in headers_of(body)]
    assert stamps == sorted(stamps)
    assert abs(stamps[0] / 1e6 - time.time()) < 600


def test_a_stalled_viewer_is_dropped_without_slowing_the_others(board, share_factory, tmp_path):
    share = share_factory(*SIZE, "-drop", "2")
    readers = [Reader(share) for _ in range(2)]
    wait_until(lambda: all(r.parts() >= 5 for r in readers), bound(board, 60), "parts")
    # The rate the two get alone, then with a viewer that reads nothing.
    start, before = time.monotonic(), readers[0].parts()
    time.sleep(bound(board, 2))
    alone = (readers[0].parts() - before) / (time.monotonic() - start)
    stalled = share.connect()
    start, before = time.monotonic(), readers[0].parts()
    wait_until(lambda: "viewer dropped" in share.stderr(), bound(board, 30), "no drop")
    with_stall = (readers[0].parts() - before) / (time.monotonic() - start)
    # Were the others held up by it, they would get next to nothing until
    # it is dropped.
    assert with_stall > alone / 3
    # The stalled viewer's socket is closed: what it holds ends there.
    stalled.settimeout(bound(board, 10))
    held = receive_all(stalled)
    assert held.startswith(STREAM_HEAD) and part_count(held) >= 1
    bodies = [r.finish() for r in readers]
    assert not any(r.ended for r in readers)
    # The two that kept up got the same parts throughout.
    runs = [dict((stamp, length) for length, stamp in headers_of(body)) for body in bodies]
    both = shared_window(runs)
    assert len(both) >= 10
    assert [runs[0][stamp] for stamp in both] == [runs[1][stamp] for stamp in both]
    assert "vshare: viewer dropped: it took nothing for 2 s" in own_lines(share.stderr())


def test_viewers_come_and_go_while_the_capture_runs(board, share, tmp_path):
    keeper = Reader(share)
    for _ in range(3):
        with share.connect() as s:
            body = receive_until(s, lambda data: part_count(data) >= 3)
        assert len(parts_of(body)[0]) >= 2
    snapshot = share.relay("-snapshot")
    assert snapshot.returncode == 0
    wait_until(lambda: keeper.parts() >= 10, bound(board, 60), "parts")
    images, _ = parts_of(keeper.finish())
    seqs = sequences(board, images, tmp_path)
    assert seqs == sorted(set(seqs))
    assert share.streamons() == 1


# --- the capture's start and end ----------------------------------------------

def test_capture_starts_with_a_viewer_and_stops_a_linger_after_the_last(board, share_factory):
    share = share_factory(*SIZE, "-linger", "2")
    assert share.captures() == []
    with share.connect() as s:
        receive_until(s, lambda data: part_count(data) >= 2)
        running = share.captures()
        assert len(running) == 1
    left = time.monotonic()
    wait_until(lambda: share.captures() == [], bound(board, 30), "vcapture still runs")
    assert time.monotonic() - left >= 1.5  # it lingered
    assert "VIDIOC_STREAMOFF = 0" in board.trace()
    assert share.proc.poll() is None
    # The next viewer starts a new capture.
    with share.connect() as s:
        assert len(parts_of(receive_until(s, lambda d: part_count(d) >= 3))[0]) >= 2
    assert share.streamons() == 2
    assert share.stop() == 0
    assert share.captures() == []


def test_a_viewer_arriving_while_the_capture_stops_gets_a_new_one(board, share_factory):
    # With no linger the capture is told to stop the moment its viewer
    # leaves; the next viewer, there before the old vcapture has ended, must
    # wait for it and get frames from a new capture, not the busy camera's 503.
    # Which viewers land in that window depends on timing, so the pauses
    # between them vary; each must get frames whichever way it falls.
    share = share_factory(*SIZE, "-linger", "0")
    pauses = [0, 0.005, 0.02, 0.05, 0.1, 0]
    for pause in pauses:
        with share.connect() as s:
            body = receive_until(s, lambda data: part_count(data) >= 2)
        assert len(parts_of(body)[0]) >= 1, body[:200]
        time.sleep(pause)
    wait_until(lambda: share.captures() == [], bound(board, 30), "vcapture still runs")
    assert 1 <= share.streamons() <= len(pauses)
    assert share.stop() == 0


def test_sigterm_closes_every_body_and_leaves_nothing_running(board, share):
    readers = [Reader(share) for _ in range(3)]
    wait_until(lambda: all(r.parts() >= 2 for r in readers), bound(board, 60), "parts")
    assert share.stop() == 0
    for r in readers:
        r.join(timeout=30)
        body = r.finish()
        images, rest = parts_of(body)
        assert images and rest == CLOSING
    assert not share.socket.exists()
    assert share.captures() == []
    err = own_lines(share.stderr())
    assert re.fullmatch(r"vshare: \d+ frames shared, \d+ parts sent, 0 bytes copied "
                        r"\(0\.0 per frame\)", err[-2]), err
    assert "vcapture: Stop signal 'Terminated' received" in err


def test_sigterm_with_a_stalled_viewer_ends_within_the_drop_time(board, share_factory):
    share = share_factory(*SIZE, "-drop", "1")
    reader = Reader(share)
    stalled = share.connect()  # takes nothing: its rest waits when the stop comes
    wait_until(lambda: reader.parts() >= 20, bound(board, 60), "parts")
    stopped = time.monotonic()
    assert share.stop() == 0
    assert time.monotonic() - stopped < bound(board, 8)
    reader.join(timeout=30)
    assert parts_of(reader.finish())[1] == CLOSING
    stalled.settimeout(bound(board, 10))
    assert receive_all(stalled).startswith(STREAM_HEAD)
    stalled.close()
    assert share.captures() == []


def test_sigterm_answers_a_client_whose_request_has_not_come(board, share):
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.settimeout(bound(board, 30))
    s.connect(str(share.socket))
    with s:
        # Accepted: vshare holds the listener and this connection.
        sockets = lambda: sum(os.readlink(f).startswith("socket:")
                              for f in Path(f"/proc/{share.proc.pid}/fd").iterdir())
        wait_until(lambda: sockets() >= 2, bound(board, 30), "not accepted")
        assert share.stop() == 0
        assert receive_all(s) == UNAVAILABLE
    assert share.captures() == []


def test_the_socket_admits_the_group_whatever_the_umask(board, share_factory):
    # The relay runs as the web server's user, in the server's group only.
    share = share_factory(umask=0o077)
    assert stat.S_IMODE(share.socket.stat().st_mode) == 0o660


@pytest.mark.parametrize("sig", [signal.SIGINT, signal.SIGTERM])
def test_stop_signal_while_idle(board, share, sig):
    assert share.stop(sig) == 0
    assert not share.socket.exists()
    assert own_lines(share.stderr())[-2] == (
        "vshare: 0 frames shared, 0 parts sent, 0 bytes copied (0.0 per frame)")


def test_the_device_goes_to_vcapture(board, share_factory, tmp_path):
    share = share_factory("-device", str(tmp_path / "video9"))
    with share.connect(b"snapshot\n") as s:
        assert receive_all(s).startswith(b"Status: 503 Service Unavailable\r\n")
    wait_until(lambda: (f"vcapture: Can't open device {tmp_path}/video9: No such file or directory"
                        in share.stderr()), bound(board, 30), "vcapture's message")


# --- snapshots ---------------------------------------------------------------------

def snapshot_image(response):
    head, image = response.split(b"\r\n\r\n", 1)
    assert head == (b"Content-Type: image/jpeg\r\nContent-Length: %d\r\n"
                    b"Cache-Control: no-cache" % len(image))
    assert image.startswith(b"\xff\xd8") and image.endswith(b"\xff\xd9")
    return image


def test_snapshot_while_a_stream_runs_comes_from_the_same_capture(board, share, tmp_path):
    keeper = Reader(share)
    wait_until(lambda: keeper.parts() >= 2, bound(board, 60), "parts")
    taken = share.relay("-snapshot")
    assert taken.returncode == 0
    seen_before = parts_of(keeper.data)[0]
    image = snapshot_image(taken.stdout)
    wait_until(lambda: keeper.parts() >= len(seen_before) + 3, bound(board, 60), "parts")
    images, _ = parts_of(keeper.finish())
    assert image in images  # the very part the stream got at that frame
    assert share.streamons() == 1


def test_snapshot_without_a_stream_starts_and_ends_a_capture(board, share_factory, tmp_path):
    share = share_factory(*SIZE, "-linger", "0.5")
    out = tmp_path / "picture"
    with open(out, "wb") as f:  # a file: copied, not spliced
        taken = share.relay("-snapshot", stdout=f)
    assert taken.returncode == 0
    image = snapshot_image(out.read_bytes())
    assert len(sequences(board, [image], tmp_path)) == 1  # a picture of the fresh capture
    wait_until(lambda: share.captures() == [], bound(board, 30), "vcapture still runs")
    assert share.streamons() == 1


# --- the relay --------------------------------------------------------------------------

def test_relay_copies_the_stream_until_its_reader_leaves(board, share):
    cmd, kwargs = board_command(board, "vshare", "-relay", "-socket", str(share.socket))
    relay = subprocess.Popen(*cmd, **kwargs, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    body = b""
    while part_count(body) < 3:
        chunk = relay.stdout.read1(65536)
        assert chunk
        body += chunk
    assert len(parts_of(body)[0]) >= 2
    relay.stdout.close()
    assert relay.wait(timeout=bound(board, 30)) == 0
    assert relay.stderr.read() == b""


def test_relay_passes_the_closing_boundary_on(board, share):
    cmd, kwargs = board_command(board, "vshare", "-relay", "-socket", str(share.socket))
    relay = subprocess.Popen(*cmd, **kwargs, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    body = relay.stdout.read1(65536)
    while part_count(body) < 2:
        body += relay.stdout.read1(65536)
    assert share.stop() == 0
    body += relay.stdout.read()
    assert relay.wait(timeout=bound(board, 30)) == 0
    assert parts_of(body)[1] == CLOSING


def test_relay_without_a_server(board, programs, tmp_path):
    path = tmp_path / "none.sock"
    result = board.run("vshare", "-relay", "-socket", path)
    assert result.returncode == 1
    assert result.stdout == UNREACHABLE
    assert result.stderr.decode() == (
        f"vshare: can't connect to {path}: No such file or directory\n")


def test_relay_with_a_server_that_closes_without_an_answer(board, tmp_path):
    path = tmp_path / "mute.sock"
    mute = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    mute.bind(str(path))
    mute.listen(1)

    def serve():
        connection, _ = mute.accept()
        with connection:
            connection.recv(64)  # the request, and not a byte back
    server = threading.Thread(target=serve, daemon=True)
    server.start()
    result = board.run("vshare", "-relay", "-snapshot", "-socket", path)
    server.join(timeout=30)
    mute.close()
    assert (result.returncode, result.stdout) == (1, UNREACHABLE)
    assert result.stderr.decode() == f"vshare: no answer from {path}\n"


def test_unknown_request_is_refused(board, share):
    with share.connect(b"picture\n") as s:
        answer = receive_all(s)
    assert answer == (b"Status: 400 Bad Request\r\nContent-Type: text/plain\r\n\r\n"
                      b'Unknown request: expected "stream" or "snapshot".\n')
    with share.connect(b"x" * 40) as s:  # no end of line in sight
        assert receive_all(s).startswith(b"Status: 400 Bad Request\r\n")
    assert share.captures() == []


def test_a_client_that_sends_no_request_is_dropped(board, share_factory):
    share = share_factory(*SIZE, "-drop", "1")
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.settimeout(bound(board, 30))
    s.connect(str(share.socket))
    with s:
        assert receive_all(s) == b""
    assert "vshare: viewer dropped: no request for 1 s" in own_lines(share.stderr())
    assert share.streamons() == 0


def test_viewers_beyond_the_descriptors_kept_for_the_capture_are_refused(board, share_factory):
    if board.programs.emulator:
        pytest.skip("the emulator's own descriptors count against the limit")
    share = share_factory(*SIZE)
    prlimit = subprocess.run(["prlimit", f"--pid={share.proc.pid}", "--nofile=12:"])
    assert prlimit.returncode == 0
    idle = []
    for _ in range(12):
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        s.settimeout(bound(board, 30))
        s.connect(str(share.socket))  # queued by the kernel even when not accepted
        idle.append(s)
    # Too few descriptors would be left for the capture: each is answered
    # at once, without a spin.
    for s in idle:
        assert receive_all(s) == UNAVAILABLE
    start = cpu_seconds(share.proc.pid)
    time.sleep(1)
    assert cpu_seconds(share.proc.pid) - start < 0.5
    assert ("vshare: viewer refused: too few descriptors left for the capture"
            in own_lines(share.stderr()))
    for s in idle:
        s.close()
    # Room again (the sanitizers' own checks need descriptors too).
    assert subprocess.run(["prlimit", f"--pid={share.proc.pid}", "--nofile=256:"]).returncode == 0
    with share.connect() as s:
        assert len(parts_of(receive_until(s, lambda d: part_count(d) >= 2))[0]) >= 1


# --- the command line ------------------------------------------------------------------

USAGE = ("Usage: vshare [-listen [address]:port] [-socket path] [-www dir] [-users path]\n"
         "\t\t[-no-auth] [-vcapture path] [-device path] [-size width height] [-fps N]\n"
         "\t\t[-qscale N] [-linger seconds] [-drop seconds] [-help] [-version]\n"
         "       vshare -relay [-snapshot] [-socket path]\n"
         "       vshare -passwd user [-users path]\n")


@pytest.mark.parametrize("args, out", [
    (["-help"], USAGE), (["--help"], USAGE), (["-h"], USAGE), (["-relay", "-help"], USAGE),
    (["--version"], f"vshare {VERSION}\n"), (["-vers"], f"vshare {VERSION}\n"),
])
def test_help_and_version(programs, args, out):
    result = programs.run("vshare", *args)
    assert (result.returncode, result.stdout.decode(), result.stderr) == (0, out, b"")


@pytest.mark.parametrize("args, message", [
    (["-fps", "0"], "-fps: expected a number from 1 to 60, not '0'"),
    (["-fps", "15x"], "-fps: expected a number from 1 to 60, not '15x'"),
    (["-qscale", "101"], "-qscale: expected a number from 1 to 100, not '101'"),
    (["-size", "640"], "-size: expected a width and a height"),
    (["-size", "640", "4800"], "-size: expected a number from 16 to 1200, not '4800'"),
    (["-linger", "-1"], "-linger: expected seconds from 0 to 86400, not '-1'"),
    (["-drop", "0"], "-drop: expected seconds from 0.1 to 86400, not '0'"),
    (["-drop", "nan"], "-drop: expected seconds from 0.1 to 86400, not 'nan'"),
    (["-relay", "-fps", "15"], "-fps is not an option of -relay"),
    (["-linger", "1", "-relay"], "-linger is not an option of -relay"),
    (["-relay", "-listen", "127.0.0.1:80"], "-listen is not an option of -relay"),
    (["-no-auth", "-relay"], "-no-auth is not an option of -relay"),
    (["-snapshot"], "-snapshot needs -relay"),
    (["-passwd", "bob", "-fps", "15"], "-fps is not an option of -passwd"),
    (["-relay", "-passwd", "bob"], "-relay is not an option of -passwd"),
    (["stream"], "unexpected argument 'stream'"),
])
def test_bad_command_lines(programs, args, message):
    result = programs.run("vshare", *args)
    assert result.returncode == 1
    assert result.stdout == b""
    assert result.stderr.decode() == f"vshare: {message}\n"


@pytest.mark.parametrize("args, message", [
    (["-bogus"], "vshare: unrecognized option '-bogus'\n"),
    (["-fps"], "vshare: option '-fps' requires an argument\n"),
    (["-d", "/dev/video0"], "vshare: option '-d' is ambiguous; possibilities: '-device' '-drop'\n"),
])
def test_options_getopt_refuses(programs, args, message):
    result = programs.run("vshare", *args)
    assert result.returncode == 1
    assert result.stderr.decode() == message


def test_socket_that_cannot_be_listened_on(board, programs, tmp_path):
    missing = tmp_path / "no" / "such" / "dir.sock"
    result = board.run("vshare", "-socket", missing, timeout=60)
    assert result.returncode == 1
    assert result.stderr.decode() == (
        f"vshare: can't listen on {missing}: No such file or directory\n")
    long_path = tmp_path / ("x" * 120)
    result = board.run("vshare", "-socket", long_path, timeout=60)
    assert result.returncode == 1
    assert result.stderr.decode() == f"vshare: can't listen on {long_path}: File name too long\n"


def test_a_second_server_on_the_same_socket_is_refused(board, share):
    result = board.run("vshare", "-socket", share.socket, timeout=60)
    assert result.returncode == 1
    assert result.stderr.decode() == (
        f"vshare: can't listen on {share.socket}: Address already in use\n")
    assert share.socket.exists() and share.proc.poll() is None


def test_a_socket_left_by_a_dead_server_is_replaced(board, share_factory, tmp_path):
    first = share_factory(*SIZE)
    assert first.stop(signal.SIGKILL) == -signal.SIGKILL
    assert stat.S_ISSOCK(first.socket.lstat().st_mode)  # left behind
    second = share_factory(*SIZE)
    with second.connect() as s:
        assert len(parts_of(receive_until(s, lambda d: part_count(d) >= 2))[0]) >= 1
