# SPDX-License-Identifier: MIT
"""The live view's settings file as the installed units take it: the
service's command line, the socket's address and port from the generator
(which reads the file as root at boot, so takes only sane values), and the
units as systemd itself reads them."""

import shutil
import subprocess

import pytest

from systemd_units import exec_start, unit_settings
from test_install import cache, install

UNITS = "lib/systemd/system"
GENERATOR = "lib/systemd/system-generators/camboard-liveview-generator"
SETTINGS = "etc/default/camboard-liveview"
ME = "camboard-liveview-generator"


@pytest.fixture(scope="module")
def prefix(programs, tmp_path_factory):
    prefix = tmp_path_factory.mktemp("prefix")
    install(programs.bindir.parent, prefix)
    return prefix


@pytest.mark.parametrize("settings, expected", [
    (None, ["-size", "640", "480", "-fps", "15", "-qscale", "80"]),
    ("CAPTURE_WIDTH=320\nCAPTURE_HEIGHT=240\n  CAPTURE_FPS=5\nCAPTURE_QUALITY='60'\n"
     'VSHARE_OPTIONS="-linger 10 -drop 2"\n',
     ["-size", "320", "240", "-fps", "5", "-qscale", "60", "-linger", "10", "-drop", "2"]),
    ("CAPTURE_FPS=30\n# CAPTURE_QUALITY=50\n",
     ["-size", "640", "480", "-fps", "30", "-qscale", "80"]),
])
def test_the_service_runs_vshare_with_the_settings(programs, prefix, settings, expected):
    service = unit_settings(prefix / UNITS / "camboard-vshare.service")["Service"]
    text = (prefix / SETTINGS).read_text() if settings is None else settings
    build = programs.bindir.parent
    bindir = cache(build, "CMAKE_INSTALL_PREFIX") + "/" + cache(build, "CMAKE_INSTALL_BINDIR")
    assert exec_start(service, text) == [f"{bindir}/vshare", *expected]
    files = [value for key, value in service if key == "EnvironmentFile"]
    assert files == [f"-{sysconfdir(build)}/default/camboard-liveview"]


def sysconfdir(build):
    """The configuration directory the build names, as GNUInstallDirs makes it."""
    prefix, etc = cache(build, "CMAKE_INSTALL_PREFIX"), cache(build, "CMAKE_INSTALL_SYSCONFDIR")
    return etc if etc.startswith("/") else "/etc" if prefix == "/usr" else f"{prefix}/{etc}"


def bad(key, value, expected, kept):
    return f"{ME}: SETTINGS: {key}: expected {expected}, not '{value}': keeping {kept}\n"


BAD_PORT = lambda value: bad("LISTEN_PORT", value, "a port from 1 to 65535", "80")
BAD_ADDRESS = lambda value: bad("LISTEN_ADDRESS", value, "an IPv4 or IPv6 address or nothing",
                                "every address")


@pytest.mark.parametrize("settings, listen, stderr", [
    (None, None, ""),  # the installed file
    ("", None, ""),
    ("LISTEN_PORT=80\nLISTEN_ADDRESS=\n", None, ""),
    ("LISTEN_PORT=8080\n", "8080", ""),
    ("#LISTEN_PORT=8080\n", None, ""),
    ("LISTEN_PORT=81\n  LISTEN_PORT=8081 \r\n", "8081", ""),
    ("LISTEN_ADDRESS=192.168.1.10\n", "192.168.1.10:80", ""),
    ('LISTEN_ADDRESS="2001:db8::10"\nLISTEN_PORT=65535\n', "[2001:db8::10]:65535", ""),
    ("LISTEN_ADDRESS=::\n", "[::]:80", ""),
    ("LISTEN_ADDRESS=::ffff:10.0.0.1\n", "[::ffff:10.0.0.1]:80", ""),
    ("LISTEN_ADDRESS=1:2:3:4:5:6:7:8\n", "[1:2:3:4:5:6:7:8]:80", ""),
    ("LISTEN_PORT=0\n", None, BAD_PORT("0")),
    ("LISTEN_PORT=65536\n", None, BAD_PORT("65536")),
    ("LISTEN_PORT=08080\n", None, BAD_PORT("08080")),
    ("LISTEN_PORT=\n", None, BAD_PORT("")),
    ("LISTEN_PORT=80$(touch /tmp/x)\n", None, BAD_PORT("80$(touch /tmp/x)")),
    ("LISTEN_PORT=8080 # the test port\n", None, BAD_PORT("8080 # the test port")),
    ("LISTEN_ADDRESS=camera.local\nLISTEN_PORT=8080\n", "8080", BAD_ADDRESS("camera.local")),
    ("LISTEN_ADDRESS=1.2.3.256\n", None, BAD_ADDRESS("1.2.3.256")),
    ("LISTEN_ADDRESS=1.2.3\n", None, BAD_ADDRESS("1.2.3")),
    ("LISTEN_ADDRESS=[::1]\n", None, BAD_ADDRESS("[::1]")),
    ("LISTEN_ADDRESS=1:2:3:4:5:6:7:8:9\n", None, BAD_ADDRESS("1:2:3:4:5:6:7:8:9")),
    ("LISTEN_ADDRESS=1::2::3\n", None, BAD_ADDRESS("1::2::3")),
    ("LISTEN_ADDRESS=12345::1\n", None, BAD_ADDRESS("12345::1")),
    ("LISTEN_ADDRESS=fe80::1%eth0\n", None, BAD_ADDRESS("fe80::1%eth0")),
    ("LISTEN_ADDRESS=0.0.0.0\n", "0.0.0.0:80", ""),
])
def test_the_generator_gives_the_socket_a_sane_address_and_port(prefix, tmp_path, settings,
                                                                 listen, stderr):
    path = prefix / SETTINGS
    if settings is not None:
        path = tmp_path / "settings"
        path.write_text(settings)
    out = tmp_path / "generator"
    out.mkdir()
    result = subprocess.run(["sh", prefix / GENERATOR, out, out / "early", out / "late", path],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                            timeout=60)
    assert (result.returncode, result.stdout) == (0, "")
    assert result.stderr == stderr.replace("SETTINGS", str(path))
    written = sorted(str(p.relative_to(out)) for p in out.rglob("*") if p.is_file())
    if listen is None:
        assert written == []
        return
    assert written == ["camboard-vshare.socket.d/listen.conf"]
    assert (out / written[0]).read_text() == (
        f"# Written by {ME} from {path}.\n[Socket]\nListenStream=\nListenStream={listen}\n")
    if shutil.which("systemd-analyze"):
        # systemd takes the address: the socket unit with the drop-in.
        socket_unit = tmp_path / "camboard-vshare.socket"
        socket_unit.write_text((prefix / UNITS / socket_unit.name).read_text()
                               + (out / written[0]).read_text())
        assert verify(prefix, tmp_path, socket_unit) == ""


def verify(prefix, tmp_path, *units):
    """systemd-analyze verify's complaints about the units, with the
    service's program taken from the prefix."""
    service = tmp_path / "camboard-vshare.service"
    text = (prefix / UNITS / service.name).read_text()
    service.write_text(text.replace(text.split("ExecStart=", 1)[1].split()[0],
                                    str(prefix / "bin/vshare")))
    result = subprocess.run(["systemd-analyze", "verify", "--man=no", service, *units],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                            timeout=120)
    return result.stdout + ("" if result.returncode == 0 else f"status {result.returncode}")


def test_systemd_takes_the_units_as_installed(prefix, tmp_path):
    if shutil.which("systemd-analyze") is None:
        pytest.skip("systemd-analyze is not installed (Debian package systemd)")
    socket_unit = tmp_path / "camboard-vshare.socket"
    shutil.copy(prefix / UNITS / socket_unit.name, socket_unit)
    assert verify(prefix, tmp_path, socket_unit) == ""
