# SPDX-License-Identifier: MIT
"""The built plug-in as GStreamer's own tools see it."""

import os
import re
import subprocess

import pytest

from project import VERSION


@pytest.fixture
def gst(programs, tmp_path):
    if programs.emulator:
        pytest.skip("the host's GStreamer tools cannot load the board's plug-in")
    env = dict(os.environ)
    env["GST_PLUGIN_PATH"] = str(programs.libdir / "gstreamer-1.0")
    env["GST_REGISTRY_1_0"] = str(tmp_path / "registry.bin")

    def run(tool, *args):
        # Bytes decoded by hand: universal newlines would turn the lines' "\r" into "\n".
        result = subprocess.run([tool, *args], env=env, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, timeout=120)
        result.stdout = result.stdout.decode()
        result.stderr = result.stderr.decode()
        return result
    return run


def test_inspect_shows_every_detail_and_both_pads(gst, programs):
    result = gst("gst-inspect-1.0", str(programs.libdir / "gstreamer-1.0" / "libgst_vxrate.so"))
    assert result.returncode == 0, result.stderr
    out = result.stdout
    for line in ["Name                     vxrate",
                 "Description              Frame rate analyze/report filter element",
                 f"Version                  {VERSION}",
                 "License                  MIT/X11",
                 "Source module            camboard",
                 "Binary package           camboard",
                 "vxrate: video frame rate analyzer"]:
        assert line in out
    element = gst("gst-inspect-1.0", "vxrate").stdout
    for line in ["Rank                     primary (256)",
                 "Long-name                video frame rate analyzer",
                 "Klass                    Filter/Analyzer/Video",
                 "Description              Frame rate analyze/report filter",
                 "+----GstBaseTransform\n                         +----GstVxRate"]:
        assert line in element
    pads = element[element.index("Pad Templates:"):element.index("Element has no clocking")]
    assert re.search(r"SINK template: 'sink'\s+Availability: Always\s+Capabilities:\s+ANY", pads)
    assert re.search(r"SRC template: 'src'\s+Availability: Always\s+Capabilities:\s+ANY", pads)


def test_launch_reports_every_buffer_and_event(gst):
    n = 12
    result = gst("gst-launch-1.0", "-q", "videotestsrc", f"num-buffers={n}", "!",
                 "video/x-raw,framerate=25/1", "!", "vxrate", "!", "fakesink", "sync=true")
    assert result.returncode == 0, result.stderr
    lines = result.stderr.split("\n")
    rates = [l for l in lines if l.startswith("\rvxrate: period(usec): ")]
    assert len(rates) == n
    assert rates[0] == "\rvxrate: period(usec):      0, rate(1/sec):  0.000"
    values = [float(l.rsplit(" ", 1)[1]) for l in rates[2:]]
    assert sum(values) / len(values) == pytest.approx(25.0, rel=0.1)
    events = [l for l in lines if l.startswith("vxrate: event (vxrate0 : sink) E (type: ")]
    names = [e.split(", ", 1)[1].split(",")[0] for e in events]
    assert names[:3] == ["GstEventStreamStart", "GstEventCaps", "GstEventSegment"]
    assert events[-1].endswith(", )")  # EOS carries no structure


def test_buffers_pass_unchanged(gst, tmp_path):
    src = tmp_path / "in.bin"
    src.write_bytes(bytes(range(256)) * 400)
    out = tmp_path / "out.bin"
    result = gst("gst-launch-1.0", "-q", "filesrc", f"location={src}", "blocksize=999", "!",
                 "vxrate", "!", "filesink", f"location={out}")
    assert result.returncode == 0, result.stderr
    assert out.read_bytes() == src.read_bytes()
