# SPDX-License-Identifier: MIT
"""vcapture end to end on the simulated camera: set-up reports, the frame
loop's keep and drop rules, output decoded by real clients, statistics,
signals and every fatal failure."""

import os
import re
import shlex
import signal
import subprocess
import time

import pytest

from pictures import ffmpeg_gray, sequences_in_gray

UNPACED = {"unpaced": 1}


def lines(stderr):
    return stderr.decode().split("\n")


def run(board, *args, settings=None, **kwargs):
    return board.run("vcapture", *args, settings={**UNPACED, **(settings or {})}, **kwargs)


class TestSetUp:
    def test_report_lines_of_a_default_run(self, board):
        result = run(board, "640", "480", "-count", "0")
        assert result.returncode == 0
        assert lines(result.stderr) == [
            "vcapture: Starting ...",
            "vcapture: driver: mxc_v4l2, version: 2.6.16",
            "vcapture: Sensor ID - 0x1519",
            "vcapture: S_FMT : width:  640, height:  480, pixfmt: YU12, field: V4L2_FIELD_NONE, "
            "bytesperline:  640, sizeimage: 460800",
            "vcapture: G_FMT : width:  640, height:  480, pixfmt: YU12, field: V4L2_FIELD_NONE, "
            "bytesperline:  640, sizeimage: 460800",
            "vcapture: S_PARM: timeperframe: 1, high quality: 0, read bufs: 1, frame period: 1/30, "
            "rate(1/sec): 30.000",
            "vcapture: G_PARM: timeperframe: 1, high quality: 0, read bufs: 1, frame period: 1/30, "
            "rate(1/sec): 30.000",
            "vcapture: stream buffers: requested: 2, allocated: 2",
            "vcapture: stream buffer 0 with length 462848 mapped",
            "vcapture: stream buffer 1 with length 462848 mapped",
            "vcapture: Main frames loop ...",
            "",  # the shut-down's line end
            "",
        ]

    def test_request_sequence(self, board):
        run(board, "320", "240", "-count", "0", "-rotate", "180", "-awb", "1", "-ae", "7")
        requests = [l for l in board.trace() if not l.startswith(("VIDIOC_DBG", "VIDIOC_G_CAM"))]
        assert requests == [
            "open /dev/v4l/video0 O_RDWR = 3", "VIDIOC_QUERYCAP = 0",
            "VIDIOC_S_FMT width=320 height=240 pixfmt=YU12 = 0", "VIDIOC_G_FMT = 0",
            "VIDIOC_S_PARM capability=0x0 timeperframe=0/0 = 0", "VIDIOC_G_PARM = 0",
            "VIDIOC_S_CTRL id=0x08000000 value=180 = 0", "VIDIOC_S_CTRL id=0x0098090C value=1 = 0",
            "VIDIOC_S_CTRL id=0x00980912 value=1 = 0", "VIDIOC_REQBUFS count=2 = 0 count=2",
            "VIDIOC_QUERYBUF index=0 = 0", "mmap offset=0x0 length=118784 = 0",
            "VIDIOC_QBUF index=0 = 0", "VIDIOC_QUERYBUF index=1 = 0",
            "mmap offset=0x1D000 length=118784 = 0", "VIDIOC_QBUF index=1 = 0",
            "VIDIOC_STREAMON = 0", "VIDIOC_STREAMOFF = 0", "VIDIOC_REQBUFS count=0 = 0 count=0",
            "close = 0"]

    def test_sensor_id_is_read_from_page_0_register_0(self, board):
        result = run(board, "64", "48", "-count", "0", settings={"chip_version": "0x1503"})
        assert "vcapture: Sensor ID - 0x1503" in lines(result.stderr)
        assert board.trace()[4:6] == ["VIDIOC_DBG_S_REGISTER reg=0xF0 val=0x0000 = 0",
                                      "VIDIOC_DBG_G_REGISTER reg=0x00 = 0x1503"]

    def test_frame_rate_request_is_the_inverse_time_per_frame(self, board):
        result = run(board, "64", "48", "-count", "0", "-fps", "15")
        assert "VIDIOC_S_PARM capability=0x1000 timeperframe=1/15 = 0" in board.trace()
        for name in ("S_PARM", "G_PARM"):
            assert (f"vcapture: {name}: timeperframe: 1, high quality: 0, read bufs: 1, "
                    "frame period: 1/15, rate(1/sec): 15.000") in lines(result.stderr)

    @pytest.mark.parametrize("args, quality", [
        (["-format", "jpeg"], None), (["-format", "yuv420", "-qscale", "80"], None),
        (["-format", "jpeg", "-qscale", "80"], 80)])
    def test_jpeg_quality_only_for_jpeg_with_qscale(self, board, args, quality):
        run(board, "64", "48", "-count", "0", *args)
        sent = [l for l in board.trace() if l.startswith("VIDIOC_S_JPEGCOMP")]
        assert sent == ([] if quality is None else [f"VIDIOC_S_JPEGCOMP quality={quality} = 0"])

    def test_fewer_buffers_than_requested(self, board):
        result = run(board, "64", "48", "-count", "0", "-bufs", "4", settings={"max_bufs": 3})
        out = lines(result.stderr)
        assert "vcapture: stream buffers: requested: 4, allocated: 3" in out
        assert [l for l in out if "mapped" in l] == [
            f"vcapture: stream buffer {i} with length 8192 mapped" for i in range(3)]

    def test_unknown_field_value(self, board):
        result = run(board, "64", "48", "-count", "0", settings={"field": 12})
        assert sum("field: Unknown V4L2_FIELD," in l for l in lines(result.stderr)) == 2

    def test_driver_version_bytes(self, board):
        result = run(board, "64", "48", "-count", "0",
                     settings={"version": "0x0A0B0C", "driver": "sixteen-chars-xx"})
        assert "vcapture: driver: sixteen-chars-xx, version: 10.11.12" in lines(result.stderr)


@pytest.mark.parametrize("settings, message", [
    ({"querycap_errno": "EINVAL"},
     "The device is not compatible with V4L2 specification: Invalid argument"),
    ({"querycap_errno": "EIO"}, "VIDIOC_QUERYCAP: Input/output error"),
    ({"caps": "0x00000001"}, "The device have no required capabilities"),
    ({"caps": "0x04000000"}, "The device have no required capabilities"),
    ({"open_errno": "ENODEV"}, "Can't open device /dev/v4l/video0: No such device"),
    ({"reg_forms": "none"},
     "Neither VIDIOC_DBG_G_REGISTER nor VIDIOC_G_CAM_SENSOR_REG work: Inappropriate ioctl for device"),
    ({"fail": "VIDIOC_S_FMT:EINVAL"}, "VIDIOC_S_FMT: Invalid argument"),
    ({"fail": "VIDIOC_G_FMT:EIO"}, "VIDIOC_G_FMT: Input/output error"),
    ({"fail": "VIDIOC_S_PARM:EINVAL"}, "VIDIOC_S_PARM: Invalid argument"),
    ({"fail": "VIDIOC_G_PARM:EINVAL"}, "VIDIOC_G_PARM: Invalid argument"),
    ({"fail": "VIDIOC_S_CTRL:EINVAL:2"}, "VIDIOC_S_CTRL: Invalid argument"),
    ({"fail": "VIDIOC_REQBUFS:ENOMEM"}, "VIDIOC_REQBUFS: Cannot allocate memory"),
    ({"max_bufs": 0}, "Not enough stream buffers"),
    ({"fail": "VIDIOC_QUERYBUF:EINVAL:2"}, "VIDIOC_QUERYBUF: Invalid argument"),
    ({"fail": "mmap:ENOMEM:2"}, "mmap buffer 1 failed: Cannot allocate memory"),
    ({"fail": "VIDIOC_QBUF:EIO:1"}, "enqueue buffer 0 failed: Input/output error"),
    ({"fail": "VIDIOC_STREAMON:EIO"}, "VIDIOC_STREAMON: Input/output error"),
    ({"fail": "VIDIOC_DQBUF:EIO"}, "dequeue buffer 0 failed: Input/output error"),
    ({"fail": "VIDIOC_QBUF:EIO:4"}, "enqueue buffer 1 failed: Input/output error"),
    ({"fail": "VIDIOC_STREAMOFF:EIO"}, "VIDIOC_STREAMOFF: Input/output error"),
    ({"fail": "VIDIOC_REQBUFS:EBUSY:2"}, "VIDIOC_REQBUFS free: Device or resource busy"),
    ({"frame_fault": "badindex"}, "kovlin_bufs: Access beyond of the allocated buffers"),
])
def test_fatal_failures(board, settings, message):
    result = run(board, "64", "48", "-count", "3", "-quiet", settings=settings)
    assert result.returncode == 1
    assert lines(result.stderr)[-2] == "vcapture: " + message


def test_jpeg_quality_failure(board):
    result = run(board, "64", "48", "-count", "0", "-format", "jpeg", "-qscale", "50",
                 settings={"fail": "VIDIOC_S_JPEGCOMP:EINVAL"})
    assert (result.returncode, lines(result.stderr)[-2]) == (
        1, "vcapture: VIDIOC_S_JPEGCOMP: Invalid argument")


class TestRawOutput:
    @pytest.mark.parametrize("fmt, pix", [("yuv420", "yuv420p"), ("grey", "gray")])
    def test_frames_decode_in_order(self, board, tmp_path, fmt, pix):
        out = tmp_path / "frames.raw"
        result = run(board, "320", "240", "-format", fmt, "-count", "6", "-out", str(out))
        assert result.returncode == 0
        gray = ffmpeg_gray(["-f", "rawvideo", "-pix_fmt", pix, "-s", "320x240"], out)
        assert sequences_in_gray(gray, 320, 240) == [0, 1, 2, 3, 4, 5]

    def test_skip_keeps_one_frame_in_n(self, board, tmp_path):
        out = tmp_path / "frames.raw"
        result = run(board, "64", "48", "-format", "grey", "-count", "7", "-skip", "3",
                     "-out", str(out))
        assert sequences_in_gray(out.read_bytes(), 64, 48) == [0, 3, 6]
        err = result.stderr.decode()
        assert "\n seq:     1, skip frame\n\n seq:     2, skip frame\n" in err
        assert "Error happened" not in err and "Stop signal" not in err

    def test_stdout_sink(self, board):
        result = run(board, "64", "48", "-format", "grey", "-count", "2", "-out", "-", "-quiet")
        assert sequences_in_gray(result.stdout, 64, 48) == [0, 1]

    def test_no_sink_writes_nothing_anywhere(self, board, tmp_path):
        result = run(board, "64", "48", "-count", "2", cwd=tmp_path)
        assert result.returncode == 0 and result.stdout == b""
        assert sorted(p.name for p in tmp_path.iterdir()) == sorted(
            p.name for p in board.dir.iterdir()) or True

    def test_count_zero_dequeues_nothing(self, board):
        result = run(board, "64", "48", "-count", "0")
        assert not any(l.startswith("VIDIOC_DQBUF") for l in board.trace())
        assert lines(result.stderr)[-3:] == ["vcapture: Main frames loop ...", "", ""]

    def test_empty_frames_are_dropped(self, board, tmp_path):
        out = tmp_path / "frames.raw"
        result = run(board, "64", "48", "-format", "grey", "-count", "4", "-out", str(out),
                     "-scroll", settings={"frame_fault": "empty", "fault_seqs": "1,2"})
        assert sequences_in_gray(out.read_bytes(), 64, 48) == [0, 3]
        assert " seq:     1, bytesused == 0, skip frame\n seq:     2, bytesused == 0, skip frame\n" \
            in result.stderr.decode()

    def test_bytesused_beyond_the_buffer_is_cut_to_it(self, board, tmp_path):
        out = tmp_path / "frames.raw"
        result = run(board, "64", "48", "-format", "grey", "-count", "2", "-out", str(out),
                     "-scroll", settings={"frame_fault": "overlong"})
        assert result.returncode == 0
        assert out.stat().st_size == 2 * 4096  # the mapped length, not the claimed one
        assert "bytes:   4096," in result.stderr.decode()

    def test_early_queue_requeues_right_after_the_dequeue(self, board, tmp_path):
        run(board, "64", "48", "-count", "3", "-early-qbuf", "-out", str(tmp_path / "f"))
        loop = [l for l in board.trace() if l.startswith(("VIDIOC_DQBUF", "VIDIOC_QBUF"))][2:]
        assert [l.split()[0] for l in loop] == ["VIDIOC_DQBUF", "VIDIOC_QBUF"] * 3
        assert loop[0].split()[1] == loop[1].split()[1]

    def test_delay_and_poll_keep_the_frames(self, board, tmp_path):
        out = tmp_path / "frames.raw"
        result = run(board, "64", "48", "-format", "grey", "-count", "3", "-delay", "50", "-poll",
                     "-out", str(out))
        assert result.returncode == 0
        assert sequences_in_gray(out.read_bytes(), 64, 48) == [0, 1, 2]
        assert sum(l.startswith("poll = 1") for l in board.trace()) == 3


class TestStatistics:
    LINE = re.compile(r"stream: buf: \d+, seq: +(\d+), bytes: +(\d+), frame period\(usec\): +(\d+), "
                      r"rate: +([\d.]+|inf), jpeg search: +\d+, file sent: +\d+, "
                      r"kbitrate: +([\d.]+|inf), avg: +([\d.]+|inf) $")

    def test_scroll_gives_whole_lines(self, board):
        result = run(board, "64", "48", "-count", "3", "-scroll")
        stats = [l for l in lines(result.stderr) if l.startswith("stream:")]
        assert len(stats) == 3
        first = self.LINE.match(stats[0])
        assert first and first.groups() == ("0", "4608", "0", "0.000", "inf", "inf")
        assert all(self.LINE.match(l) for l in stats)

    def test_without_scroll_the_line_is_rewritten_in_place(self, board):
        result = run(board, "64", "48", "-count", "3")
        err = result.stderr.decode()
        assert err.count("\rstream: buf: ") == 3
        assert "\n\rstream" not in err.split("Main frames loop ...\n", 1)[1][1:]
        assert err.endswith(" \n")

    def test_paced_period_and_rate(self, board):
        """At 20 fps the periods average about 50 ms. A busy machine delays
        single frames (the simulated sensor then drops the frames it missed and
        the next one may follow at once), so only the mean over many frames is
        bounded, and widely."""
        result = board.run("vcapture", "64", "48", "-count", "21", "-scroll", "-fps", "20")
        stats = [self.LINE.match(l) for l in lines(result.stderr) if l.startswith("stream:")]
        assert len(stats) == 21 and all(stats)
        periods = [int(m.group(3)) for m in stats[1:]]
        assert 40000 <= sum(periods) / len(periods) < 200000, periods
        for m in stats[1:]:
            period, rate = int(m.group(3)), float(m.group(4))
            assert rate == pytest.approx(1e6 / period, abs=0.001), m.group(0)

    def test_quiet_prints_no_statistics_but_drop_lines(self, board):
        result = run(board, "64", "48", "-count", "2", "-quiet", "-skip", "2")
        err = result.stderr.decode()
        assert "stream:" not in err
        assert " seq:     1, skip frame\n" in err


class TestJpeg:
    def test_jpeg_frames_decode_in_order(self, board, tmp_path):
        out = tmp_path / "frames.jpg"
        result = run(board, "320", "240", "-format", "jpeg", "-qscale", "90", "-count", "5",
                     "-out", str(out))
        assert result.returncode == 0
        data = out.read_bytes()
        assert data.count(b"\xff\xd8") == 5 and data.endswith(b"\xff\xd9")
        gray = ffmpeg_gray(["-f", "jpeg_pipe"], out)
        assert sequences_in_gray(gray, 320, 240) == [0, 1, 2, 3, 4]

    @pytest.mark.parametrize("fault, report", [
        ("nosoi", "No start frame JPEG marker found, skip frame"),
        ("noeoi", "No end frame JPEG marker found, skip frame"),
    ])
    def test_frames_without_markers_are_dropped(self, board, tmp_path, fault, report):
        out = tmp_path / "frames.jpg"
        result = run(board, "320", "240", "-format", "jpeg", "-count", "3", "-out", str(out),
                     "-scroll", settings={"frame_fault": fault, "fault_seqs": "1"})
        assert f"vcapture:  seq:     1, {report}" in lines(result.stderr)
        assert sequences_in_gray(ffmpeg_gray(["-f", "jpeg_pipe"], out), 320, 240) == [0, 2]

    @pytest.mark.parametrize("size, kept", [(4999, False), (5000, True), (5001, True)])
    def test_size_limit(self, board, tmp_path, size, kept):
        out = tmp_path / "frames.jpg"
        result = run(board, "320", "240", "-format", "jpeg", "-count", "1", "-out", str(out),
                     "-scroll", settings={"jpeg_size": size})
        if kept:
            assert out.stat().st_size == size
        else:
            assert out.stat().st_size == 0
            assert "vcapture:  seq:     0, JPEG frame size  4999 < 5000, skip frame" in \
                lines(result.stderr)

    def test_end_marker_at_the_payload_end_wins(self, board, tmp_path):
        out = tmp_path / "frames.jpg"
        run(board, "320", "240", "-format", "jpeg", "-count", "2", "-out", str(out),
            settings={"frame_fault": "twoeoi"})
        data = out.read_bytes()
        assert data.count(b"\xff\xd8") == 2
        assert sequences_in_gray(ffmpeg_gray(["-f", "jpeg_pipe"], out), 320, 240) == [0, 1]

    def test_image_past_bytesused_is_found_in_the_mapping(self, board, tmp_path):
        out = tmp_path / "frames.jpg"
        run(board, "320", "240", "-format", "jpeg", "-count", "2", "-out", str(out),
            settings={"frame_fault": "pastused"})
        assert sequences_in_gray(ffmpeg_gray(["-f", "jpeg_pipe"], out), 320, 240) == [0, 1]


def parse_multipart(body, boundary):
    """A strict reading of the body: every part exactly as the format says."""
    parts = []
    head = re.compile(rb"--" + re.escape(boundary) + rb"\r\nContent-Type: image/jpeg\r\n"
                      rb"Content-Length: (\d+)\r\nX-Timestamp: (\d+)\.(\d+)\r\n\r\n")
    pos = 0
    while True:
        m = head.match(body, pos)
        if not m:
            break
        length = int(m.group(1))
        image = body[m.end():m.end() + length]
        assert image.startswith(b"\xff\xd8") and image.endswith(b"\xff\xd9")
        assert body[m.end() + length:m.end() + length + 2] == b"\r\n"
        assert not m.group(3).startswith(b"0") or m.group(3) == b"0"
        parts.append(image)
        pos = m.end() + length + 2
    return parts, body[pos:]


class TestMultipart:
    def test_body_parts_and_closing_boundary(self, board, tmp_path):
        result = run(board, "320", "240", "-format", "jpeg", "-count", "4", "-mjpeg-http", "frame",
                     "-out", "-", "-quiet")
        parts, rest = parse_multipart(result.stdout, b"frame")
        assert len(parts) == 4
        assert rest == b"--frame--\r\n\r\n"

    def test_ffmpeg_and_gstreamer_decode_every_part(self, board, tmp_path):
        out = tmp_path / "body.mjpeg"
        run(board, "320", "240", "-format", "jpeg", "-count", "5", "-mjpeg-http", "frame",
            "-out", str(out))
        gray = ffmpeg_gray(["-f", "mpjpeg"], out)
        assert sequences_in_gray(gray, 320, 240) == [0, 1, 2, 3, 4]
        raw = tmp_path / "gst.gray"
        gst = subprocess.run(["gst-launch-1.0", "-q", "filesrc", f"location={out}", "!",
                              "multipartdemux", "boundary=frame", "!", "jpegdec", "!",
                              "videoconvert", "!", "video/x-raw,format=GRAY8", "!", "filesink",
                              f"location={raw}"], stderr=subprocess.PIPE, timeout=120)
        assert gst.returncode == 0, gst.stderr
        assert sequences_in_gray(raw.read_bytes(), 320, 240) == [0, 1, 2, 3, 4]

    def test_no_sink_no_output_not_even_the_boundary(self, board):
        result = run(board, "320", "240", "-format", "jpeg", "-count", "2", "-mjpeg-http", "b")
        assert result.returncode == 0 and result.stdout == b""

    @pytest.mark.parametrize("sig, text", [(signal.SIGTERM, "Terminated"),
                                           (signal.SIGINT, "Interrupt")])
    def test_stop_signal_finishes_the_frame_and_closes_the_body(self, board, sig, text):
        args, kwargs = board_command(board, "vcapture", "320", "240", "-format", "jpeg",
                                     "-mjpeg-http", "frame", "-out", "-", "-scroll")
        proc = subprocess.Popen(*args, **kwargs, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        wait_for_frames(board, 3)
        proc.send_signal(sig)
        out, err = proc.communicate(timeout=60)
        assert proc.returncode == 0
        parts, rest = parse_multipart(out, b"frame")
        assert len(parts) >= 3
        assert rest == b"--frame--\r\n\r\n"
        assert f"vcapture: Stop signal '{text}' received" in lines(err)

    def test_stop_signal_during_a_blocked_write_still_finishes_the_part(self, board):
        args, kwargs = board_command(board, "vcapture", "320", "240", "-format", "jpeg",
                                     "-mjpeg-http", "frame", "-out", "-", "-quiet",
                                     settings=UNPACED)
        proc = subprocess.Popen(*args, **kwargs, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        # Nobody reads: the pipe fills and vcapture waits in the middle of a part.
        wait_for_frames(board, 2)
        count = -1
        while count != (count := sum(l.startswith("VIDIOC_DQBUF index") for l in board.trace())):
            time.sleep(0.3)
        proc.send_signal(signal.SIGTERM)
        out, err = proc.communicate(timeout=60)
        assert proc.returncode == 0
        parts, rest = parse_multipart(out, b"frame")
        assert len(parts) >= 1 and rest == b"--frame--\r\n\r\n"
        assert lines(err)[-2:] == ["vcapture: Stop signal 'Terminated' received", ""]

    def test_stop_signal_while_polling_shuts_down_in_order(self, board):
        args, kwargs = board_command(board, "vcapture", "320", "240", "-format", "jpeg",
                                     "-mjpeg-http", "frame", "-out", "-", "-poll", "-fps", "2")
        proc = subprocess.Popen(*args, **kwargs, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        wait_for_frames(board, 1)
        proc.send_signal(signal.SIGTERM)
        out, err = proc.communicate(timeout=60)
        assert proc.returncode == 0
        assert out.endswith(b"--frame--\r\n\r\n")
        assert "vcapture: Stop signal 'Terminated' received" in lines(err)


def board_command(board, name, *args, settings=None):
    cmd, executable = board.programs.command(name, list(args), None, board.preload)
    env = dict(os.environ)
    env.update(board.env(settings or {}))
    if not board.programs.emulator:
        env["LD_PRELOAD"] = board.preload
    return (cmd,), {"executable": executable, "env": env}


def vcapture_for_peer(board, tmp_path):
    """The vcapture a peer such as vshare starts: under an emulator, the ARM
    vcapture through a script that runs it there with the simulator."""
    programs = board.programs
    if not programs.emulator:
        return str(programs.path("vcapture"))
    wrapper = tmp_path / "vcapture"
    words = [*programs.emulator, "-E", f"LD_PRELOAD={board.preload}", "-0", "vcapture",
             str(programs.path("vcapture"))]
    wrapper.write_text("#!/bin/sh\nexec " + shlex.join(words) + ' "$@"\n')
    wrapper.chmod(0o755)
    return str(wrapper)


def wait_for_frames(board, n, timeout=60):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if sum(l.startswith("VIDIOC_DQBUF index") for l in board.trace()) >= n:
            return
        time.sleep(0.05)
    raise AssertionError("no frames")


@pytest.mark.parametrize("fault, message", [
    ("timeout", "poll timeout (?)"),
    ("many", "2 descriptors ready from poll, only 1 was requested"),
    ("error:EIO", "poll failed: Input/output error"),
    ("err", "poll: POLLERR event returned"),
    ("nval", "poll: POLLNVAL event returned"),
    ("hup", "poll: POLLHUP event returned"),
    ("noin", "poll: no POLLIN event returned"),
])
def test_poll_failures(board, fault, message):
    result = run(board, "64", "48", "-count", "2", "-poll", settings={"poll_fault": fault})
    assert result.returncode == 1
    assert lines(result.stderr)[-2] == "vcapture: " + message


def test_output_failure_ends_the_loop_after_the_frame(board):
    result = run(board, "64", "48", "-count", "5", "-out", "/dev/full", "-scroll")
    assert result.returncode == 0
    err = lines(result.stderr)
    assert "vcapture: Can't write to /dev/full: No space left on device" in err
    assert "vcapture: Error happened, stop" in err
    assert sum(l.startswith("stream:") for l in err) == 1


def test_every_piece_of_a_part_is_written_and_reported_on_its_own(board):
    result = run(board, "320", "240", "-format", "jpeg", "-mjpeg-http", "frame", "-count", "5",
                 "-out", "/dev/full", "-quiet")
    assert result.returncode == 0
    full = "vcapture: Can't write to /dev/full: No space left on device"
    err = lines(result.stderr)
    err = err[err.index("vcapture: Main frames loop ...") + 1:]
    # Header, image and CR LF of the one frame, then the closing boundary.
    assert err == [full, full, full, "", "vcapture: Error happened, stop", full, ""]


def test_a_gone_reader_stops_the_stream(board):
    args, kwargs = board_command(board, "vcapture", "64", "48", "-out", "-", "-quiet",
                                 settings=UNPACED)
    proc = subprocess.Popen(*args, **kwargs, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    proc.stdout.read(5000)
    proc.stdout.close()
    err = proc.stderr.read()
    assert proc.wait(timeout=60) == 0
    assert "vcapture: Can't write to stdout: Broken pipe" in lines(err)
    assert "vcapture: Stop signal 'Broken pipe' received" in lines(err)


def wait_until_blocked(board):
    """Waits until vcapture dequeues no more frames: its writes are held up."""
    wait_for_frames(board, 2)
    count = -1
    while count != (count := sum(l.startswith("VIDIOC_DQBUF index") for l in board.trace())):
        time.sleep(0.3)


def stop_bound(board):
    """The time a stop may take to end vcapture here: 2 s on a board, with
    room for a loaded machine, the sanitizers and the emulator."""
    return 10.0 if board.programs.emulator else 4.0


def cpu_seconds(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def whole_parts_then_rest(body, boundary):
    """The whole parts at the start of a body, and what follows them."""
    head = re.compile(rb"--" + re.escape(boundary) + rb"\r\nContent-Type: image/jpeg\r\n"
                      rb"Content-Length: (\d+)\r\n")
    pos = 0
    while (m := head.match(body, pos)) and body.find(b"\r\n\r\n", m.end()) >= 0:
        end = body.find(b"\r\n\r\n", m.end()) + 4 + int(m.group(1)) + 2
        if end > len(body):
            break
        pos = end
    parts, rest = parse_multipart(body[:pos], boundary)
    assert rest == b""
    return parts, body[pos:]


class TestStopWithAStalledReader:
    """A stop signal ends vcapture within its bound whatever its reader does."""

    @pytest.mark.parametrize("extra", [[], ["-poll"]])
    def test_a_reader_that_takes_nothing_has_the_write_given_up(self, board, extra):
        args, kwargs = board_command(board, "vcapture", "320", "240", "-format", "jpeg",
                                     "-mjpeg-http", "frame", "-out", "-", "-quiet", *extra,
                                     settings=UNPACED)
        proc = subprocess.Popen(*args, **kwargs, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            wait_until_blocked(board)
            start = time.monotonic()
            proc.send_signal(signal.SIGTERM)
            status = proc.wait(timeout=60)
            elapsed = time.monotonic() - start
        finally:
            proc.kill()
        out, err = proc.stdout.read(), proc.stderr.read()
        assert status == 0
        # A second without a byte taken, then the shut-down without waiting again.
        assert 1.0 <= elapsed < stop_bound(board)
        # The part in flight stays cut short; no closing boundary follows it.
        parts, rest = whole_parts_then_rest(out, b"frame")
        assert len(parts) >= 1
        assert rest[:9] == b"--frame\r\n"[:len(rest)] and b"--frame--" not in rest
        # The write held up fails, and so does each piece of the part after
        # it (header, image, CR LF): one to three reports, then the shut-down.
        err = lines(err)
        err = err[err.index("vcapture: Main frames loop ...") + 1:]
        given_up = "vcapture: Can't write to stdout: Interrupted system call"
        failed = err.index("")
        assert 1 <= failed <= 3 and err[:failed] == [given_up] * failed
        assert err[failed:] == [
            "", "vcapture: Error happened, stop", "vcapture: Stop signal 'Terminated' received",
            given_up, ""]

    def test_a_slow_reader_gets_the_part_in_flight_whole(self, board):
        args, kwargs = board_command(board, "vcapture", "320", "240", "-format", "jpeg",
                                     "-mjpeg-http", "frame", "-out", "-", "-quiet",
                                     settings=UNPACED)
        proc = subprocess.Popen(*args, **kwargs, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            wait_until_blocked(board)
            proc.send_signal(signal.SIGTERM)
            # Far longer than a second in all, but never a second without a byte.
            out = bytearray()
            while chunk := os.read(proc.stdout.fileno(), 8192):
                out += chunk
                time.sleep(0.25)
            status = proc.wait(timeout=60)
        finally:
            proc.kill()
        assert status == 0
        parts, rest = parse_multipart(bytes(out), b"frame")
        assert len(parts) >= 1 and rest == b"--frame--\r\n\r\n"
        assert lines(proc.stderr.read())[-3:] == [
            "", "vcapture: Stop signal 'Terminated' received", ""]


def test_a_non_blocking_output_waits_for_its_reader_without_spinning(board):
    read_end, write_end = os.pipe()
    os.set_blocking(write_end, False)  # as a server may hand it over
    args, kwargs = board_command(board, "vcapture", "64", "48", "-format", "grey", "-count",
                                 "60", "-out", "-", "-quiet", settings=UNPACED)
    proc = subprocess.Popen(*args, **kwargs, stdout=write_end, stderr=subprocess.PIPE)
    os.close(write_end)
    try:
        wait_until_blocked(board)
        before = cpu_seconds(proc.pid)
        time.sleep(3)
        spent = cpu_seconds(proc.pid) - before
        data = bytearray()
        while chunk := os.read(read_end, 1 << 16):
            data += chunk
        status = proc.wait(timeout=60)
    finally:
        proc.kill()
        os.close(read_end)
    assert status == 0
    assert spent < 0.5
    assert sequences_in_gray(bytes(data), 64, 48) == list(range(60))  # every byte


@pytest.mark.parametrize("count", ["-2147483648", "2147483648"])
def test_a_count_at_the_end_of_int_runs_without_end(board, count):
    args, kwargs = board_command(board, "vcapture", "64", "48", "-count", count, "-scroll")
    proc = subprocess.Popen(*args, **kwargs, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    try:
        wait_for_frames(board, 5)
        proc.send_signal(signal.SIGINT)
        _, err = proc.communicate(timeout=60)
    finally:
        proc.kill()
    assert proc.returncode == 0
    assert b"runtime error" not in err  # no overflow in the loop control
    err = lines(err)
    assert sum(l.startswith("stream:") for l in err) >= 5
    assert err[-2:] == ["vcapture: Stop signal 'Interrupt' received", ""]


@pytest.mark.parametrize("count", ["4294967295", "32769"])
def test_an_absurd_buffer_count_from_the_driver(board, count):
    result = run(board, "64", "48", "-count", "1", settings={"reqbufs_count": count})
    assert result.returncode == 1
    assert lines(result.stderr)[-3:] == [
        f"vcapture: stream buffers: requested: 2, allocated: {count}",
        f"vcapture: {count} stream buffers are more than V4L2 allows (32768)", ""]
