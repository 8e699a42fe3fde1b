# SPDX-License-Identifier: MIT
"""vcapture's start: the command line, the output sink and the peer's named
pipe, everything that happens before the capture device is opened."""

import contextlib
import os
import stat
import subprocess
from pathlib import Path

import pytest

from project import VERSION

STARTING = b"vcapture: Starting ...\n"
USAGE = (b"Usage: vcapture width height [-crop w,h[,x,y]] [-rotate N] [-fps num[/denom]]\n"
         b"\t\t[-format {yuv420 | jpeg | grey}] [-mjpeg-http boundary] [-delay N]\n"
         b"\t\t[-count N] [-skip N] [-qscale N] [-ae 0|1] [-awb 0|1]\n"
         b"\t\t[-out file] [-pipe basename] [-poll] [-bufs N] [-early-qbuf]\n"
         b"\t\t[-device path] [-scroll] [-quiet] [-help] [-version]\n")


# The usage text is an answer to -help (status 0) and a refusal otherwise.
@pytest.mark.parametrize("words, status, stdout", [
    ([], 1, USAGE),
    (["640"], 1, USAGE),
    (["-quiet"], 1, USAGE),
    (["-help", "640", "480"], 0, USAGE),
    (["640", "480", "--he"], 0, USAGE),
    (["--help"], 0, USAGE),
    (["-help"], 0, USAGE),
    (["-h"], 0, USAGE),
    (["--version"], 0, f"vcapture {VERSION}\n".encode()),
    (["-v"], 0, f"vcapture {VERSION}\n".encode()),
])
def test_usage_and_version_on_standard_output_after_the_start_message(board, words, status,
                                                                         stdout):
    result = board.run("vcapture", *words)
    assert (result.returncode, result.stdout, result.stderr) == (status, stdout, STARTING)
    assert board.trace() == []


def test_usage_names_the_program_by_its_base_name(board):
    result = board.run("vcapture", "640", argv0="/usr/local/bin/vcapture")
    assert result.stdout.startswith(b"Usage: vcapture width height ")
    assert result.stderr == b"/usr/local/bin/vcapture: Starting ...\n"


@pytest.mark.parametrize("words, message", [
    (["-q", "640", "480"], b"vcapture: option '-q' is ambiguous; possibilities: '-quiet' '-qscale'\n"
                           b"vcapture: option parsing failed\n"),
    (["-x", "640", "480"], b"vcapture: unrecognized option '-x'\nvcapture: option parsing failed\n"),
    (["640", "480", "-out"], b"vcapture: option '-out' requires an argument\n"
                             b"vcapture: option parsing failed\n"),
    (["-fps", "/2", "640", "480"], b"vcapture: fps option parsing failed\n"),
    (["-crop", "320", "640", "480"],
     b"vcapture: crop option parsing failed: expected w,h or w,h,x,y, not '320'\n"),
    (["-crop", "1,2,3", "640", "480"],
     b"vcapture: crop option parsing failed: expected w,h or w,h,x,y, not '1,2,3'\n"),
    (["-crop", "320,240px", "640", "480"],
     b"vcapture: crop option parsing failed: expected w,h or w,h,x,y, not '320,240px'\n"),
    (["640", "480", "-qscale", "500"],
     b"vcapture: qscale option parsing failed: expected a number from 0 to 100, not '500'\n"),
    (["640", "480", "-qs", "high"],
     b"vcapture: qscale option parsing failed: expected a number from 0 to 100, not 'high'\n"),
    (["-d", "/dev/video0", "640", "480"],
     b"vcapture: option '-d' is ambiguous; possibilities: '-delay' '-device'\n"
     b"vcapture: option parsing failed\n"),
    (["abc", "480"], b"vcapture: width parameter is not a number: 'abc'\n"),
    (["640", "48O"], b"vcapture: height parameter is not a number: '48O'\n"),
    (["-format", "png", "640", "480"], b"vcapture: unsupported pixel format: png\n"),
    (["-mjpeg-http", "b", "-format", "grey", "-pipe", "p", "640", "480"],
     b"vcapture: -mjpeg-http requires -format jpeg\n"),
    (["-mjpeg-http", "myboundary", "-format", "jpeg", "-pipe", "p", "640", "480"],
     b"vcapture: -mjpeg-http is not compatible with -pipe\n"),
    (["640", "480", "100"], b"vcapture: width, height parameters missing\n"),
])
def test_refused_command_lines_create_nothing(board, tmp_path, words, message):
    result = board.run("vcapture", "-out", "out.bin", *words, cwd=tmp_path)
    assert (result.returncode, result.stdout, result.stderr) == (1, b"", STARTING + message)
    assert not (tmp_path / "out.bin").exists()
    assert not (tmp_path / "p_r").exists()
    assert board.trace() == []


def test_device_is_the_one_named(board, tmp_path):
    missing = tmp_path / "video9"
    result = board.run("vcapture", "64", "48", "-count", "0", "-device", missing)
    assert result.returncode == 1
    assert result.stderr == STARTING + (
        f"vcapture: Can't open device {missing}: No such file or directory\n").encode()
    assert board.trace() == []


def test_output_file_is_appended_to_not_truncated(board, tmp_path):
    out = tmp_path / "frames.yuv"
    out.write_bytes(b"earlier run")
    result = board.run("vcapture", "64", "48", "-count", "0", "-out", str(out))
    assert result.stderr.startswith(STARTING)
    assert out.read_bytes().startswith(b"earlier run")


@contextlib.contextmanager
def no_umask():
    """Modes show as the program asked for them."""
    old = os.umask(0)
    try:
        yield
    finally:
        os.umask(old)


def test_output_file_is_created_0664(board, tmp_path):
    out = tmp_path / "new.jpg"
    with no_umask():
        board.run("vcapture", "64", "48", "-count", "0", "-out", str(out))
    assert stat.S_IMODE(out.stat().st_mode) == 0o664


def test_unopenable_output_fails_before_the_device(board, tmp_path):
    out = tmp_path / "no" / "such" / "dir.yuv"
    result = board.run("vcapture", "64", "48", "-out", str(out))
    assert result.returncode == 1
    assert result.stderr == STARTING + f"vcapture: Can't open {out}: No such file or directory\n".encode()
    assert board.trace() == []


def test_named_pipe_is_created_0660_and_reused(board, tmp_path):
    base = tmp_path / "peer"
    with no_umask():
        board.run("vcapture", "64", "48", "-count", "0", "-pipe", str(base))
    fifo = tmp_path / "peer_r"
    assert stat.S_ISFIFO(fifo.stat().st_mode)
    assert stat.S_IMODE(fifo.stat().st_mode) == 0o660
    result = board.run("vcapture", "64", "48", "-count", "0", "-pipe", str(base))
    assert b"named pipe" not in result.stderr


@pytest.mark.parametrize("kind, why", [("file", b"File exists"), ("dir", b"Is a directory")])
def test_something_else_under_the_pipes_name_is_refused(board, tmp_path, kind, why):
    target = tmp_path / "peer_r"
    if kind == "file":
        target.write_bytes(b"precious")
    else:
        target.mkdir()
    result = board.run("vcapture", "64", "48", "-pipe", str(tmp_path / "peer"))
    assert result.returncode == 1
    assert result.stderr == STARTING + b"vcapture: Can't open named pipe " + \
        str(target).encode() + b": " + why + b"\n"
    if kind == "file":
        assert target.read_bytes() == b"precious"
    assert board.trace() == []


def test_uncreatable_pipe(board, tmp_path):
    base = tmp_path / "missing" / "peer"
    result = board.run("vcapture", "64", "48", "-pipe", str(base))
    assert result.returncode == 1
    assert result.stderr == STARTING + \
        f"vcapture: Can't create named pipe {base}_r: No such file or directory\n".encode()


def test_output_file_of_another_owner_is_opened_without_noatime(programs, tmp_path):
    """The kernel refuses O_NOATIME on a file the caller does not own; the
    output must still be written (run as nobody on a file of root's)."""
    import shutil
    import tempfile
    if os.geteuid() != 0 or not shutil.which("setpriv"):
        pytest.skip("needs root and setpriv to run as another user")
    # Where the system's own root cannot be entered by others (a chroot in a
    # private directory), no program at all runs as another user.
    if not all(os.stat(d).st_mode & stat.S_IXOTH for d in ("/", "/tmp")):
        pytest.skip("other users cannot enter / or /tmp on this system")
    # Not under $TMPDIR, which may be private as the build tree may be.
    shared = Path(tempfile.mkdtemp(prefix="noatime-", dir="/tmp"))
    try:
        shared.chmod(0o777)
        programs = programs.copied_to(shared, "vcapture")
        out = shared / "frames.yuv"
        out.write_bytes(b"root's file\n")
        out.chmod(0o666)
        board_dir = shared / "board"
        board_dir.mkdir()
        board_dir.chmod(0o777)
        cmd, executable = programs.command("vcapture", ["64", "48", "-count", "1", "-quiet",
                                                        "-out", str(out)], None,
                                           str(programs.libdir / "libboardsim.so"))
        env = dict(os.environ, BOARDSIM_DIR=str(board_dir), BOARDSIM_UNPACED="1")
        if not programs.emulator:
            env["LD_PRELOAD"] = str(programs.libdir / "libboardsim.so")
        result = subprocess.run(["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
                                 "--", executable or cmd[0], *cmd[1:]],
                                env=env, cwd=shared, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, timeout=60)
        assert result.returncode == 0, result.stderr
        data = out.read_bytes()
        assert data.startswith(b"root's file\n") and len(data) == 12 + 64 * 48 * 3 // 2
    finally:
        shutil.rmtree(shared, ignore_errors=True)
