# SPDX-License-Identifier: MIT
"""isptune owns the module's line: two runs at once each get the module's own
answers and a whole saved file, a run that cannot get the line says so and
prints no value, and a late answer never crosses a line given back."""

import fcntl
import os
import subprocess
import termios
import time

import pytest

from test_isptune import isptune

CONF = "1\n60\n1\n18\n0\n1\n0\n2\n1\n5600\n103\n4\n1\n10\n200\n102\n0\n1\n106\n"
BUSY = ("isptune: /dev/ttymxc2 is in use by process {pid}; gave up waiting after 5 s\n")


@pytest.fixture
def tuned(board, module_factory):
    """A module at the wire's pace holding the configuration CONF."""
    module = module_factory(wire=1)
    (board.dir / "etc").mkdir(exist_ok=True)
    (board.dir / "etc" / "pixim.conf").write_text(CONF)
    assert isptune(board, "--writeconf") == (0, "")
    board.clear_trace()
    return module


def start(board, *args):
    cmd, executable = board.programs.command("isptune", list(args), None, board.preload)
    env = {**os.environ, **board.env({})}
    if not board.programs.emulator:
        env["LD_PRELOAD"] = board.preload
    return subprocess.Popen(cmd, executable=executable, env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)


# Two runs at once, each with what it must print; repeated so that their
# requests get every chance to cross.
@pytest.mark.parametrize("first, second", [
    ((["--read", "--irisgain"], "10\n"), (["--read", "--irisoffset"], "200\n")),
    ((["--readconf"], ""), (["--readconf"], "")),
    ((["--readconf"], ""), (["--read", "--irisgain"], "10\n")),
    ((["--write", "--sharpness", "-2"], "sharpness value = -2\nOK\n"),
     (["--read", "--irisoffset"], "200\n")),
], ids=["two reads", "two readconf", "read during readconf", "write and read"])
def test_two_runs_at_once_each_get_the_module_alone(board, tuned, first, second):
    for _ in range(5):
        runs = [start(board, *args) for args, _ in (first, second)]
        for run, (args, out) in zip(runs, (first, second)):
            stdout, stderr = run.communicate(timeout=60)
            assert (run.returncode, stdout.decode(), stderr) == (0, out, b""), args
        assert (board.dir / "etc" / "pixim.conf").read_text() == CONF
    assert sorted(p.name for p in (board.dir / "etc").iterdir()) == ["pixim.conf"]


def hold_line(board):
    fd = os.open(board.dir / "ttymxc2", os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
    fcntl.flock(fd, fcntl.LOCK_EX)
    return fd


# A line that another process keeps: the run waits, says who has it, prints
# no value and no "OK", sends nothing and leaves the saved file alone.
@pytest.mark.parametrize("args, code, out", [
    (["--write", "--gamma", "1"], 255, "gamma mode = 1\ncommInit  Error\n"),
    (["--read", "--gamma"], 255, "commInit  Error\n"),
    (["--readconf"], 0, "commInit  Error\n"),
])
def test_a_line_held_by_another_process_is_given_up_on(board, tuned, args, code, out):
    holder = hold_line(board)
    try:
        result = board.run("isptune", *args)
    finally:
        os.close(holder)
    assert (result.returncode, result.stdout.decode()) == (code, out)
    assert result.stderr.decode() == BUSY.format(pid=os.getpid())
    assert tuned.frames() == []
    assert (board.dir / "etc" / "pixim.conf").read_text() == CONF


def test_a_line_let_go_within_the_wait_is_taken(board, tuned):
    holder = hold_line(board)
    run = start(board, "--read", "--irisgain")
    time.sleep(1)
    os.close(holder)
    stdout, stderr = run.communicate(timeout=60)
    assert (run.returncode, stdout, stderr) == (0, b"10\n", b"")


def test_a_late_answer_is_not_echoed_by_the_line_given_back(board, module_factory):
    """The line's own settings echo what arrives; an answer that comes after
    the run has given them back would go to the module as a request."""
    module = module_factory(fault="late:1500")
    with open(board.dir / "ttymxc2", "rb+", buffering=0) as line:
        attrs = termios.tcgetattr(line)
        attrs[3] = (attrs[3] | termios.ECHO) & ~termios.ECHOCTL  # bytes come back as they are
        termios.tcsetattr(line, termios.TCSANOW, attrs)
        assert isptune(board, "--read", "--gamma") == (
            0, "timeout PixErrorCodeInternalError\nError. Return code: 2\n")
        for _ in range(100):  # the late answer has left the module
            if [d for d, _ in module.frames()] == ["rx", "tx"]:
                break
            time.sleep(0.1)
        time.sleep(0.5)  # time enough for an echo to come back
        assert [d for d, _ in module.frames()] == ["rx", "tx"]
        assert termios.tcgetattr(line)[3] & termios.ECHO  # the line's settings are back


def test_a_file_at_an_old_temporary_name_is_never_written_through(board, tuned, tmp_path):
    victim = tmp_path / "victim"
    victim.write_text("mine\n")
    (board.dir / "etc" / "pixim.conf.tmp").symlink_to(victim)
    assert isptune(board, "--readconf") == (0, "")
    assert victim.read_text() == "mine\n"
    assert (board.dir / "etc" / "pixim.conf").read_text() == CONF
    assert sorted(p.name for p in (board.dir / "etc").iterdir()) == ["pixim.conf",
                                                                      "pixim.conf.tmp"]
