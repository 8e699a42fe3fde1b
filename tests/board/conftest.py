# SPDX-License-Identifier: MIT
"""The board's userland under emulation: a pristine armhf Debian root (see
make_root.sh) in which the board's packages are installed with apt-get and
every program runs as an ARM process through qemu-user-static's binfmt_misc
entry. Only the tests bring the simulator in (/opt/boardsim), never a
package."""

import os
import re
import shutil
import signal
import sys
import subprocess
import tempfile
import time
from pathlib import Path

import pytest

HERE = Path(__file__).resolve().parent
# The pictures are read back as the system tests read them.
sys.path.append(str(HERE.parent / "system"))
PACKAGES = ["camboard-tools", "gstreamer1.0-vxrate", "camboard-liveview"]
SIMULATOR = "/opt/boardsim"
ENV = {"PATH": "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin",
       "HOME": "/root", "LC_ALL": "C.UTF-8", "TERM": "dumb"}


def pytest_addoption(parser):
    parser.addoption("--packages", required=True, help="directory of the built packages")
    parser.addoption("--simulator", required=True,
                     help="ARM build tree with lib/libboardsim.so and bin/pixim_emulator")


class Root:
    """An extracted armhf root with its own /proc and pseudo-terminals."""

    def __init__(self, path):
        self.path = Path(path)

    def command(self, args, env=None, user=None):
        """A command line (a string for sh -c, or a list) run inside the root
        with the root's own environment: an ARM library in LD_PRELOAD must not
        reach the host's chroot program. `user` ("USER:GROUP", as a unit's
        User= and Group=) runs it as that user of the root."""
        if isinstance(args, str):
            args = ["/bin/sh", "-c", args]
        settings = [f"{k}={v}" for k, v in {**ENV, **(env or {})}.items()]
        identity = [f"--userspec={self.ids(user)}"] if user else []
        return ["/usr/sbin/chroot", *identity, str(self.path), "/usr/bin/env", "-i", *settings,
                *args]

    def ids(self, user):
        """USER:GROUP of the root as numbers, which the host's chroot takes
        without looking the names up in its own files."""
        name, group = user.split(":")
        uid = self._id("etc/passwd", name)
        gid = self._id("etc/group", group)
        return f"{uid}:{gid}"

    def _id(self, table, name):
        for line in (self.path / table).read_text().splitlines():
            fields = line.split(":")
            if fields[0] == name:
                return int(fields[2])
        raise KeyError(f"{name} is not in the root's /{table}")

    def run(self, args, env=None, timeout=300, input=None):
        result = subprocess.run(self.command(args, env), input=input, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, timeout=timeout)
        result.stdout = result.stdout.decode(errors="replace")
        result.stderr = result.stderr.decode(errors="replace")
        return result

    def popen(self, args, env=None, user=None, **kwargs):
        return subprocess.Popen(self.command(args, env, user), **kwargs)

    def processes(self, program=None):
        """The processes that run inside this root (those of one program)."""
        found = []
        for entry in Path("/proc").iterdir():
            try:
                if not entry.name.isdigit() or os.readlink(entry / "root") != str(self.path):
                    continue
                argv = (entry / "cmdline").read_bytes().split(b"\0")
            except OSError:
                continue
            if program is None or any(a.endswith(b"/" + program.encode()) for a in argv):
                found.append(int(entry.name))
        return found

    def mounts(self):
        with open("/proc/self/mounts") as f:
            points = [line.split()[1] for line in f]
        return [p for p in points if p == str(self.path) or p.startswith(f"{self.path}/")]


def make_root():
    result = subprocess.run(["bash", str(HERE / "make_root.sh")], stdout=subprocess.PIPE,
                            timeout=1800)
    assert result.returncode == 0, "the armhf root could not be made"
    tar = result.stdout.decode().strip()
    root = Root(tempfile.mkdtemp(prefix="camboard-board.", dir="/var/tmp"))
    subprocess.run(["tar", "-C", str(root.path), "-xf", tar], check=True, timeout=600)
    # The root directory is everyone's "/": the live view's server, running
    # as a user of its own, must be able to enter it.
    root.path.chmod(0o755)
    return root


def mount(root):
    subprocess.run(["mount", "-t", "proc", "proc", str(root.path / "proc")], check=True)
    # A devpts of its own for the module emulator's pseudo-terminal: the
    # root's /dev/ptmx opens the instance mounted beside it.
    subprocess.run(["mount", "-t", "devpts", "-o", "newinstance,ptmxmode=0666,mode=0620",
                    "devpts", str(root.path / "dev/pts")], check=True)


def tear_down(root):
    """Ends what still runs in the root, releases its mounts, and removes it
    only when nothing is mounted there any more."""
    for sig in (signal.SIGTERM, signal.SIGKILL):
        for pid in root.processes():
            try:
                os.kill(pid, sig)
            except ProcessLookupError:
                pass
        deadline = time.time() + 10
        while root.processes() and time.time() < deadline:
            time.sleep(0.1)
    for point in sorted(root.mounts(), reverse=True):
        subprocess.run(["umount", point])
    for point in sorted(root.mounts(), reverse=True):
        subprocess.run(["umount", "-l", point])
    if root.mounts():
        raise RuntimeError(f"{root.path} is still mounted; left in place")
    shutil.rmtree(root.path)


def install_packages(root, packages):
    """The board's packages as a board user installs them: apt-get takes their
    dependencies from the archive."""
    debs = root.path / "tmp/debs"
    debs.mkdir()
    for name, arch in [("camboard-tools", "armhf"), ("gstreamer1.0-vxrate", "armhf"),
                       ("camboard-liveview", "all")]:
        found = sorted(packages.glob(f"{name}_*_{arch}.deb"))
        assert len(found) == 1, f"{packages}: no single {name} package for {arch}: {found}"
        shutil.copy(found[0], debs)
    shutil.copy("/etc/resolv.conf", root.path / "etc/resolv.conf")
    # The simulator's JPEG library comes along: test support, which no
    # package of ours needs.
    install = ("DEBIAN_FRONTEND=noninteractive apt-get install -y -q "
               "-o DPkg::Lock::Timeout=600 /tmp/debs/*.deb libjpeg62-turbo")
    result = root.run(install, timeout=1200)
    if result.returncode != 0:
        # The cached root's package lists may name versions the mirror has replaced.
        root.run("apt-get -qq update", timeout=1200)
        result = root.run(install, timeout=1200)
    assert result.returncode == 0, result.stdout + result.stderr
    return result.stdout


def add_simulator(root, tree):
    target = root.path / SIMULATOR.lstrip("/")
    target.mkdir(parents=True)
    shutil.copy(tree / "lib/libboardsim.so", target)
    shutil.copy(tree / "bin/pixim_emulator", target)
    for f in target.iterdir():
        f.chmod(0o755)


@pytest.fixture(scope="session")
def board(request):
    packages = Path(request.config.getoption("--packages")).resolve()
    tree = Path(request.config.getoption("--simulator")).resolve()
    root = make_root()
    try:
        mount(root)
        root.apt_log = install_packages(root, packages)
        add_simulator(root, tree)
        yield root
    finally:
        tear_down(root)


class Sim:
    """One simulated board inside the root: its directory and the settings
    that make a program in the root run on it."""

    def __init__(self, root, name):
        self.root = root
        self.dir = f"/var/lib/boardsim/{name}"
        # Writable by the live view's server, which runs as a user of its own.
        assert root.run(f"install -d -o camboard-view -g video {self.dir}").returncode == 0
        self.env = {"LD_PRELOAD": f"{SIMULATOR}/libboardsim.so", "BOARDSIM_DIR": self.dir}

    def run(self, args, **kwargs):
        return self.root.run(args, env=self.env, **kwargs)

    def path(self, name):
        return self.root.path / self.dir.lstrip("/") / name


@pytest.fixture
def sim(board, request):
    # A test's parameters may hold spaces and slashes; the directory may not.
    return Sim(board, re.sub(r"[^\w.-]", "_", request.node.name))
