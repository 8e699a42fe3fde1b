# SPDX-License-Identifier: MIT
"""A standard V4L2 client (v4l2-ctl, in the host's own ABI) captures from the
simulated camera: it gets the very frames vcapture gets."""

import shutil
import subprocess

import pytest

from pictures import sequences_in_gray


@pytest.fixture
def v4l2_ctl(board):
    if board.programs.emulator:
        pytest.skip("v4l2-ctl is a host program; the ARM simulator serves ARM programs")
    if not shutil.which("v4l2-ctl"):
        pytest.skip("v4l2-ctl is not installed")

    def run(*args):
        return subprocess.run(["v4l2-ctl", "-d", "/dev/v4l/video0", *args],
                              env={**board.env({"unpaced": 1}), "LD_PRELOAD": board.preload,
                                   "PATH": "/usr/bin:/bin"},
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
    return run


def test_v4l2_ctl_sees_the_formats_and_controls(v4l2_ctl):
    formats = v4l2_ctl("--list-formats").stdout.decode()
    for fourcc in ("'YU12'", "'GREY'", "'JPEG'"):
        assert fourcc in formats
    controls = v4l2_ctl("--list-ctrls").stdout.decode()
    assert "white_balance_automatic" in controls and "gain_automatic" in controls


@pytest.mark.parametrize("fmt", ["GREY", "YU12"])
def test_v4l2_ctl_captures_the_same_frames_as_vcapture(board, v4l2_ctl, tmp_path, fmt):
    theirs = tmp_path / "v4l2-ctl.raw"
    result = v4l2_ctl(f"--set-fmt-video=width=320,height=240,pixelformat={fmt}",
                      "--stream-mmap=2", "--stream-count=4", f"--stream-to={theirs}")
    assert result.returncode == 0, result.stderr
    ours = tmp_path / "vcapture.raw"
    board.run("vcapture", "320", "240", "-format", "grey" if fmt == "GREY" else "yuv420",
              "-count", "4", "-out", str(ours), settings={"unpaced": 1})
    assert theirs.read_bytes() == ours.read_bytes()
    luma = 320 * 240
    frame = luma if fmt == "GREY" else luma * 3 // 2
    data = theirs.read_bytes()
    gray = b"".join(data[i:i + luma] for i in range(0, len(data), frame))
    assert sequences_in_gray(gray, 320, 240) == [0, 1, 2, 3]
