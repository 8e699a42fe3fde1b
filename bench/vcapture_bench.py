#!/usr/bin/env python3
"""vcapture's cost per frame against the unpaced simulator.

Prints, for 640x480 YUV and JPEG frames written to /dev/null and through a
pipe to a reader: frames per second and CPU time per frame of vcapture, the
simulator's own dequeue-and-queue cost in the same conditions (dq_baseline),
system calls per frame (strace -c, where strace is installed) and allocations
per frame in the loop.

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


def main():
    print(f"vcapture against the unpaced simulator, 640x480, {FRAMES} frames a run")
    print(f"{'case':<28}{'fps':>10}{'cpu/frame':>12}{'sim fps':>10}{'sim cpu/frame':>15}"
          f"{'vcapture share':>16}")
    with tempfile.TemporaryDirectory() as simdir:
        for fmt in ("yuv420", "jpeg"):
            base_wall, base_cpu = timed([str(BUILD / "bin" / "dq_baseline"), "640", "480", fmt,
                                         str(FRAMES)], simdir)
            for sink in ("/dev/null", "pipe"):
                if sink == "pipe":
                    cmd = " ".join(vcapture_args(fmt, FRAMES)) + " -out - | cat > /dev/null"
                    wall, cpu = timed(cmd, simdir, shell=True)
                else:
                    wall, cpu = timed([*vcapture_args(fmt, FRAMES), "-out", sink], simdir)
                share = (cpu - base_cpu) / FRAMES
                print(f"{fmt + ' to ' + sink:<28}{FRAMES / wall:>10.1f}"
                      f"{cpu / FRAMES * 1e6:>10.0f}us{FRAMES / base_wall:>10.1f}"
                      f"{base_cpu / FRAMES * 1e6:>13.0f}us{share * 1e6:>14.0f}us")
        if shutil.which("v4l2-ctl"):
            wall, cpu = timed(["v4l2-ctl", "-d", "/dev/v4l/video0",
                               "--set-fmt-video=width=640,height=480,pixelformat=YU12",
                               "--stream-mmap=2", f"--stream-count={FRAMES}",
                               "--stream-to=/dev/null"], simdir)
            print(f"{'v4l2-ctl yuv420 to /dev/null':<28}{FRAMES / wall:>10.1f}"
                  f"{cpu / FRAMES * 1e6:>10.0f}us   (a standard client, for comparison)")
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
