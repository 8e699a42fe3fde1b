# SPDX-License-Identifier: MIT
"""The simulated driver answers like a kernel V4L2 driver: bad pointers,
unknown requests and bad values get EFAULT, ENOTTY and EINVAL; the device
node looks like one to every stat form; dup()ed descriptors are the same
open file; one streamer at a time; unusable settings are refused; and
v4l2-compliance finds nothing but what the board's own driver does on
purpose (boardsim/README.md lists it)."""

import json
import os
import re
import shutil
import signal
import subprocess
import sys
import textwrap
import time

import pytest

from test_vcapture_stream import board_command, lines, wait_for_frames


def host_only(board, tool=None):
    if board.programs.emulator:
        pytest.skip("a host program; the ARM simulator serves ARM programs")
    if tool and not shutil.which(tool):
        pytest.skip(f"{tool} is not installed")


def host_env(board, settings=None):
    return {**board.env({"unpaced": 1, **(settings or {})}), "LD_PRELOAD": board.preload,
            "PATH": "/usr/bin:/bin"}


# A client written with ctypes: every call goes through the C library, and
# so through the preload, exactly as a C client's would.
CLIENT = textwrap.dedent(r"""
    import ctypes, ctypes.util, json, os, struct, sys
    libc = ctypes.CDLL(None, use_errno=True)
    libc.ioctl.argtypes = [ctypes.c_int, ctypes.c_ulong, ctypes.c_void_p]
    libc.mmap.restype = ctypes.c_void_p
    libc.mmap.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_int, ctypes.c_int,
                          ctypes.c_int, ctypes.c_long]

    def ioc(d, nr, size):
        return (d << 30) | (size << 16) | (ord('V') << 8) | nr

    def call(fd, request, arg):
        r = libc.ioctl(fd, request, arg)
        return 0 if r == 0 else -ctypes.get_errno()

    QUERYCAP = ioc(2, 0, 104)
    S_INPUT = ioc(3, 39, 4)
    G_INPUT = ioc(2, 38, 4)
    out = {}
    fd = os.open("/dev/v4l/video0", os.O_RDWR)
    cap = ctypes.create_string_buffer(104)
    out["querycap"] = call(fd, QUERYCAP, ctypes.addressof(cap))
    out["querycap_null"] = call(fd, QUERYCAP, None)
    out["querycap_unmapped"] = call(fd, QUERYCAP, 8)
    readonly = libc.mmap(None, 4096, 1, 0x22, -1, 0)  # PROT_READ, private anonymous
    out["querycap_readonly"] = call(fd, QUERYCAP, readonly)
    out["s_input_null"] = call(fd, S_INPUT, None)
    out["unknown"] = call(fd, ioc(3, 200, 16), ctypes.addressof(cap))
    out["unknown_none"] = call(fd, ioc(0, 255, 0), None)
    bad_input = ctypes.c_int(5)
    out["s_input_5"] = call(fd, S_INPUT, ctypes.addressof(bad_input))
    querybuf = ctypes.create_string_buffer(struct.pack("II", 7, 1), 88)
    out["querybuf_beyond"] = call(fd, ioc(3, 9, 88), ctypes.addressof(querybuf))
    copy = os.dup(fd)
    out["dup_querycap"] = call(copy, QUERYCAP, ctypes.addressof(cap))
    os.close(fd)
    out["dup_after_close"] = call(copy, QUERYCAP, ctypes.addressof(cap))
    # What each stat form shows of the node.
    st = os.stat("/dev/v4l/video0")
    lst = os.lstat("/dev/v4l/video0")
    fst = os.fstat(copy)
    out["stat"] = [oct(st.st_mode), os.major(st.st_rdev), os.minor(st.st_rdev)]
    out["lstat"] = [oct(lst.st_mode), os.major(lst.st_rdev)]
    out["fstat"] = [oct(fst.st_mode), os.major(fst.st_rdev)]
    buf = ctypes.create_string_buffer(256)
    for name in ("stat", "stat64", "lstat", "lstat64"):
        fn = getattr(libc, name)
        fn.argtypes = [ctypes.c_char_p, ctypes.c_void_p]
        out[name + "_fn"] = [fn(b"/dev/v4l/video0", buf), struct.unpack_from("I", buf, 24)[0]]
        out[name + "_null"] = fn(b"/dev/v4l/video0", None) and -ctypes.get_errno()
    for name in ("__xstat", "__xstat64", "__lxstat", "__lxstat64"):
        fn = getattr(libc, name)
        fn.argtypes = [ctypes.c_int, ctypes.c_char_p, ctypes.c_void_p]
        out[name] = [fn(1, b"/dev/v4l/video0", buf), struct.unpack_from("I", buf, 24)[0]]
    libc.fstatat.argtypes = [ctypes.c_int, ctypes.c_char_p, ctypes.c_void_p, ctypes.c_int]
    out["fstatat_empty_path"] = [libc.fstatat(copy, b"", buf, 0x1000),
                                 struct.unpack_from("I", buf, 24)[0]]
    libc.statx.argtypes = [ctypes.c_int, ctypes.c_char_p, ctypes.c_int, ctypes.c_uint,
                           ctypes.c_void_p]
    out["statx"] = [libc.statx(-100, b"/dev/v4l/video0", 0, 0xFFF, buf),
                    struct.unpack_from("H", buf, 28)[0], struct.unpack_from("I", buf, 128)[0]]
    # Open forms that fortified and 64-bit clients call.
    for name in ("__open_2", "__open64_2"):
        fn = getattr(libc, name)
        fn.argtypes = [ctypes.c_char_p, ctypes.c_int]
        d = fn(b"/dev/v4l/video0", 2)
        out[name] = call(d, QUERYCAP, ctypes.addressof(cap))
    for name in ("__openat_2", "__openat64_2"):
        fn = getattr(libc, name)
        fn.argtypes = [ctypes.c_int, ctypes.c_char_p, ctypes.c_int]
        d = fn(-100, b"/dev/v4l/video0", 2)
        out[name] = call(d, QUERYCAP, ctypes.addressof(cap))
    # Clients that ask before they open, and one that passes requests as int.
    for name in ("access", "euidaccess"):
        fn = getattr(libc, name)
        fn.argtypes = [ctypes.c_char_p, ctypes.c_int]
        out[name] = [fn(b"/dev/v4l/video0", m) and -ctypes.get_errno() for m in (0, 6, 1)]
    libc.faccessat.argtypes = [ctypes.c_int, ctypes.c_char_p, ctypes.c_int, ctypes.c_int]
    out["faccessat"] = [libc.faccessat(-100, b"/dev/v4l/video0", m, 0) and -ctypes.get_errno()
                        for m in (0, 6, 1)]
    out["querycap_sign_extended"] = call(copy, QUERYCAP | 0xFFFFFFFF00000000,
                                         ctypes.addressof(cap))
    parm = ctypes.create_string_buffer(struct.pack("IIIII", 1, 0x1000, 0, 1, 255), 204)
    out["s_parm_255"] = [call(copy, ioc(3, 22, 204), ctypes.addressof(parm)),
                         *struct.unpack_from("II", parm, 12)]
    reqbufs = ctypes.create_string_buffer(struct.pack("III", 2, 2, 1), 20)
    out["reqbufs_output"] = call(copy, ioc(3, 8, 20), ctypes.addressof(reqbufs))
    print(json.dumps(out))
""")


def test_requests_are_answered_as_a_kernel_driver_does(board):
    host_only(board)
    result = subprocess.run([sys.executable, "-c", CLIENT], env=host_env(board),
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    assert result.returncode == 0, result.stderr.decode()
    out = json.loads(result.stdout)
    efault, enotty, einval = -14, -25, -22
    assert out["querycap"] == 0
    # A record the driver cannot read or write: EFAULT, never a crash.
    assert [out["querycap_null"], out["querycap_unmapped"], out["querycap_readonly"],
            out["s_input_null"]] == [efault] * 4
    assert [out["unknown"], out["unknown_none"]] == [enotty, enotty]
    assert [out["s_input_5"], out["querybuf_beyond"]] == [einval, einval]
    # A dup()ed descriptor is the same open file, open until its last close.
    assert [out["dup_querycap"], out["dup_after_close"]] == [0, 0]
    chardev = oct(0o20660)
    assert out["stat"] == [chardev, 81, 0]
    assert out["lstat"] == [chardev, 81] and out["fstat"] == [chardev, 81]
    for name in ("stat_fn", "stat64_fn", "lstat_fn", "lstat64_fn", "__xstat", "__xstat64",
                 "__lxstat", "__lxstat64", "fstatat_empty_path"):
        assert out[name] == [0, 0o20660], name
    for name in ("stat_null", "stat64_null", "lstat_null", "lstat64_null"):
        assert out[name] == efault, name
    assert out["statx"] == [0, 0o20660, 81]
    for name in ("__open_2", "__open64_2", "__openat_2", "__openat64_2"):
        assert out[name] == 0, name
    # The node may be read and written, not executed, whichever way it is asked.
    for name in ("access", "euidaccess", "faccessat"):
        assert out[name] == [0, 0, -13], name
    assert out["querycap_sign_extended"] == 0
    # The sensor delivers at most 30 frames a second at this size.
    assert out["s_parm_255"] == [0, 1, 30]
    assert out["reqbufs_output"] == einval
    trace = board.trace()
    assert "VIDIOC_QUERYCAP = -EFAULT" in trace
    assert "VIDIOC_S_INPUT input=5 = -EINVAL" in trace
    assert "VIDIOC_S_PARM capability=0x1000 timeperframe=1/255 = 0 timeperframe=1/30" in trace
    assert "VIDIOC_REQBUFS count=2 = -EINVAL" in trace


# What the board's driver does on purpose, as boardsim/README.md lists it.
DOCUMENTED_FAILURES = {
    "VIDIOC_QUERYCAP": "(vcap.version >> 16) < 3",  # and no V4L2_CAP_EXT_PIX_FORMAT
    "VIDIOC_QUERY_EXT_CTRL/QUERYMENU": "no V4L2_CID_PRIVATE_BASE allowed",
    "VIDIOC_QUERYCTRL": "node->controls.find(qctrl.id) == node->controls.end()",
    "VIDIOC_(UN)SUBSCRIBE_EVENT/DQEVENT": "subscribe event for control",
    "VIDIOC_G/S_PARM": "cap->readbuffers",
}


def compliance(board, settings=None):
    result = subprocess.run(["v4l2-compliance", "-d", "/dev/v4l/video0", "-s"],
                            env=host_env(board, settings), stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, timeout=300)
    out = result.stdout.decode(errors="replace")
    assert result.returncode >= 0, f"v4l2-compliance died of signal {-result.returncode}"
    total = re.search(r"Total for .* (\d+), Succeeded: (\d+), Failed: (\d+)", out)
    assert total, out[-2000:]
    failed = {}
    reason = ""
    for line in out.splitlines():
        if "fail:" in line:
            reason = line
        m = re.match(r"\s*test (.*): FAIL$", line)
        if m:
            failed[m.group(1)] = reason
    return [int(n) for n in total.groups()], failed


def test_v4l2_compliance_finds_only_the_documented_differences(board):
    host_only(board, "v4l2-compliance")
    (total, succeeded, failed_count), failed = compliance(board)
    assert total >= 50 and failed_count == len(DOCUMENTED_FAILURES) + 1  # QUERYCAP twice
    assert set(failed) == set(DOCUMENTED_FAILURES)
    for name, reason in DOCUMENTED_FAILURES.items():
        assert reason in failed[name], (name, failed[name])
    # The streaming tests ran: the last frames were captured by poll, select and epoll.
    for mode in ("MMAP (no poll)", "MMAP (select)", "MMAP (epoll)"):
        assert mode not in failed


def test_v4l2_compliance_capability_failure_is_only_the_old_driver(board):
    host_only(board, "v4l2-compliance")
    # A current kernel's version, and the extended format flag its core adds.
    _, failed = compliance(board, {"version": 0x050A00, "caps": 0x84200001})
    assert "VIDIOC_QUERYCAP" not in failed


@pytest.mark.parametrize("value, message", [
    ("4294967295", "BOARDSIM_JPEG_SIZE=4294967295: expected a number from 0 to 1924096"),
    ("12x", "BOARDSIM_JPEG_SIZE=12x: expected a number from 0 to 1924096"),
])
def test_an_absurd_jpeg_size_is_refused_by_name(board, value, message):
    result = board.run("vcapture", "320", "240", "-format", "jpeg", "-count", "2", "-out",
                       os.devnull, settings={"jpeg_size": value, "unpaced": 1}, timeout=60)
    assert result.returncode == 125
    assert f"boardsim: refused setting {message}" in result.stderr.decode()


@pytest.mark.parametrize("name, value, expected", [
    ("open_errno", "EFOO", "expected an error name (like EINVAL) or number"),
    ("burst", "EINTR:1000000000", "expected counts from 0 to 1000"),
    ("frame_fault", "sometimes", "expected one of empty nosoi noeoi"),
    ("chip_version", "0x10000", "expected a number from 0 to 65535"),
])
def test_unusable_settings_are_refused_by_name(board, name, value, expected):
    result = board.run("sensreg", "reg", "0", "0", settings={name: value}, timeout=60)
    assert result.returncode == 125
    err = result.stderr.decode()
    assert f"boardsim: refused setting BOARDSIM_{name.upper()}={value}: {expected}" in err


class TestOneStreamer:
    def start_streamer(self, board):
        args, kwargs = board_command(board, "vcapture", "64", "48", "-quiet", "-out", os.devnull)
        proc = subprocess.Popen(*args, **kwargs, stdout=subprocess.DEVNULL,
                                stderr=subprocess.PIPE)
        wait_for_frames(board, 1)
        return proc

    def test_a_second_vcapture_is_refused_while_one_streams(self, board):
        first = self.start_streamer(board)
        try:
            second = board.run("vcapture", "64", "48", "-count", "2", "-out", os.devnull)
            assert second.returncode == 1
            assert lines(second.stderr)[-2] == (
                "vcapture: VIDIOC_REQBUFS: Device or resource busy")
            assert first.poll() is None  # the streamer goes on
        finally:
            first.send_signal(signal.SIGTERM)
            assert first.wait(timeout=60) == 0
        # Freed by its owner: the next streamer gets the buffers.
        assert board.run("vcapture", "64", "48", "-count", "2", "-out",
                         os.devnull).returncode == 0

    def test_a_dead_owner_leaves_the_buffers_free(self, board):
        first = self.start_streamer(board)
        first.kill()
        first.wait(timeout=60)
        result = board.run("vcapture", "64", "48", "-count", "2", "-out", os.devnull)
        assert result.returncode == 0, result.stderr.decode()

    def test_a_file_without_buffers_of_its_own_cannot_stream(self, board):
        # The buffers a killed owner left in the driver's state are not
        # another process's to queue, dequeue or stream.
        host_only(board)
        first = self.start_streamer(board)
        first.kill()
        first.wait(timeout=60)
        client = textwrap.dedent(r"""
            import ctypes, os
            libc = ctypes.CDLL(None, use_errno=True)
            libc.ioctl.argtypes = [ctypes.c_int, ctypes.c_ulong, ctypes.c_void_p]
            def ioc(d, nr, size):
                return (d << 30) | (size << 16) | (ord('V') << 8) | nr
            def call(request, arg):
                return 0 if libc.ioctl(fd, request, arg) == 0 else -ctypes.get_errno()
            fd = os.open("/dev/v4l/video0", os.O_RDWR)
            kind = ctypes.c_int(1)
            buf = ctypes.create_string_buffer(88)  # the host's v4l2_buffer
            buf[4] = 1  # type: video capture
            buf[60] = 1  # memory: mmap
            print(call(ioc(3, 15, 88), buf), call(ioc(1, 18, 4), ctypes.byref(kind)),
                  call(ioc(3, 17, 88), buf))
        """)
        result = subprocess.run([sys.executable, "-c", client], env=host_env(board),
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
        assert result.returncode == 0, result.stderr.decode()
        assert result.stdout.decode().split() == ["-22"] * 3  # QBUF, STREAMON, DQBUF


def sequences(data, width, height, frame_size):
    from pictures import sequences_in_gray
    luma = width * height
    gray = b"".join(data[i:i + luma] for i in range(0, len(data) - frame_size + 1, frame_size))
    return sequences_in_gray(gray, width, height)


def consecutive(seqs, n):
    return len(seqs) == n and seqs == list(range(seqs[0], seqs[0] + n))


@pytest.mark.parametrize("fmt", ["raw", "mjpeg"])
def test_ffmpeg_captures_frames_in_order(board, tmp_path, fmt):
    host_only(board, "ffmpeg")
    from pictures import ffmpeg_gray, sequences_in_gray
    out = tmp_path / f"ffmpeg.{fmt}"
    args = ["-input_format", "yuv420p"] if fmt == "raw" else ["-input_format", "mjpeg"]
    muxer = ["-f", "rawvideo"] if fmt == "raw" else ["-c", "copy", "-f", "mjpeg"]
    result = subprocess.run(["ffmpeg", "-v", "error", "-f", "v4l2", "-video_size", "320x240",
                             *args, "-i", "/dev/v4l/video0", "-frames:v", "6", "-fps_mode", "passthrough", *muxer, "-y",
                             str(out)], env=host_env(board), stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, timeout=120)
    assert result.returncode == 0, result.stderr.decode()
    if fmt == "raw":
        seqs = sequences(out.read_bytes(), 320, 240, 320 * 240 * 3 // 2)
    else:
        seqs = sequences_in_gray(ffmpeg_gray(["-f", "mjpeg"], out), 320, 240)
    assert consecutive(seqs, 6), seqs


@pytest.mark.parametrize("caps", ["video/x-raw,format=I420", "image/jpeg"])
def test_gstreamer_v4l2src_captures_frames_in_order(board, tmp_path, caps):
    host_only(board, "gst-launch-1.0")
    from pictures import ffmpeg_gray, sequences_in_gray
    out = tmp_path / "gst.out"
    result = subprocess.run(["gst-launch-1.0", "-q", "v4l2src", "device=/dev/v4l/video0",
                             "num-buffers=6", "!", f"{caps},width=320,height=240", "!",
                             "filesink", f"location={out}"], env=host_env(board),
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    assert result.returncode == 0, result.stderr.decode()
    if caps.startswith("video/x-raw"):
        seqs = sequences(out.read_bytes(), 320, 240, 320 * 240 * 3 // 2)
    else:
        seqs = sequences_in_gray(ffmpeg_gray(["-f", "mjpeg"], out), 320, 240)
    assert consecutive(seqs, 6), seqs


def test_ustreamer_serves_the_simulated_camera(board, tmp_path):
    """µStreamer, unchanged: its snapshot and its stream's parts are the
    simulator's frames, in order."""
    host_only(board, "ustreamer")
    from http_site import get
    from pictures import ffmpeg_gray, sequences_in_gray
    import socket
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    server = subprocess.Popen(["ustreamer", "--device", "/dev/v4l/video0", "-m", "JPEG",
                               "-c", "HW", "-r", "320x240", "--host", "127.0.0.1",
                               "--port", str(port)], env=host_env(board, {"unpaced": 0}),
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    try:
        seqs = []
        for _ in range(100):  # its placeholder until the first frame, at most 10 s
            try:
                status, _, body = get(port, "/snapshot", timeout=5)
            except OSError:
                status = None
            if status is not None and status.split()[1] == "200":
                (tmp_path / "snapshot.jpg").write_bytes(body)
                gray = ffmpeg_gray([], tmp_path / "snapshot.jpg")
                seqs = sequences_in_gray(gray, 320, 240) if len(gray) == 320 * 240 else []
                if seqs and seqs[0] > 0:
                    break
            assert server.poll() is None, server.stderr.read().decode()
            time.sleep(0.1)
        assert len(seqs) == 1 and seqs[0] > 0, seqs
        with socket.create_connection(("127.0.0.1", port), timeout=10) as viewer:
            viewer.sendall(b"GET /stream HTTP/1.0\r\n\r\n")
            body = b""
            while body.count(b"\xff\xd9") < 4:
                chunk = viewer.recv(65536)
                assert chunk, body[:200]
                body += chunk
        stream = tmp_path / "stream.mjpeg"
        stream.write_bytes(b"".join(p[p.index(b"\xff\xd8"):p.rindex(b"\xff\xd9") + 2]
                                    for p in body.split(b"Content-Type: image/jpeg")[1:4]))
        parts = sequences_in_gray(ffmpeg_gray(["-f", "mjpeg"], stream), 320, 240)
        assert len(parts) == 3 and parts == sorted(parts) and parts[0] >= seqs[0], parts
    finally:
        server.terminate()
        server.wait(timeout=30)
    assert "VIDIOC_STREAMON = 0" in board.trace()


def test_the_trace_stops_at_its_bound_with_a_note(board):
    result = board.run("vcapture", "64", "48", "-count", "200", "-out", "/dev/null",
                       settings={"unpaced": 1, "trace_max": 3000})
    assert result.returncode == 0
    text = (board.dir / "trace").read_bytes()
    note = "trace cut at 3000 bytes (BOARDSIM_TRACE_MAX): later lines are not written"
    assert board.trace()[-1] == note and board.trace().count(note) == 1
    assert 3000 <= len(text) - len(note) - 1 < 3000 + 512
