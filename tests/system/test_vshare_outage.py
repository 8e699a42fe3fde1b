# SPDX-License-Identifier: MIT
"""vshare while the camera fails: viewers stay connected, streams show the
placeholder picture, snapshots are refused with a time to try again, the
capture is tried again and the frames come back; a vcapture that will not
stop is killed; the same over HTTP, with the state it reports; and the
relay's own bounds (a client that reads nothing, HEAD and other methods)."""

import fcntl
import json
import os
import re
import signal
import socket
import subprocess
import threading
from pathlib import Path
from types import SimpleNamespace

import pytest

import http_site
from test_vcapture_stream import board_command
from test_vshare import (CLOSING, PART_HEAD, SIZE, STREAM_HEAD, UNREACHABLE, Reader, bound,
                         own_lines, parts_of, receive_all, receive_until, share, share_factory,
                         wait_until, whole_parts)
from test_vshare_http import ADVANCE_HEAD, get, http_factory, response
from test_vshare_http import STREAM_HEAD as HTTP_STREAM_HEAD

PLACEHOLDER = (Path(__file__).parents[2] / "liveview" / "placeholder.jpg").read_bytes()
CAMERA_UNAVAILABLE = (b"Status: 503 Service Unavailable\r\nRetry-After: 2\r\n"
                      b"Content-Type: text/plain\r\n\r\nThe camera is unavailable.\n")

assert share and share_factory and http_factory  # the fixtures, imported for the tests here


class CameraHolder:
    """Another streamer holding the simulated camera: the simulator's
    stream lock, which its owner holds until it frees the buffers or dies."""

    def __init__(self, board):
        self.fd = os.open(board.dir / "stream.lock", os.O_RDWR | os.O_CREAT, 0o644)
        self.held = threading.Event()

    def take_when_free(self):
        """Takes the camera as soon as its streamer lets go, in the background."""
        def take():
            fcntl.flock(self.fd, fcntl.LOCK_EX)
            self.held.set()
        threading.Thread(target=take, daemon=True).start()

    def give_back(self):
        fcntl.flock(self.fd, fcntl.LOCK_UN)
        os.close(self.fd)


def placeholders_since_live(images):
    """How many placeholder pictures end the list, after its last live frame."""
    count = 0
    for image in reversed(images):
        if image != PLACEHOLDER:
            break
        count += 1
    return count


def live_after_placeholders(images):
    first = images.index(PLACEHOLDER) if PLACEHOLDER in images else len(images)
    return any(image != PLACEHOLDER for image in images[first:])


def snapshot(share):
    with share.connect(b"snapshot\n") as s:
        return receive_all(s)


# --- the camera goes away while viewers watch, and comes back ------------------

@pytest.mark.parametrize("sig, lines", [
    # Stopped as if stuck in the driver: silent, deaf to SIGTERM.
    (signal.SIGSTOP, ["vshare: vcapture gave no frame for 3 s",
                      "vshare: vcapture did not stop in 2 s: killed"]),
    (signal.SIGKILL, ["vshare: vcapture ended (signal Killed)"]),
])
def test_viewers_see_the_placeholder_until_the_camera_comes_back(board, share_factory, sig,
                                                                 lines):
    share = share_factory(*SIZE, "-drop", "30")
    readers = [Reader(share) for _ in range(2)]
    wait_until(lambda: all(r.parts() >= 3 for r in readers), bound(board, 60), "parts")
    old, = share.captures()
    holder = CameraHolder(board)  # takes the camera as the old capture lets go of it
    holder.take_when_free()
    os.kill(old, sig)
    assert holder.held.wait(bound(board, 30))
    wait_until(lambda: all(placeholders_since_live(parts_of(r.data)[0]) >= 2 for r in readers),
               bound(board, 30), "no placeholder")
    assert snapshot(share) == CAMERA_UNAVAILABLE
    wait_until(lambda: not Path(f"/proc/{old}").exists(), bound(board, 10), "not reaped")
    err = own_lines(share.stderr())
    assert [l for l in lines if l not in err] == []
    # The retries meet the other streamer.
    wait_until(lambda: any(l.startswith("VIDIOC_REQBUFS") and "-EBUSY" in l
                           for l in board.trace()), bound(board, 30), "no retry")
    holder.give_back()
    wait_until(lambda: all(live_after_placeholders(parts_of(r.data)[0]) for r in readers),
               bound(board, 30), "no frames again")
    for r in readers:
        images, _ = parts_of(r.finish())
        assert not r.ended
        assert images[0] != PLACEHOLDER and images[-1] != PLACEHOLDER
    assert "vshare: the camera is back" in own_lines(share.stderr())
    assert share.stop() == 0


# --- a camera that gives no picture from the start -------------------------------

def stuck_vcapture(tmp_path):
    """A stand-in for a vcapture stuck in the driver: it hands over nothing
    and ignores SIGTERM."""
    path = tmp_path / "stuck-vcapture"
    path.write_text("#!/bin/sh\ntrap '' TERM\nexec sleep 600\n")
    path.chmod(0o755)
    return ["-vcapture", str(path)]


@pytest.mark.parametrize("settings, args, lines", [
    ({"open_errno": "ENODEV"}, [],
     ["vshare: vcapture ended (exit status 1): Can't open device /dev/v4l/video0: "
      "No such device"]),
    ({"jpeg_size": "1000"}, [],
     ["vshare: frames too small: vcapture drops JPEG images under 5000 bytes, "
      "the camera gives 1000"]),
    ({"frame_fault": "empty"}, [], ["vshare: vcapture drops every frame: bytesused == 0"]),
    ({}, ["-vcapture", "/nonexistent/vcapture"],
     ["vshare: can't run /nonexistent/vcapture: No such file or directory"]),
    ({}, "stuck", ["vshare: vcapture gave no frame in 10 s",
                   "vshare: vcapture did not stop in 2 s: killed"]),
], ids=["no-camera", "frames-too-small", "empty-frames", "no-vcapture", "stuck"])
def test_a_camera_without_pictures_is_reported_and_streams_stay(board, share_factory, tmp_path,
                                                                settings, args, lines):
    if args == "stuck":
        args = stuck_vcapture(tmp_path)
    share = share_factory(*SIZE, *args, settings=settings)
    reader = Reader(share)
    wait_until(lambda: placeholders_since_live(parts_of(reader.data)[0] if reader.data else [])
               >= 2, bound(board, 60), "no placeholder")
    assert parts_of(reader.data)[0][0] == PLACEHOLDER  # from its very first part
    assert snapshot(share) == CAMERA_UNAVAILABLE
    relayed = share.relay("-snapshot")
    assert (relayed.returncode, relayed.stdout) == (0, CAMERA_UNAVAILABLE)
    err = own_lines(share.stderr())
    if board.programs.emulator and args and "nonexistent" in args[-1]:
        lines = ["vshare: vcapture ended (exit status 127)"]  # the emulator fails to exec
    assert [l for l in lines if l not in err] == [], err
    # A stop still ends the body as it should.
    assert share.stop() == 0
    reader.join(timeout=30)
    images, rest = parts_of(reader.finish())
    assert set(images) == {PLACEHOLDER} and rest == CLOSING


def test_frames_too_small_keep_one_vcapture_running(board, share_factory):
    # The camera delivers: vcapture runs on (no restart) and frames it keeps
    # end the outage.
    share = share_factory(*SIZE, settings={"jpeg_size": "1000"})
    reader = Reader(share)
    wait_until(lambda: reader.parts() >= 3, bound(board, 60), "no placeholder")
    assert len(share.captures()) == 1 and share.streamons() == 1
    err = own_lines(share.stderr())
    # vcapture's report of the first dropped frame, not one a frame.
    assert sum("JPEG frame size  1000 < 5000, skip frame" in l for l in err) == 1
    reader.finish()


# --- the same over HTTP -----------------------------------------------------------------

HTTP_CAMERA_UNAVAILABLE = (b"HTTP/1.1 503 Service Unavailable\r\n"
                           b"Content-Type: text/plain; charset=utf-8\r\nContent-Length: 27\r\n"
                           b"Retry-After: 2\r\n"
                           b"Cache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\n"
                           b"Connection: close\r\n\r\nThe camera is unavailable.\n")
ADVANCE = "/stream?advance_headers=1"


def http_reader(http, path):
    return Reader(SimpleNamespace(connect=lambda: http.open(get(path, "1.1"))))


def http_images(body, path):
    """The whole pictures of an HTTP stream of either variant, each part's
    head checked strictly, and what follows them."""
    head = HTTP_STREAM_HEAD + (ADVANCE_HEAD if path == ADVANCE else b"")
    if len(body) < len(head):
        assert head.startswith(body), body
        return [], body
    assert body.startswith(head), body[:200]
    body = body[len(HTTP_STREAM_HEAD):]
    if path != ADVANCE:
        parts, rest = whole_parts(body)
        return [image for _, image in parts], rest
    # Each image is followed by the next part's head, without its length.
    *images, rest = body[len(ADVANCE_HEAD):].split(b"\r\n" + ADVANCE_HEAD)
    assert all(i.startswith(b"\xff\xd8") and i.endswith(b"\xff\xd9") for i in images)
    return images, rest


def placeholder_times(body):
    """When the placeholder parts of a plain stream were sent (X-Timestamp)."""
    return [int(sec) + int(usec) / 1e6 for m in PART_HEAD.finditer(body)
            for length, sec, usec in [m.groups()]
            if body[m.end():m.end() + int(length)] == PLACEHOLDER]


def capture_of(http):
    return json.loads(response(http.exchange(get("/state")))[2])["capture"]


def metrics_of(http):
    return response(http.exchange(get("/metrics")))[2].decode()


# What the other requests get meanwhile: a snapshot is refused with a time
# to try again, a HEAD gets the head alone, and nobody waits for a picture.
DURING_AN_OUTAGE = [
    (get("/snapshot", "1.1", "Connection: close\r\n"), HTTP_CAMERA_UNAVAILABLE),
    (b"HEAD /snapshot HTTP/1.1\r\nHost: c\r\nConnection: close\r\n\r\n",
     HTTP_CAMERA_UNAVAILABLE.split(b"\r\n\r\n")[0] + b"\r\n\r\n"),
    (b"HEAD /stream?fps=1 HTTP/1.1\r\nHost: c\r\n\r\n", HTTP_STREAM_HEAD),
]


def test_http_viewers_see_the_placeholder_until_the_camera_comes_back(board, http_factory):
    http = http_factory(*SIZE, "-drop", "30")
    readers = {path: http_reader(http, path) for path in ("/stream", ADVANCE)}

    def images(path, reader=None):
        return http_images((reader or readers[path]).data, path)[0]
    wait_until(lambda: all(len(images(p)) >= 3 for p in readers), bound(board, 60), "parts")
    assert capture_of(http)["restarts"] == 0
    old, = http.captures()
    holder = CameraHolder(board)
    holder.take_when_free()
    os.kill(old, signal.SIGSTOP)  # silent, as if stuck in the driver
    assert holder.held.wait(bound(board, 30))
    wait_until(lambda: all(placeholders_since_live(images(p)) >= 2 for p in readers),
               bound(board, 30), "no placeholder")
    # A viewer arriving meanwhile gets the placeholder at once, and at its pace.
    readers["/stream?fps=1"] = http_reader(http, "/stream?fps=1")
    wait_until(lambda: len(images("/stream?fps=1")) >= 3, bound(board, 30), "no placeholder")
    capture = capture_of(http)
    assert capture["state"] == "unavailable" and capture["reason"] != "", capture
    metrics = metrics_of(http)
    assert 'vshare_capture_state{state="unavailable"} 1\n' in metrics
    # The reason may have moved on since /state was asked (another try failed).
    assert re.search(r'\nvshare_capture_unavailable_info\{reason="[^"]+"\} 1\n', metrics)
    for request, answer in DURING_AN_OUTAGE:
        assert http.exchange(request) == answer, request
    holder.give_back()
    # Within 3 s of the camera's return, and some room for a loaded machine.
    wait_until(lambda: all(live_after_placeholders(images(p)) for p in readers),
               bound(board, 5), "no frames again")
    capture = capture_of(http)
    assert (capture["state"], capture["reason"]) == ("live", "") and capture["restarts"] >= 1
    metrics = metrics_of(http)
    assert 'vshare_capture_state{state="live"} 1\n' in metrics
    assert "vshare_capture_unavailable_info{" not in metrics
    assert f"vshare_capture_restarts_total {capture['restarts']}\n" in metrics
    for path, reader in readers.items():
        body = reader.finish()
        assert not reader.ended, path
        # Once a second, a viewer's own pace or a newcomer notwithstanding.
        times = placeholder_times(body)
        assert all(b - a >= 1 - 1 / 30 for a, b in zip(times, times[1:])), (path, times)
    assert http.stop() == 0


@pytest.mark.parametrize("settings, reason", [
    ({"open_errno": "ENODEV"},
     "vcapture ended (exit status 1): Can't open device /dev/v4l/video0: No such device"),
    # vcapture runs on through this one, and is stopped with vshare.
    ({"jpeg_size": "1000"},
     "frames too small: vcapture drops JPEG images under 5000 bytes, the camera gives 1000"),
], ids=["no-camera", "frames-too-small"])
def test_a_stop_during_an_outage_closes_each_http_body(board, http_factory, settings, reason):
    http = http_factory(*SIZE, settings=settings)
    readers = {path: http_reader(http, path) for path in ("/stream", ADVANCE)}
    wait_until(lambda: all(len(http_images(r.data, p)[0]) >= 2 for p, r in readers.items()),
               bound(board, 60), "no placeholder")
    assert capture_of(http)["reason"] == reason
    assert http.stop() == 0
    assert http.captures() == []
    for path, reader in readers.items():
        reader.join(timeout=30)
        images, rest = http_images(reader.finish(), path)
        assert set(images) == {PLACEHOLDER}
        assert rest == (b"\r\n" + CLOSING if path == ADVANCE else CLOSING)


# --- the relay's bounds ---------------------------------------------------------------

def test_relay_gives_up_on_a_client_that_reads_nothing(board, share_factory):
    share = share_factory(*SIZE, "-drop", "60")  # the relay's own bound comes first
    cmd, kwargs = board_command(board, "vshare", "-relay", "-socket", str(share.socket))
    relay = subprocess.Popen(*cmd, **kwargs, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        assert relay.wait(timeout=bound(board, 60)) == 1
    finally:
        relay.kill()
    assert relay.stderr.read() == b"vshare: client dropped: it took nothing for 5 s\n"
    assert relay.stdout.read().startswith(STREAM_HEAD)
    # The server saw the viewer leave; the capture stops after its linger.
    wait_until(lambda: share.captures() == [], bound(board, 30), "vcapture still runs")
    assert "viewer dropped" not in share.stderr()


NOT_ALLOWED = (b"Status: 405 Method Not Allowed\r\nAllow: GET, HEAD\r\n"
               b"Content-Type: text/plain\r\n\r\nOnly GET and HEAD are answered here.\n")


@pytest.mark.parametrize("method, args, answer", [
    ("HEAD", [], STREAM_HEAD),
    ("HEAD", ["-snapshot"], b"Content-Type: image/jpeg\r\nCache-Control: no-cache\r\n\r\n"),
    ("POST", [], NOT_ALLOWED),
    ("DELETE", ["-snapshot"], NOT_ALLOWED),
])
def test_relay_answers_other_methods_than_get_without_a_capture(board, share, method, args,
                                                                answer):
    cmd, kwargs = board_command(board, "vshare", "-relay", "-socket", str(share.socket), *args)
    kwargs["env"]["REQUEST_METHOD"] = method
    result = subprocess.run(*cmd, **kwargs, capture_output=True, timeout=bound(board, 60))
    assert (result.returncode, result.stdout, result.stderr) == (0, answer, b"")
    assert share.captures() == [] and share.streamons() == 0
    assert "viewer dropped" not in share.stderr()


def test_relay_head_without_a_server(board, tmp_path):
    cmd, kwargs = board_command(board, "vshare", "-relay", "-socket", str(tmp_path / "no.sock"))
    kwargs["env"]["REQUEST_METHOD"] = "HEAD"
    result = subprocess.run(*cmd, **kwargs, capture_output=True, timeout=bound(board, 60))
    head = UNREACHABLE[:UNREACHABLE.index(b"\r\n\r\n") + 4]
    assert (result.returncode, result.stdout) == (1, head)


def test_the_http_face_in_an_outage(board, share_factory, tmp_path):
    share = share_factory(*SIZE, "-listen", "127.0.0.1:0", "-no-auth", "-users",
                          str(tmp_path / "users"), settings={"open_errno": "ENODEV"})
    # The unix socket's line comes first; the port's may follow a moment later.
    listening = lambda: re.search(r"vshare: listening on 127\.0\.0\.1:(\d+)\n", share.stderr())
    wait_until(listening, bound(board, 30), "no TCP port")
    port = int(listening().group(1))
    state = lambda: json.loads(http_site.get(port, "/state")[2])["capture"]
    with socket.create_connection(("127.0.0.1", port), timeout=bound(board, 60)) as s:
        s.sendall(b"GET /stream HTTP/1.1\r\nHost: cam\r\n\r\n")
        body = receive_until(s, lambda data: data.count(b"\r\n--frame\r\n") >= 1)
        head, parts = body.split(b"\r\n\r\n", 1)
        assert head.startswith(b"HTTP/1.1 200 OK\r\n")
        assert parts_of(STREAM_HEAD + parts)[0][0] == PLACEHOLDER
        status, fields, text = http_site.get(port, "/snapshot")
        assert (status, fields["Retry-After"], text) == (
            "HTTP/1.1 503 Service Unavailable", "2", b"The camera is unavailable.\n")
        with socket.create_connection(("127.0.0.1", port), timeout=bound(board, 60)) as h:
            h.sendall(b"HEAD /snapshot HTTP/1.1\r\nHost: cam\r\nConnection: close\r\n\r\n")
            head = receive_all(h)
        assert head.startswith(b"HTTP/1.1 503 Service Unavailable\r\n")
        assert b"\r\nRetry-After: 2\r\n" in head and head.endswith(b"\r\n\r\n")  # no body
        # While the stream waits, the capture is tried again.
        wait_until(lambda: state()["restarts"] >= 1, bound(board, 30), "no restart")
        assert (state()["state"], state()["reason"]) == (
            "unavailable",
            "vcapture ended (exit status 1): Can't open device /dev/v4l/video0: No such device")
