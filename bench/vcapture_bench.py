#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""vcapture's cost per frame against the unpaced simulator, beside standard clients.

Prints, for 640x480 YUV frames to /dev/null and JPEG frames as an MJPEG
multipart body to /dev/null (and vcapture's through a pipe to a reader):
frames per second and CPU time per frame of vcapture, v4l2-ctl, ffmpeg and
GStreamer, each beside the simulator's own dequeue-and-queue cost measured
in the same run (dq_baseline) and the client's share above it; then
vcapture's system calls per frame (strace -c, where strace is installed) and
allocations per frame.

Usage: bench/vcapture_bench.py [BUILD_DIR] [FRAMES]   (default build/native, 300)
"""

import os
import re
import resource
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD = Path(sys.argv[1]) if len(sys.argv) > 1 else ROOT / "build" / "native"
FRAMES = int(sys.argv[2]) if len(sys.argv) > 2 else 300
PRELOAD = str(BUILD / "lib" / "libboardsim.so")


def env(simdir, extra_preload=None):
    e = dict(os.environ, BOARDSIM_DIR=simdir, BOARDSIM_UNPACED="1")
    e["LD_PRELOAD"] = PRELOAD + (":" + extra_preload if extra_preload else "")
    return e


def timed(cmd, simdir, shell=False):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    subprocess.run(cmd, env=env(simdir), shell=shell, check=True,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu


def vcapture_args(fmt, count):
    return [str(BUILD / "bin" / "vcapture"), "640", "480", "-format", fmt, "-count", str(count),
            "-quiet"]


def syscalls_per_frame(fmt, simdir):
    counts = []
    for n in (FRAMES // 3, FRAMES // 3 * 2):
        with tempfile.NamedTemporaryFile("r") as out:
            subprocess.run(["strace", "-c", "-o", out.name, *vcapture_args(fmt, n), "-out",
                            "/dev/null"], env=env(simdir), check=True,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            total = re.findall(r"^\s*100\.00\s+\S+\s+\S+\s+(\d+)", out.read(), re.M)
            counts.append(int(total[-1]))
    return (counts[1] - counts[0]) / (FRAMES // 3)


def allocations_per_frame(simdir):
    """Allocations of YUV runs of two lengths: the difference is the loop's.
    (The simulator's JPEG encoder allocates per frame, so YUV is measured.)"""
    lib = Path(simdir) / "alloc_count.so"
    subprocess.run(["cc", "-shared", "-fPIC", "-O2", "-o", str(lib),
                    str(ROOT / "bench" / "alloc_count.c"), "-ldl"], check=True)
    counts = []
    for n in (10, 10 + FRAMES):
        r = subprocess.run([*vcapture_args("yuv420", n), "-out", "/dev/null"],
                           env=env(simdir, str(lib)), stdout=subprocess.DEVNULL,
                           stderr=subprocess.PIPE, check=True)
        counts.append(int(re.findall(rb"allocations: (\d+)", r.stderr)[-1]))
    return (counts[1] - counts[0]) / FRAMES


def client_commands(fmt):
    """The standard clients' commands for one case: (name, argv or shell text)."""
    dev = "/dev/v4l/video0"
    if fmt == "yuv420":
        return [
            ("v4l2-ctl", ["v4l2-ctl", "-d", dev,
                          "--set-fmt-video=width=640,height=480,pixelformat=YU12",
                          "--stream-mmap=2", f"--stream-count={FRAMES}", "--stream-to=/dev/null"]),
            ("ffmpeg", ["ffmpeg", "-v", "error", "-f", "v4l2", "-video_size", "640x480",
                        "-input_format", "yuv420p", "-i", dev, "-frames:v", str(FRAMES),
                        "-fps_mode", "passthrough", "-f", "rawvideo", "-y", "/dev/null"]),
            ("gstreamer", ["gst-launch-1.0", "-q", "v4l2src", f"device={dev}",
                           f"num-buffers={FRAMES}", "!",
                           "video/x-raw,format=I420,width=640,height=480", "!", "filesink",
                           "location=/dev/null"]),
        ]
    return [
        ("v4l2-ctl (bare JPEG)", ["v4l2-ctl", "-d", dev,
                                  "--set-fmt-video=width=640,height=480,pixelformat=JPEG",
                                  "--stream-mmap=2", f"--stream-count={FRAMES}",
                                  "--stream-to=/dev/null"]),
        ("ffmpeg mpjpeg", ["ffmpeg", "-v", "error", "-f", "v4l2", "-video_size", "640x480",
                           "-input_format", "mjpeg", "-i", dev, "-frames:v", str(FRAMES),
                           "-fps_mode", "passthrough", "-c", "copy", "-f", "mpjpeg", "-y",
                           "/dev/null"]),
        ("gstreamer multipartmux", ["gst-launch-1.0", "-q", "v4l2src", f"device={dev}",
                                    f"num-buffers={FRAMES}", "!",
                                    "image/jpeg,width=640,height=480", "!", "multipartmux",
                                    "!", "filesink", "location=/dev/null"]),
    ]


def vcapture_commands(fmt):
    if fmt == "yuv420":
        return [("vcapture", [*vcapture_args(fmt, FRAMES), "-out", "/dev/null"]),
                ("vcapture to a pipe",
                 " ".join(vcapture_args(fmt, FRAMES)) + " -out - | cat > /dev/null")]
    mjpeg = [*vcapture_args(fmt, FRAMES), "-mjpeg-http", "frame"]
    return [("vcapture multipart", [*mjpeg, "-out", "/dev/null"]),
            ("vcapture multipart to a pipe", " ".join(mjpeg) + " -out - | cat > /dev/null")]


def main():
    print(f"Capture clients against the unpaced simulator, 640x480, {FRAMES} frames a run;")
    print("sim cpu/frame: dq_baseline (the simulator's bare dequeue and queue) in the same run;")
    print("share: the client's cpu/frame above the simulator's")
    print(f"{'case':<44}{'fps':>9}{'cpu/frame':>12}{'sim cpu/frame':>15}{'share':>10}")
    with tempfile.TemporaryDirectory() as simdir:
        for fmt, title in (("yuv420", "YUV 4:2:0 to /dev/null"),
                           ("jpeg", "JPEG as an MJPEG multipart body to /dev/null")):
            print(title)
            _, base_cpu = timed([str(BUILD / "bin" / "dq_baseline"), "640", "480", fmt,
                                 str(FRAMES)], simdir)
            for name, cmd in vcapture_commands(fmt) + client_commands(fmt):
                program = cmd.split()[0] if isinstance(cmd, str) else cmd[0]
                if not Path(program).exists() and not shutil.which(program):
                    print(f"  {name:<42}(not installed)")
                    continue
                wall, cpu = timed(cmd, simdir, shell=isinstance(cmd, str))
                print(f"  {name:<42}{FRAMES / wall:>9.1f}{cpu / FRAMES * 1e6:>10.0f}us"
                      f"{base_cpu / FRAMES * 1e6:>13.0f}us{(cpu - base_cpu) / FRAMES * 1e6:>8.0f}us")
        for fmt in ("yuv420", "jpeg"):
            if shutil.which("strace"):
                print(f"system calls per frame ({fmt}, strace -c): "
                      f"{syscalls_per_frame(fmt, simdir):.1f}")
            else:
                print(f"system calls per frame ({fmt}): skipped, strace is not installed "
                      "(apt-get install strace)")
        print(f"allocations per frame in the loop (yuv420): {allocations_per_frame(simdir):.2f}")


if __name__ == "__main__":
    main()
