# SPDX-License-Identifier: MIT
"""The install layout: `cmake --install` puts the programs, the manual pages,
the element and the live view under the prefix it is given, by the usual
conventions, and nothing of the simulator or of the tests."""

import copy
import os
import re
import shutil
import subprocess

import pytest

from systemd_units import unit_settings

PROGRAMS = ["vcapture", "vshare", "sensreg", "sensdump", "isptune", "fdiv"]
PAGES = ["man1/vcapture.1", "man1/vshare.1", "man1/fdiv.1", "man7/vxrate.7", "man8/sensreg.8",
         "man8/sensdump.8", "man8/isptune.8"]
WWW = "share/camboard-liveview/www"
GENERATOR = "lib/systemd/system-generators/camboard-liveview-generator"


def cache(build, name):
    text = (build / "CMakeCache.txt").read_text()
    return re.search(rf"^{name}:\w+=(.*)$", text, re.M).group(1)


@pytest.fixture(scope="module")
def build(programs):
    # The programs are built into <build tree>/bin.
    return programs.bindir.parent


def expected_files(build):
    libdir = cache(build, "CMAKE_INSTALL_LIBDIR")
    return sorted(
        [f"bin/{p}" for p in PROGRAMS]
        + [f"share/man/{page}" for page in PAGES]
        + [f"share/bash-completion/completions/{p}" for p in PROGRAMS]
        + [f"{libdir}/gstreamer-1.0/libgst_vxrate.so"]
        + [f"{WWW}/index.html", f"{WWW}/live.css", f"{WWW}/live.js",
           f"{WWW}/cgi-bin/stream", f"{WWW}/cgi-bin/snapshot",
           "etc/camboard-liveview/httpd.conf", "etc/default/camboard-liveview",
           "lib/systemd/system/camboard-vshare.service",
           "lib/systemd/system/camboard-vshare.socket", GENERATOR,
           "share/doc/camboard-liveview/README"])


def install(build, prefix, *options):
    result = subprocess.run([shutil.which("cmake"), "--install", str(build), "--prefix",
                             str(prefix), *options],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
    assert result.returncode == 0, result.stdout.decode()
    return sorted(str(p.relative_to(prefix)) for p in prefix.rglob("*") if not p.is_dir())


def sections(path):
    """The names of an ELF file's sections (readelf reads any target's)."""
    out = subprocess.run(["readelf", "-S", "-W", str(path)], stdout=subprocess.PIPE,
                         check=True, timeout=60).stdout.decode()
    return set(re.findall(r"^\s*\[\s*\d+\]\s+(\S+)", out, re.M))


def test_everything_goes_under_the_prefix_and_nothing_else(build, tmp_path):
    prefix = tmp_path / "x"
    assert install(build, prefix) == expected_files(build)
    # What the install wrote, by its own account: all of it under the prefix.
    manifest = (build / "install_manifest.txt").read_text().split()
    assert manifest and all(path.startswith(f"{prefix}/") for path in manifest)


def test_programs_are_executable_and_pages_readable(build, tmp_path):
    prefix = tmp_path / "x"
    install(build, prefix)
    executables = {str(p.relative_to(prefix)) for p in prefix.rglob("*")
                   if p.is_file() and os.access(p, os.X_OK)}
    assert executables == {f"bin/{p}" for p in PROGRAMS} | {
        f"{WWW}/cgi-bin/stream", f"{WWW}/cgi-bin/snapshot", GENERATOR}
    assert "\n.TH VCAPTURE 1 " in (prefix / "share/man/man1/vcapture.1").read_text()


def test_installed_program_runs_from_the_prefix(build, programs, tmp_path):
    prefix = tmp_path / "x"
    install(build, prefix)
    installed = copy.copy(programs)
    installed.bindir = prefix / "bin"
    result = installed.run("fdiv", "1", "3")
    assert (result.returncode, result.stdout) == (0, b"0.333333\n")


def test_element_loads_from_the_prefix(build, programs, tmp_path):
    if programs.emulator:
        pytest.skip("the host's GStreamer tools cannot load the board's plug-in")
    if shutil.which("gst-inspect-1.0") is None:
        pytest.skip("gst-inspect-1.0 is not installed (Debian package gstreamer1.0-tools)")
    prefix = tmp_path / "x"
    install(build, prefix)
    env = {**os.environ, "GST_REGISTRY_1_0": str(tmp_path / "registry.bin"),
           "GST_PLUGIN_PATH": str(prefix / cache(build, "CMAKE_INSTALL_LIBDIR") / "gstreamer-1.0")}
    result = subprocess.run(["gst-inspect-1.0", "vxrate"], env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, timeout=120)
    assert result.returncode == 0, result.stderr.decode()
    assert b"video frame rate analyzer" in result.stdout


def test_strip_leaves_no_symbols_or_debugging_information(build, tmp_path):
    plain, stripped = tmp_path / "plain", tmp_path / "stripped"
    install(build, plain)
    install(build, stripped, "--strip")
    libdir = cache(build, "CMAKE_INSTALL_LIBDIR")
    binaries = [f"bin/{p}" for p in PROGRAMS] + [f"{libdir}/gstreamer-1.0/libgst_vxrate.so"]
    debug = {".symtab", ".debug_info", ".debug_line"}
    for binary in binaries:
        if cache(build, "CMAKE_BUILD_TYPE") in ("Debug", "RelWithDebInfo"):
            assert debug <= sections(plain / binary), binary
        assert not debug & sections(stripped / binary), binary


def test_live_view_scripts_relay_from_the_installed_vshare_alone(build, tmp_path):
    prefix = tmp_path / "x"
    install(build, prefix)
    bindir = cache(build, "CMAKE_INSTALL_PREFIX") + "/" + cache(build, "CMAKE_INSTALL_BINDIR")
    for script, command in (("stream", "-relay"), ("snapshot", "-relay -snapshot")):
        text = (prefix / WWW / "cgi-bin" / script).read_text()
        assert text.startswith("#!/bin/sh\n")
        commands = [l for l in text.splitlines() if l and not l.startswith("#")]
        assert commands == [f"exec {bindir}/vshare {command}"]
        assert "boardsim" not in text.lower() and "LD_PRELOAD" not in text


def test_vshare_service_takes_port_80_from_its_socket_and_runs_as_the_live_views_user(
        build, tmp_path):
    prefix = tmp_path / "x"
    install(build, prefix)
    units = prefix / "lib/systemd/system"
    socket_unit = unit_settings(units / "camboard-vshare.socket")
    assert ("ListenStream", "80") in socket_unit["Socket"]
    assert ("Service", "camboard-vshare.service") in socket_unit["Socket"]
    service = unit_settings(units / "camboard-vshare.service")
    assert ("Requires", "camboard-vshare.socket") in service["Unit"]
    bindir = cache(build, "CMAKE_INSTALL_PREFIX") + "/" + cache(build, "CMAKE_INSTALL_BINDIR")
    # The logins live in the state directory, for the unit's user alone; the
    # unix socket for CGI relays in the runtime directory.
    settings = dict(service["Service"])
    assert {key: settings[key] for key in ("ExecStart", "User", "Group", "RuntimeDirectory",
                                           "StateDirectory", "StateDirectoryMode")} == {
        "ExecStart": f"{bindir}/vshare -size ${{CAPTURE_WIDTH}} ${{CAPTURE_HEIGHT}} "
                     "-fps ${CAPTURE_FPS} -qscale ${CAPTURE_QUALITY} $VSHARE_OPTIONS",
        "User": "camboard-view", "Group": "video",
        "RuntimeDirectory": "camboard-liveview", "StateDirectory": "camboard-liveview",
        "StateDirectoryMode": "0700"}
    assert ("Also", "camboard-vshare.socket") in service["Install"]


def test_the_socket_unit_hands_port_80_to_vshare(build, tmp_path):
    prefix = tmp_path / "x"
    install(build, prefix)
    socket_unit = unit_settings(prefix / "lib/systemd/system/camboard-vshare.socket")
    assert socket_unit["Socket"] == [("ListenStream", "80"), ("Backlog", "1024"),
                                     ("NoDelay", "true"),
                                     ("Service", "camboard-vshare.service")]
