#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The live view's cost per frame for 1, 4 and 16 viewers, against the unpaced simulator.

Prints, for each number of viewers N:
- the live view: one vshare with its vcapture (and the simulator in both)
  serving N viewers on its socket; CPU time per captured frame of that
  process tree, frames per second, and the bytes vshare copied in user space
  per frame (the rests of parts that a viewer's socket did not take at once;
  zero while every viewer keeps up), from the summary vshare prints at exit;
- the reference: N separate vcapture processes, each on a simulated device of
  its own (its own BOARDSIM_DIR), each writing an MJPEG body into a pipe for
  one viewer; their CPU time per frame (one frame to each of the N viewers).
The live view's cost is also shown above the simulator's own cost per JPEG
frame (dq_baseline: its bare dequeue and queue, the picture's encoding
included), which every capture pays. Last, the bytes copied per frame with 16
viewers at the camera's own pace (15 frames a second), which viewers on a
local socket keep up with.

The viewers read and discard on their sockets; their own cost is not counted.

Usage: bench/vshare_bench.py [BUILD_DIR] [SECONDS]   (default build/native, 5)
"""

import os
import re
import selectors
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD = Path(sys.argv[1]) if len(sys.argv) > 1 else ROOT / "build" / "native"
SECONDS = float(sys.argv[2]) if len(sys.argv) > 2 else 5.0
PRELOAD = str(BUILD / "lib" / "libboardsim.so")
VCAPTURE = str(BUILD / "bin" / "vcapture")
VSHARE = str(BUILD / "bin" / "vshare")
VIEWERS = (1, 4, 16)
SUMMARY = re.compile(rb"(\d+) frames shared, (\d+) parts sent, (\d+) bytes copied")


def env(simdir, paced=False):
    e = dict(os.environ, BOARDSIM_DIR=str(simdir), LD_PRELOAD=PRELOAD)
    if not paced:
        e["BOARDSIM_UNPACED"] = "1"
    return e


def cpu_seconds(usage):
    return usage.ru_utime + usage.ru_stime


class Readers:
    """Sockets read and discarded by one thread until stopped."""

    def __init__(self, socks):
        self.selector = selectors.DefaultSelector()
        for s in socks:
            s.setblocking(False)
            self.selector.register(s, selectors.EVENT_READ)
        self.running = True
        self.buffer = bytearray(1 << 20)
        self.thread = threading.Thread(target=self._run)
        self.thread.start()

    def _run(self):
        view = memoryview(self.buffer)
        while self.running:
            for key, _ in self.selector.select(timeout=0.1):
                try:
                    if key.fileobj.recv_into(view) == 0:
                        self.selector.unregister(key.fileobj)
                except BlockingIOError:
                    pass

    def stop(self):
        self.running = False
        self.thread.join()


def connect_viewers(path, count):
    socks = []
    deadline = time.time() + 30
    while not Path(path).exists():
        if time.time() > deadline:
            raise RuntimeError("vshare did not make its socket")
        time.sleep(0.05)
    for _ in range(count):
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        s.connect(path)
        s.sendall(b"stream\n")
        socks.append(s)
    return socks


def live_view(viewers, workdir, paced=False):
    """(cpu seconds, wall seconds, frames, bytes copied) of vshare and its
    vcapture serving `viewers` viewers for SECONDS."""
    simdir = Path(workdir) / f"live-{viewers}{'-paced' if paced else ''}"
    simdir.mkdir()
    path = str(simdir / "vshare.sock")
    proc = subprocess.Popen([VSHARE, "-socket", path, "-vcapture", VCAPTURE],
                            env=env(simdir, paced), stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE)
    start = time.perf_counter()
    socks = connect_viewers(path, viewers)
    readers = Readers(socks)
    time.sleep(SECONDS)
    proc.send_signal(signal.SIGTERM)
    # The tree's time: vshare's own and that of the vcapture it reaped.
    _, status, usage = os.wait4(proc.pid, 0)
    wall = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    readers.stop()
    for s in socks:
        s.close()
    report = proc.stderr.read()
    found = SUMMARY.findall(report)
    if proc.returncode != 0 or not found:
        raise RuntimeError(f"vshare ended with {proc.returncode}: {report.decode()}")
    frames, _, copied = (int(v) for v in found[-1])
    return cpu_seconds(usage), wall, frames, copied


def separate_captures(viewers, workdir, frames):
    """(cpu seconds, wall seconds) of `viewers` vcapture processes, each on
    a device of its own, writing `frames` frames each into a pipe."""
    captures, readers = [], []
    start = time.perf_counter()
    for i in range(viewers):
        simdir = Path(workdir) / f"separate-{viewers}-{i}"
        simdir.mkdir()
        capture = subprocess.Popen(
            [VCAPTURE, "640", "480", "-format", "jpeg", "-qscale", "80", "-fps", "15",
             "-mjpeg-http", "frame", "-out", "-", "-count", str(frames), "-quiet"],
            env=env(simdir), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        readers.append(subprocess.Popen(["cat"], stdin=capture.stdout,
                                        stdout=subprocess.DEVNULL))
        capture.stdout.close()
        captures.append(capture)
    cpu = 0.0
    for capture in captures:
        _, status, usage = os.wait4(capture.pid, 0)
        capture.returncode = os.waitstatus_to_exitcode(status)
        if capture.returncode != 0:
            raise RuntimeError(f"vcapture ended with {capture.returncode}")
        cpu += cpu_seconds(usage)
    wall = time.perf_counter() - start
    for reader in readers:
        reader.wait()
    return cpu, wall


def simulator_alone(workdir, frames=300):
    """CPU seconds per frame of dq_baseline: the simulator's bare dequeue and
    queue of JPEG frames, the picture's encoding included."""
    baseline = Path(workdir) / "baseline"
    baseline.mkdir()
    before = os.times()
    subprocess.run([str(BUILD / "bin" / "dq_baseline"), "640", "480", "jpeg", str(frames)],
                   env=env(baseline), check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    after = os.times()
    return (after.children_user - before.children_user
            + after.children_system - before.children_system) / frames


def main():
    print(f"The live view against the unpaced simulator, 640x480 JPEG (qscale 80), "
          f"{SECONDS:g} s a run")
    print("live view: vshare + its vcapture (+ simulator) serving N viewers on its socket;")
    print("  above sim: its cpu/frame above the simulator's own (dq_baseline, same run)")
    print("separate: N vcapture processes, each on a device of its own, each into a pipe")
    print(f"{'viewers':>7}  {'live fps':>9}{'cpu/frame':>11}{'above sim':>11}{'copied/frame':>14}"
          f"  {'separate fps':>13}{'cpu/frame':>11}{'ratio':>8}")
    with tempfile.TemporaryDirectory() as workdir:
        sim = simulator_alone(workdir) * 1e6
        for n in VIEWERS:
            cpu, wall, frames, copied = live_view(n, workdir)
            # As many frames for each separate capture as the live view shared.
            sep_cpu, sep_wall = separate_captures(n, workdir, frames)
            live_per_frame = cpu / frames * 1e6
            sep_per_frame = sep_cpu / frames * 1e6
            print(f"{n:>7}  {frames / wall:>9.1f}{live_per_frame:>9.0f}us"
                  f"{live_per_frame - sim:>9.0f}us{copied / frames:>12.0f} B"
                  f"  {frames / sep_wall:>13.1f}{sep_per_frame:>9.0f}us"
                  f"{sep_per_frame / live_per_frame:>7.1f}x")
        print(f"the simulator alone (dq_baseline): {sim:.0f}us per frame")
        _, _, frames, copied = live_view(16, workdir, paced=True)
        print(f"paced at 15 frames a second, 16 viewers: {frames} frames, "
              f"{copied / max(frames, 1):.0f} bytes copied per frame")


if __name__ == "__main__":
    main()
