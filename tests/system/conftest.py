# SPDX-License-Identifier: MIT
"""Shared fixtures: run the built programs as a user would, natively or under
qemu-arm for the board's ARM build."""

import copy
import os
import shlex
import shutil
import subprocess
from pathlib import Path

import pytest


def pytest_addoption(parser):
    parser.addoption("--bindir", required=True, help="directory of the built programs")
    parser.addoption("--libdir", required=True, help="directory of the built libraries")
    parser.addoption("--emulator", default="", help="command that runs a target binary")
    parser.addoption("--sanitized", default="OFF", help="programs built with sanitizers")


class Programs:
    """Runs a built program with argv[0] set to its bare name, so that
    messages that carry the invocation name read the same on every build."""

    def __init__(self, config):
        self.bindir = Path(config.getoption("--bindir"))
        self.libdir = Path(config.getoption("--libdir"))
        self.emulator = shlex.split(config.getoption("--emulator"))
        self.sanitized = config.getoption("--sanitized").upper() in ("ON", "1", "TRUE", "YES")

    def path(self, name):
        return self.bindir / name

    def copied_to(self, directory, *names):
        """These programs and the simulator library copied into `directory`,
        for another user, who may not enter the build tree (a clone anywhere
        under /root lies in a private directory)."""
        moved = copy.copy(self)
        moved.bindir = moved.libdir = Path(directory)
        for name in names:
            shutil.copy(self.path(name), moved.path(name))
        shutil.copy(self.libdir / "libboardsim.so", moved.libdir / "libboardsim.so")
        return moved

    def command(self, name, args, argv0=None, preload=None):
        argv0 = name if argv0 is None else argv0
        if self.emulator:
            cmd = list(self.emulator)
            if preload:
                cmd += ["-E", f"LD_PRELOAD={preload}"]
            return cmd + ["-0", argv0, str(self.path(name)), *args], None
        return [argv0, *args], str(self.path(name))

    def run(self, name, *args, env=None, preload=None, input=None, timeout=60, argv0=None,
            stdout=subprocess.PIPE, cwd=None):
        cmd, executable = self.command(name, [str(a) for a in args], argv0, preload)
        full_env = dict(os.environ)
        full_env.update(env or {})
        if preload and not self.emulator:
            full_env["LD_PRELOAD"] = preload
        return subprocess.run(cmd, executable=executable, env=full_env, input=input,
                              stdout=stdout, stderr=subprocess.PIPE, timeout=timeout,
                              cwd=cwd)


@pytest.fixture(scope="session")
def programs(request):
    return Programs(request.config)


class Board:
    """One simulated board: its own simulator directory, settings and trace."""

    STATE = "mt9d131.state"
    REGS_OFFSET = 8  # after the magic
    PAGE_OFFSET = 8 + 3 * 256 * 2
    PHYS_OFFSET = PAGE_OFFSET + 4
    LOGICAL_OFFSET = PHYS_OFFSET + 0x2000

    def __init__(self, programs, directory):
        self.programs = programs
        self.dir = Path(directory)
        self.preload = str(programs.libdir / "libboardsim.so")

    def env(self, settings):
        env = {"BOARDSIM_DIR": str(self.dir)}
        env.update({f"BOARDSIM_{k.upper()}": str(v) for k, v in settings.items()})
        return env

    def run(self, name, *args, settings=None, **kwargs):
        return self.programs.run(name, *args, env=self.env(settings or {}),
                                 preload=self.preload, **kwargs)

    def trace(self):
        path = self.dir / "trace"
        return path.read_text().splitlines() if path.exists() else []

    def clear_trace(self):
        (self.dir / "trace").unlink(missing_ok=True)

    # The sensor's stored state, for setting up and checking registers directly.
    def _state(self):
        path = self.dir / self.STATE
        if not path.exists():
            # Let the simulator create the file with its power-on values.
            self.run("sensdump", "0", stdout=subprocess.DEVNULL)
            self.clear_trace()
        return path

    def reg(self, page, reg):
        data = self._state().read_bytes()
        at = self.REGS_OFFSET + (page * 256 + reg) * 2
        return int.from_bytes(data[at:at + 2], "little")

    def set_reg(self, page, reg, value):
        path = self._state()
        data = bytearray(path.read_bytes())
        at = self.REGS_OFFSET + (page * 256 + reg) * 2
        data[at:at + 2] = value.to_bytes(2, "little")
        path.write_bytes(bytes(data))

    def page(self):
        data = self._state().read_bytes()
        return int.from_bytes(data[self.PAGE_OFFSET:self.PAGE_OFFSET + 2], "little")

    def phys(self, address):
        return self._state().read_bytes()[self.PHYS_OFFSET + address]

    def logical(self, driver, offset):
        return self._state().read_bytes()[self.LOGICAL_OFFSET + driver * 256 + offset]


@pytest.fixture
def board(programs, tmp_path):
    return Board(programs, tmp_path)


class Module:
    """The Pixim module emulator on a pseudo-terminal of one simulated board."""

    def __init__(self, board, settings):
        self.board = board
        env = board.env({})
        env.update({f"BOARDSIM_PIXIM_{k.upper()}": str(v) for k, v in settings.items()})
        cmd, executable = board.programs.command("pixim_emulator", [], None, None)
        self.proc = subprocess.Popen(cmd, executable=executable, env={**os.environ, **env},
                                     stdout=subprocess.PIPE)
        ready = self.proc.stdout.readline()
        assert ready.startswith(b"ready "), ready

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.proc.kill()

    def frames(self):
        """The module's wire traffic: ("rx" or "tx", bytes) in order."""
        out = []
        for line in self.board.trace():
            parts = line.split()
            if parts[:2] in (["pixim", "rx"], ["pixim", "tx"]):
                out.append((parts[1], bytes(int(h, 16) for h in parts[2:])))
        return out

    def requests(self):
        return [b for d, b in self.frames() if d == "rx"]


@pytest.fixture
def module_factory(board):
    started = []

    def start(**settings):
        module = Module(board, settings)
        started.append(module)
        return module
    yield start
    for module in started:
        module.stop()


@pytest.fixture
def module(module_factory):
    return module_factory()
