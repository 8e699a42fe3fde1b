#!/usr/bin/env python3
"""The live view served three ways, side by side on the simulated camera
(640x480 JPEG, quality 80), at 1, 4, 16 and 64 viewers, paced (30 frames a
second) and unpaced:

- vshare: vshare over HTTP itself (-listen, -no-auth), one process and its
  vcapture;
- cgi: busybox httpd running a CGI script per viewer that execs
  "vshare -relay", which relays from vshare on its unix socket;
- ustreamer: µStreamer (--device /dev/v4l/video0 -m JPEG -c HW).

For each run it prints: the frames delivered a second (all viewers), the
server side's CPU time per delivered frame above the simulator's own cost
per captured frame (dq_baseline, measured in the same run), the PSS of the
whole server side and its processes, the delivery latency p50/p90/p99 (the
frame's X-Timestamp to the receipt of its last byte), and at 64 viewers the
time until all 64, connected at once, have their first whole part. Last, a
throttled viewer (100 KB/s, a 16 KiB receive buffer) alone at 30 frames a
second: the age of the frames it gets. And vshare's recovery: a viewer
watches, the camera is taken away (its vcapture stopped as if stuck in the
driver, then the camera held by another streamer) and given back; the time
from its return to the viewer's first live frame.

The viewers are read by one Python thread of this script, which shares the
machine: unpaced, it is the viewers that cannot keep up, and the latencies
show that. Its own CPU time is not counted.

Usage: bench/liveview_compare.py [BUILD_DIR] [SECONDS]   (default build/native, 4)
"""

import fcntl
import os
import re
import selectors
import shutil
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
SECONDS = float(sys.argv[2]) if len(sys.argv) > 2 else 4.0
PRELOAD = str(BUILD / "lib" / "libboardsim.so")
VCAPTURE = str(BUILD / "bin" / "vcapture")
VSHARE = str(BUILD / "bin" / "vshare")
VIEWERS = (1, 4, 16, 64)
PART_HEAD = re.compile(rb"Content-Length: (\d+)\r\n(?:.*\r\n)*?X-Timestamp: (\d+)\.(\d+)")
CLK_TCK = os.sysconf("SC_CLK_TCK")
PLACEHOLDER = (ROOT / "liveview" / "placeholder.jpg").stat().st_size  # its parts' length


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def sim_env(simdir, paced):
    env = dict(os.environ, BOARDSIM_DIR=str(simdir), LD_PRELOAD=PRELOAD)
    if not paced:
        env["BOARDSIM_UNPACED"] = "1"
    return env


def descendants(root):
    """The process `root` and every process below it."""
    children = {}
    for entry in Path("/proc").iterdir():
        if entry.name.isdigit():
            try:
                ppid = int((entry / "stat").read_text().rsplit(")", 1)[1].split()[1])
            except OSError:
                continue
            children.setdefault(ppid, []).append(int(entry.name))
    found, todo = [], [root]
    while todo:
        pid = todo.pop()
        found.append(pid)
        todo.extend(children.get(pid, []))
    return found


def cpu_of(pids):
    total = 0.0
    for pid in pids:
        try:
            fields = Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
        except OSError:
            continue
        total += (int(fields[11]) + int(fields[12])) / CLK_TCK
    return total


def pss_of(pids):
    total = 0
    for pid in pids:
        try:
            for line in Path(f"/proc/{pid}/smaps_rollup").read_text().splitlines():
                if line.startswith("Pss:"):
                    total += int(line.split()[1])
        except OSError:
            continue
    return total * 1024


def captured_frames(simdir):
    trace = Path(simdir) / "trace"
    if not trace.exists():
        return 0
    return sum(1 for line in trace.read_text(errors="replace").splitlines()
               if line.startswith("VIDIOC_DQBUF index"))


class Server:
    """One way of serving the live view on one simulated board."""

    def __init__(self, kind, workdir, paced):
        self.kind = kind
        self.sim = Path(workdir) / f"{kind}-{'paced' if paced else 'unpaced'}-{time.monotonic_ns()}"
        self.sim.mkdir()
        self.port = free_port()
        env = sim_env(self.sim, paced)
        self.errors = open(self.sim / "stderr", "wb")
        self.path = "/stream"
        size = ["-size", "640", "480", "-fps", "30"]
        if kind == "vshare":
            cmd = [VSHARE, "-socket", str(self.sim / "vshare.sock"), "-listen",
                   f"127.0.0.1:{self.port}", "-no-auth", "-users", str(self.sim / "users"),
                   "-vcapture", VCAPTURE, *size]
        elif kind == "cgi":
            sock = self.sim / "vshare.sock"
            self.vshare = subprocess.Popen([VSHARE, "-socket", str(sock), "-vcapture", VCAPTURE,
                                            *size], env=env, stdout=subprocess.DEVNULL,
                                           stderr=self.errors, start_new_session=True)
            www = self.sim / "www" / "cgi-bin"
            www.mkdir(parents=True)
            script = www / "stream"
            script.write_text(f"#!/bin/sh\nexec {VSHARE} -relay -socket {sock}\n")
            script.chmod(0o755)
            cmd = ["busybox", "httpd", "-f", "-p", f"127.0.0.1:{self.port}", "-h",
                   str(self.sim / "www")]
            self.path = "/cgi-bin/stream"
        else:
            cmd = ["ustreamer", "--device", "/dev/v4l/video0", "-m", "JPEG", "-c", "HW",
                   "-r", "640x480", "-f", "30", "--host", "127.0.0.1", "--port", str(self.port)]
        self.proc = subprocess.Popen(cmd, env=env, stdout=subprocess.DEVNULL, stderr=self.errors,
                                     start_new_session=True)
        deadline = time.time() + 30
        while True:
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                break
            except OSError:
                if time.time() > deadline or self.proc.poll() is not None:
                    raise RuntimeError(f"{kind} did not start: "
                                       + (self.sim / "stderr").read_text(errors="replace"))
                time.sleep(0.05)

    def pids(self):
        roots = [self.proc.pid] + ([self.vshare.pid] if self.kind == "cgi" else [])
        return [pid for root in roots for pid in descendants(root)]

    def stop(self):
        procs = [self.proc] + ([self.vshare] if self.kind == "cgi" else [])
        for proc in procs:
            try:
                os.killpg(proc.pid, signal.SIGTERM)
            except ProcessLookupError:
                pass
        for proc in procs:
            try:
                proc.wait(timeout=15)
            except subprocess.TimeoutExpired:
                os.killpg(proc.pid, signal.SIGKILL)
                proc.wait()
        self.errors.close()


class Viewer:
    """One HTTP client of the stream: its parts' (receipt, time stamp) times."""

    def __init__(self, server, rcvbuf=None):
        self.sock = socket.socket()
        if rcvbuf:
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
        self.sock.connect(("127.0.0.1", server.port))
        self.sock.sendall(f"GET {server.path} HTTP/1.1\r\nHost: cam\r\n\r\n".encode())
        self.sock.setblocking(False)
        self.buffer = bytearray()
        self.in_body = False
        self.parts = []  # (receipt, frame time: wall-clock seconds; image length)
        self.first = None

    def take(self, data, now):
        self.buffer += data
        pos = 0
        if not self.in_body:
            end = self.buffer.find(b"\r\n\r\n")
            if end < 0:
                return
            self.in_body = True
            pos = end + 4
        while True:
            end = self.buffer.find(b"\r\n\r\n", pos)
            if end < 0:
                break
            m = PART_HEAD.search(self.buffer, pos, end + 2)
            if m is None:
                pos = end + 4  # not a part's head (the empty line of a multipart preamble)
                continue
            image_end = end + 4 + int(m.group(1))
            if image_end > len(self.buffer):
                break
            stamp = int(m.group(2)) + int(m.group(3)) / 10 ** len(m.group(3))
            self.parts.append((now, stamp, int(m.group(1))))
            if self.first is None:
                self.first = now
            pos = image_end
        del self.buffer[:pos]


class Readers:
    """Reads every viewer as fast as it can in one thread."""

    def __init__(self, viewers, throttle=None):
        self.viewers = viewers
        self.selector = selectors.DefaultSelector()
        for v in viewers:
            self.selector.register(v.sock, selectors.EVENT_READ, v)
        self.throttle = throttle  # (bytes a read, seconds between reads)
        self.running = True
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        chunk = self.throttle[0] if self.throttle else 262144
        while self.running:
            for key, _ in self.selector.select(timeout=0.1):
                try:
                    data = key.fileobj.recv(chunk)
                except BlockingIOError:
                    continue
                except OSError:
                    data = b""
                if not data:
                    self.selector.unregister(key.fileobj)
                    continue
                key.data.take(data, time.time())
            if self.throttle:
                time.sleep(self.throttle[1])

    def stop(self):
        self.running = False
        self.thread.join()
        for v in self.viewers:
            v.sock.close()


def percentile(values, p):
    if not values:
        return float("nan")
    values = sorted(values)
    return values[min(len(values) - 1, int(p / 100 * len(values)))]


def warm_up(server):
    """One viewer until its first part: the capture runs (vshare lingers
    after it has gone)."""
    viewer = Viewer(server)
    readers = Readers([viewer])
    deadline = time.time() + 30
    while not viewer.parts and time.time() < deadline:
        time.sleep(0.02)
    readers.stop()
    if not viewer.parts:
        raise RuntimeError(f"{server.kind}: no part")


def run(kind, viewers, paced, workdir, sim_cost):
    server = Server(kind, workdir, paced)
    try:
        warm_up(server)
        connected = time.time()
        clients = [Viewer(server) for _ in range(viewers)]
        readers = Readers(clients)
        deadline = time.time() + 30
        while any(c.first is None for c in clients) and time.time() < deadline:
            time.sleep(0.005)
        first_all = max((c.first or float("inf")) for c in clients) - connected
        time.sleep(0.5)
        pids = server.pids()
        cpu0, frames0, t0 = cpu_of(pids), captured_frames(server.sim), time.time()
        parts0 = sum(len(c.parts) for c in clients)
        time.sleep(SECONDS / 2)
        pss, processes = pss_of(server.pids()), len(server.pids())
        time.sleep(SECONDS / 2)
        cpu1, frames1, t1 = cpu_of(pids), captured_frames(server.sim), time.time()
        parts1 = sum(len(c.parts) for c in clients)
        readers.stop()
    finally:
        server.stop()
    delivered = parts1 - parts0
    cpu_above = (cpu1 - cpu0) - (frames1 - frames0) * sim_cost
    latencies = [(got - stamp) * 1000 for c in clients for got, stamp, _ in c.parts
                 if t0 <= got <= t1]
    return {
        "fps": delivered / (t1 - t0),
        "cpu": cpu_above / delivered * 1e6 if delivered else float("nan"),
        "pss": pss / 1e6, "processes": processes,
        "p50": percentile(latencies, 50), "p90": percentile(latencies, 90),
        "p99": percentile(latencies, 99), "first_all": first_all * 1000,
    }


def throttled(kind, workdir):
    """Median and p90 age (ms) of the frames a viewer at 100 KB/s gets."""
    server = Server(kind, workdir, True)
    try:
        warm_up(server)
        viewer = Viewer(server, rcvbuf=16384)
        readers = Readers([viewer], throttle=(8192, 0.08))
        time.sleep(2 + SECONDS)
        readers.stop()
    finally:
        server.stop()
    ages = [(got - stamp) * 1000 for got, stamp, _ in viewer.parts[2:]]
    return percentile(ages, 50), percentile(ages, 90), len(viewer.parts)


def recovery(workdir):
    """Seconds from the camera's return to a watching viewer's first live
    frame, after vshare gave up a stuck vcapture."""
    server = Server("vshare", workdir, True)
    try:
        viewer = Viewer(server)
        readers = Readers([viewer])
        while not viewer.parts:
            time.sleep(0.02)
        capture = [pid for pid in server.pids() if pid != server.proc.pid][0]
        lock = os.open(server.sim / "stream.lock", os.O_RDWR | os.O_CREAT, 0o644)
        os.kill(capture, signal.SIGSTOP)  # stuck: vshare kills it after a while
        fcntl.flock(lock, fcntl.LOCK_EX)  # and the camera is held by another
        time.sleep(3)
        back = time.time()
        fcntl.flock(lock, fcntl.LOCK_UN)
        os.close(lock)
        deadline = back + 30
        live = lambda: [got for got, _, size in viewer.parts if got > back and size != PLACEHOLDER]
        while not live():
            if time.time() > deadline:
                raise RuntimeError("no frames again")
            time.sleep(0.01)
        readers.stop()
    finally:
        server.stop()
    return min(live()) - back


def simulator_alone(workdir, frames=200):
    """CPU seconds per frame of the simulator's bare dequeue and queue of
    640x480 JPEG frames, the picture's encoding included."""
    baseline = Path(workdir) / "baseline"
    baseline.mkdir()
    before = os.times()
    subprocess.run([str(BUILD / "bin" / "dq_baseline"), "640", "480", "jpeg", str(frames)],
                   env=sim_env(baseline, False), check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)
    after = os.times()
    return (after.children_user - before.children_user
            + after.children_system - before.children_system) / frames


def main():
    if not shutil.which("ustreamer") or not shutil.which("busybox"):
        sys.exit("liveview_compare.py: needs ustreamer and busybox (tools/deps.sh)")
    print(f"The live view three ways, 640x480 JPEG, {SECONDS:g} s a run")
    with tempfile.TemporaryDirectory() as workdir:
        sim_cost = simulator_alone(workdir)
        print(f"the simulator alone (dq_baseline): {sim_cost * 1e6:.0f} us a frame")
        print(f"{'pace':>8} {'viewers':>7} {'server':>9} {'frames/s':>9} {'cpu/frame':>10} "
              f"{'PSS':>8} {'procs':>5} {'p50':>7} {'p90':>7} {'p99':>7} {'all first':>10}")
        for paced in (True, False):
            for viewers in VIEWERS:
                for kind in ("vshare", "cgi", "ustreamer"):
                    r = run(kind, viewers, paced, workdir, sim_cost)
                    first = f"{r['first_all']:8.0f}ms" if viewers == 64 else ""
                    print(f"{'30 fps' if paced else 'unpaced':>8} {viewers:>7} {kind:>9} "
                          f"{r['fps']:>9.0f} {r['cpu']:>8.0f}us {r['pss']:>6.1f}MB "
                          f"{r['processes']:>5} {r['p50']:>5.0f}ms {r['p90']:>5.0f}ms "
                          f"{r['p99']:>5.0f}ms {first:>10}", flush=True)
        print("a throttled viewer (100 KB/s, 16 KiB receive buffer) alone, 30 fps:")
        for kind in ("vshare", "cgi", "ustreamer"):
            p50, p90, parts = throttled(kind, workdir)
            print(f"  {kind:>9}: frame age p50 {p50:.0f} ms, p90 {p90:.0f} ms ({parts} parts)",
                  flush=True)
        print(f"vshare: live frames {recovery(workdir):.2f} s after the camera came back")


if __name__ == "__main__":
    main()
