#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""How soon a viewer of vshare has live frames again after the camera comes
back, on the simulated camera (640x480 JPEG, 30 frames a second).

A viewer streams over HTTP; the camera is taken away (vshare's vcapture is
stopped as if stuck in the driver, which vshare notices, kills and reaps,
and the camera is then held by another streamer, as the simulator's stream
lock), held for a while and given back. Printed for each hold time: the
seconds from the camera's return to the viewer's first live frame, and the
placeholder pictures the viewer got meanwhile.

Usage: bench/vshare_recovery.py [BUILD_DIR]   (default build/native)
"""

import fcntl
import os
import re
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BUILD = (Path(sys.argv[1]) if len(sys.argv) > 1 else ROOT / "build" / "native").resolve()
PLACEHOLDER = (ROOT / "liveview" / "placeholder.jpg").stat().st_size
LENGTH = re.compile(rb"Content-Length: (\d+)\r\n")
HOLDS = (1, 2, 3, 4, 5)


class Viewer(threading.Thread):
    """Reads the stream and notes when each part's head came, and its length."""

    def __init__(self, port):
        super().__init__(daemon=True)
        self.sock = socket.create_connection(("127.0.0.1", port))
        self.sock.sendall(b"GET /stream HTTP/1.1\r\nHost: cam\r\n\r\n")
        self.sock.settimeout(0.2)
        self.parts = []  # (receipt, image length)
        self.running = True
        self.start()

    def run(self):
        tail = b""
        while self.running:
            try:
                data = self.sock.recv(262144)
            except socket.timeout:
                continue
            if not data:
                break
            now = time.time()
            text = tail + data
            for m in LENGTH.finditer(text):
                self.parts.append((now, int(m.group(1))))
            tail = text[-64:] if LENGTH.search(text[-64:]) is None else b""

    def stop(self):
        self.running = False
        self.join()
        self.sock.close()


def vcapture_of(pid):
    for entry in Path("/proc").iterdir():
        if entry.name.isdigit():
            try:
                if int((entry / "stat").read_text().rsplit(")", 1)[1].split()[1]) == pid:
                    return int(entry.name)
            except OSError:
                continue
    raise RuntimeError("vshare runs no vcapture")


def recovery(workdir, hold):
    sim = Path(workdir) / f"hold-{hold}"
    sim.mkdir()
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    env = dict(os.environ, BOARDSIM_DIR=str(sim), LD_PRELOAD=str(BUILD / "lib" / "libboardsim.so"))
    vshare = subprocess.Popen(
        [str(BUILD / "bin" / "vshare"), "-socket", str(sim / "vshare.sock"), "-listen",
         f"127.0.0.1:{port}", "-no-auth", "-users", str(sim / "users"), "-vcapture",
         str(BUILD / "bin" / "vcapture"), "-size", "640", "480", "-fps", "30"],
        env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        deadline = time.time() + 30
        while True:
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                if time.time() > deadline:
                    raise RuntimeError("vshare did not listen")
                time.sleep(0.05)
        viewer = Viewer(port)
        while not viewer.parts:
            time.sleep(0.02)
        lock = os.open(sim / "stream.lock", os.O_RDWR | os.O_CREAT, 0o644)
        os.kill(vcapture_of(vshare.pid), signal.SIGSTOP)
        fcntl.flock(lock, fcntl.LOCK_EX)  # once vshare has killed the stuck one
        time.sleep(hold)
        back = time.time()
        fcntl.flock(lock, fcntl.LOCK_UN)
        os.close(lock)
        live = lambda: [t for t, size in viewer.parts if t > back and size != PLACEHOLDER]
        while not live():
            if time.time() > back + 30:
                raise RuntimeError("no live frames again")
            time.sleep(0.01)
        placeholders = sum(size == PLACEHOLDER for _, size in viewer.parts)
        viewer.stop()
        return min(live()) - back, placeholders
    finally:
        vshare.terminate()
        vshare.wait(timeout=30)


def main():
    print("vshare: a viewer's first live frame after the camera comes back")
    with tempfile.TemporaryDirectory() as workdir:
        worst = 0.0
        for hold in HOLDS:
            seconds, placeholders = recovery(workdir, hold)
            worst = max(worst, seconds)
            print(f"  camera held {hold} s after the stuck capture was killed: live again "
                  f"{seconds:.2f} s after its return ({placeholders} placeholder pictures)",
                  flush=True)
        print(f"  worst: {worst:.2f} s")


if __name__ == "__main__":
    main()
