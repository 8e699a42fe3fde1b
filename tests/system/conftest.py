"""Shared fixtures: run the built programs as a user would, natively or under
qemu-arm for the board's ARM build."""

import os
import shlex
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
