# SPDX-License-Identifier: MIT
"""The live view's package over its life on a board, in a root of its own:
installed, upgraded to a newer version, removed and purged, with what its
maintainer scripts ask of systemd at each step and what each step leaves. A
stand-in for systemctl records the requests (systemd itself cannot run in
the root), behind /run/systemd/system, which tells the scripts that systemd
runs. The installed service's exposure, as systemd rates its sandbox, is
printed."""

import os
import shutil
import subprocess
from pathlib import Path

import pytest

from conftest import install_packages, make_root, mount, tear_down

HERE = Path(__file__).resolve().parent
TOOLS = HERE.parents[1] / "tools"
UNITS = "lib/systemd/system"
SOCKET, SERVICE = "camboard-vshare.socket", "camboard-vshare.service"
STATE = "var/lib/camboard-liveview"
SETTINGS = "etc/default/camboard-liveview"
ENABLED = f"etc/systemd/system/sockets.target.wants/{SOCKET}"

# systemctl as the maintainer scripts call it: each request is logged, and a
# unit started stays active until it is stopped.
SYSTEMCTL = """#!/bin/sh
verb= units=
for word in "$@"; do
    case $word in -*) ;; *) if [ -z "$verb" ]; then verb=$word; else units="$units $word"; fi ;; esac
done
echo "$verb$units" >>/var/log/systemctl.calls
mkdir -p /run/active-units
case $verb in
    is-enabled)
        for unit in $units; do
            if ls /etc/systemd/system/*.wants/"$unit" >/dev/null 2>&1; then echo enabled; exit 0; fi
        done
        echo disabled; exit 1 ;;
    is-active) for unit in $units; do [ -e /run/active-units/"$unit" ] || exit 3; done ;;
    preset)
        # The default preset enables: the unit's WantedBy= links.
        for unit in $units; do
            for target in $(sed -n 's/^WantedBy=//p' /lib/systemd/system/"$unit"); do
                mkdir -p /etc/systemd/system/"$target".wants
                ln -sf /lib/systemd/system/"$unit" /etc/systemd/system/"$target".wants/"$unit"
            done
        done ;;
    start | restart) for unit in $units; do touch /run/active-units/"$unit"; done ;;
    stop) for unit in $units; do rm -f /run/active-units/"$unit"; done ;;
esac
exit 0
"""


class Board:
    def __init__(self, root, packages):
        self.root, self.packages = root, packages

    def run(self, command, **kwargs):
        result = self.root.run(command, **kwargs)
        assert result.returncode == 0, f"{command}: {result.stdout}{result.stderr}"
        return result.stdout

    def requests(self):
        """The requests to systemd since the last call, queries left out."""
        log = self.root.path / "var/log/systemctl.calls"
        calls = log.read_text().splitlines() if log.exists() else []
        log.unlink(missing_ok=True)
        return [c for c in calls if c.split()[0] not in ("is-enabled", "is-active")]

    def active(self):
        return sorted(p.name for p in (self.root.path / "run/active-units").glob("*"))

    def exists(self, path):
        return (self.root.path / path).exists() or (self.root.path / path).is_symlink()


@pytest.fixture(scope="module")
def board(request):
    packages = Path(request.config.getoption("--packages")).resolve()
    root = make_root()
    try:
        mount(root)
        (root.path / "run/systemd/system").mkdir(parents=True)
        # Where apt's dpkg finds it (apt leaves /usr/local out of its PATH);
        # the root has no systemd of its own.
        systemctl = root.path / "usr/bin/systemctl"
        assert not systemctl.exists()
        systemctl.write_text(SYSTEMCTL)
        systemctl.chmod(0o755)
        yield Board(root, packages)
    finally:
        tear_down(root)


def newer(board, tmp_path):
    """The same packages with a higher version: an upgrade as dpkg sees one."""
    out = board.root.path / "tmp/newer"
    out.mkdir()
    for deb in sorted(board.packages.glob("*.deb")):
        if "-dbgsym" in deb.name or not (deb.name.endswith("_armhf.deb")
                                          or deb.name.endswith("_all.deb")):
            continue
        tree = tmp_path / deb.stem
        subprocess.run(["dpkg-deb", "-R", str(deb), str(tree)], check=True)
        control = tree / "DEBIAN/control"
        version = next(l.split()[1] for l in control.read_text().splitlines()
                       if l.startswith("Version:"))
        control.write_text(control.read_text().replace(f"Version: {version}\n",
                                                       f"Version: {version}+1\n"))
        subprocess.run(["dpkg-deb", "--root-owner-group", "-b", str(tree), str(out)], check=True,
                       stdout=subprocess.DEVNULL)
    return version


def test_install_upgrade_remove_purge(board, tmp_path):
    # Installing makes the user, enables and starts the socket (the service
    # waits for the first connection) and the state directory.
    install_packages(board.root, board.packages)
    assert board.requests() == [f"preset {SERVICE}", f"preset {SOCKET}", "daemon-reload",
                                f"start {SOCKET}"]
    assert board.active() == [SOCKET]
    assert os.readlink(board.root.path / ENABLED) == f"/{UNITS}/{SOCKET}"
    user = board.run("getent passwd camboard-view").strip().split(":")
    assert int(user[2]) < 1000 and user[5:] == [f"/{STATE}", "/usr/sbin/nologin"]
    assert "video" in board.run("id -nG camboard-view").split()
    assert board.run(f"stat -c '%U %a' /{STATE}") == "camboard-view 700\n"

    # What the administrator and the server made: a changed setting, a login.
    board.run(f"echo LISTEN_PORT=8080 >>/{SETTINGS}")
    login = subprocess.run(board.root.command(["vshare", "-passwd", "admin"],
                                              user="camboard-view:video"),
                           input=b"secret\n", capture_output=True, timeout=120)
    assert login.returncode == 0, login.stderr
    assert board.exists(f"{STATE}/users")

    # An upgrade restarts the socket, and the service if it runs (a viewer
    # has connected), and keeps the administrator's settings and the logins.
    (board.root.path / "run/active-units" / SERVICE).touch()
    version = newer(board, tmp_path)
    board.run("DEBIAN_FRONTEND=noninteractive apt-get install -y -q /tmp/newer/*.deb",
              timeout=1200)
    assert board.run("dpkg-query -W -f '${Version}' camboard-liveview") == f"{version}+1"
    assert board.requests() == ["daemon-reload", f"restart {SERVICE} {SOCKET}"]
    assert board.active() == [SERVICE, SOCKET]
    assert "LISTEN_PORT=8080\n" in (board.root.path / SETTINGS).read_text()
    assert board.exists(f"{STATE}/users") and board.exists(ENABLED)

    # Removing stops the service and the socket, and keeps the configuration
    # and the state for a reinstall.
    board.run("dpkg -r camboard-liveview")
    assert board.requests() == [f"stop {SERVICE} {SOCKET}", "daemon-reload"]
    assert board.active() == []
    assert not board.exists(f"{UNITS}/{SOCKET}")
    assert board.exists(SETTINGS) and board.exists(f"{STATE}/users")

    # Purging removes the configuration, the logins and state, and the
    # socket's enablement; the user stays, as Debian leaves system users.
    board.run("dpkg -P camboard-liveview")
    assert board.requests() == ["daemon-reload"]
    left = [p for p in (SETTINGS, "etc/camboard-liveview", STATE, ENABLED,
                        f"var/lib/systemd/deb-systemd-helper-enabled/{SOCKET}.dsh-also")
            if board.exists(p)]
    assert left == []
    assert board.run("getent passwd camboard-view")


def test_the_packaged_units_are_rated_safe(board, tmp_path, capsys):
    if not shutil.which("systemd-analyze"):
        pytest.skip("systemd-analyze is not installed")
    deb = next(board.packages.glob("camboard-liveview_*_all.deb"))
    subprocess.run(["dpkg-deb", "-x", str(deb), str(tmp_path)], check=True)
    units = [str(tmp_path / UNITS / unit) for unit in (SERVICE, SOCKET)]
    result = subprocess.run(["bash", str(TOOLS / "unit_exposure.sh"), *units],
                            capture_output=True, text=True, timeout=300)
    with capsys.disabled():
        print("\n" + result.stdout.strip())
    assert result.returncode == 0, result.stdout + result.stderr
