#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The live view served three ways, side by side in one run, on the simulated camera.

Servers (640x480 JPEG, quality 80, 30 frames a second asked for):
- vshare http: vshare -listen 127.0.0.1:PORT -no-auth, viewers on /stream;
- cgi relay:   busybox httpd running the live view's CGI script, which execs
               `vshare -relay` to a vshare serving on its unix socket;
- ustreamer:   ustreamer --device /dev/v4l/video0 -m JPEG -c HW (Debian package
               ustreamer), viewers on /stream?extra_headers=1.
Each serves 1, 4, 16 and 64 viewers, with the simulator paced (30 fps) and
unpaced (frames as fast as they are dequeued).

Per cell, over a window of SECONDS once every viewer has its first part:
- CPU of the whole server side (every process under the server(s), threads
  included: /proc/PID/task/TID/schedstat, plus children reaped meanwhile),
  per delivered frame (distinct frames the viewers got); the same above the
  simulator's own cost, measured in the same run (dq_baseline on a board set
  up as the server set its own: meanwhile when paced, right after the window
  when unpaced, where it would compete) and subtracted for every frame the
  server dequeued (counted in the simulator's trace); and, less noisy, the
  CPU outside the capturing thread (vcapture; µStreamer's "stream" thread),
  per frame and per part, with the kernel's share of it;
- PSS of the server side, with and without the simulator's mappings (its
  library, libjpeg, the stream buffers, which a board's driver holds), and
  its processes;
- delivery latency p50/p90/p99: from the frame's capture time to the kernel's
  receive time stamp (SO_TIMESTAMPNS) of the part's last byte in the viewer's
  socket, so the viewers' own scheduling stays out of it. vshare's
  X-Timestamp is the buffer's CLOCK_MONOTONIC stamp converted to the wall
  clock. µStreamer's X-Timestamp is the wall-clock time it handed the frame
  to its HTTP side, not the capture: its X-UStreamer-Grab-Time (milliseconds,
  CLOCK_MONOTONIC_RAW) is converted instead;
- the time until all N viewers, connecting at once (capture already running),
  have their first whole part.
Then a throttled viewer (reading 200 KB/s; 16 KiB receive buffer, and the
kernel's default) on vshare http and µStreamer at 30 fps: the age of each
frame when its last byte is read.

The viewers run in a separate process (this script with --viewers), one
selector loop; their CPU is not counted. On a busy machine, --nice -10 keeps
the latency figures about the servers rather than the scheduler.

Usage: bench/liveview_bench.py [BUILD_DIR] [SECONDS]   (default build/native, 4)
       [--counts 1,4,16,64] [--servers vshare,cgi,ustreamer] [--nice N]
"""

import argparse
import json
import os
import re
import resource
import selectors
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
CLK_TCK = os.sysconf("SC_CLK_TCK")
SO_TIMESTAMPNS = getattr(socket, "SO_TIMESTAMPNS", 35)
FPS = 30
QUALITY = 80
THROTTLE_RATE = 200_000
THROTTLE_RCVBUF = 16384
NICE = [0]  # niceness of the servers and the viewers (--nice)
SERVER_NAMES = {"vshare": "vshare http", "cgi": "cgi relay", "ustreamer": "ustreamer"}


# ---------------------------------------------------------------- the viewers


def make_cgi_site(www, vshare, sock, log):
    """The board's web root for another web server, as the package installs it:
    the CGI scripts with this build's vshare relaying from `sock`."""
    (www / "cgi-bin").mkdir(parents=True, exist_ok=True)
    for script in ("stream", "snapshot"):
        text = (ROOT / "liveview" / "www" / "cgi-bin" / f"{script}.in").read_text()
        lines = [line.replace("@CAMBOARD_VSHARE@", str(vshare)) + (f" -socket {sock}"
                 if line.startswith("exec ") else "") for line in text.splitlines()]
        lines.insert(1, f"exec 2>>{log}")
        target = www / "cgi-bin" / script
        target.write_text("\n".join(lines) + "\n")
        target.chmod(0o755)

class Viewer:
    """One HTTP viewer of a multipart stream: parses heads, counts bodies."""

    def __init__(self, sock):
        self.sock = sock
        self.head = bytearray()
        self.in_response_head = True
        self.remaining = 0      # body bytes still to come
        self.stamp = None       # the current part's capture time, seconds
        self.key = None         # and as its head gave it, which names the frame
        self.first_done = None  # kernel time of the first part's last byte
        self.failed = None


def parse_stamp(text):
    # Seconds and microseconds; vshare does not pad the microseconds.
    seconds, _, fraction = text.partition(b".")
    return int(seconds) + (int(fraction) / 1e6 if fraction else 0.0)


def feed(viewer, data, received, on_part):
    """Consumes `data` (a memoryview); calls on_part(viewer, stamp,
    received) for each part whose last byte is in it."""
    at = 0
    size = len(data)
    while at < size and viewer.failed is None:
        if viewer.remaining:
            take = min(viewer.remaining, size - at)
            viewer.remaining -= take
            at += take
            if viewer.remaining == 0:
                on_part(viewer, viewer.stamp, received)
            continue
        # A head: a few hundred bytes at most, looked for without copying
        # the body behind it.
        had = len(viewer.head)
        viewer.head += data[at:at + 4096]
        end = viewer.head.find(b"\r\n\r\n", max(0, had - 3))
        if end < 0:
            at = min(size, at + 4096)
            if len(viewer.head) > 65536:
                viewer.failed = "no end of head"
            continue
        at += end + 4 - had
        head = bytes(viewer.head[:end])
        viewer.head = bytearray()
        if viewer.in_response_head:
            # A CGI's own head follows the server's status line; both end
            # at the first blank line.
            viewer.in_response_head = False
            status = head.split(b"\r\n", 1)[0]
            if b" 200 " not in status:
                viewer.failed = status.decode(errors="replace")
            continue
        length = re.search(rb"Content-Length: *(\d+)", head, re.I)
        if not length:
            viewer.failed = "part without Content-Length"
            continue
        viewer.remaining = int(length.group(1))
        viewer.stamp, viewer.key = frame_time(head)


def frame_time(head):
    """The wall-clock time the part's frame was captured, from its head.
    µStreamer's X-Timestamp is the time it handed the frame to its HTTP
    side, not the capture; its capture time is X-UStreamer-Grab-Time (asked
    for with ?extra_headers=1) on CLOCK_MONOTONIC_RAW, in milliseconds."""
    grab = re.search(rb"X-UStreamer-Grab-Time: *([\d.]+)", head)
    if grab:
        now_raw = time.clock_gettime(time.CLOCK_MONOTONIC_RAW)
        return float(grab.group(1)) + (time.time() - now_raw), grab.group(1)
    stamp = re.search(rb"X-Timestamp: *([\d.]+)", head)
    return (parse_stamp(stamp.group(1)), stamp.group(1)) if stamp else (None, None)


def kernel_stamp(ancillary):
    for level, kind, payload in ancillary:
        if level == socket.SOL_SOCKET and kind == SO_TIMESTAMPNS and len(payload) >= 16:
            sec = int.from_bytes(payload[:8], "little")
            nsec = int.from_bytes(payload[8:16], "little")
            return sec + nsec / 1e9
    return None


def request(path):
    return f"GET {path} HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n".encode()


def viewers_process(port, path, count, limit):
    """Runs in its own process. Connects `count` viewers at once, reports
    'ready SECONDS FAILED' when all have their first part, records from 'go'
    to 'stop' on standard input, then prints the results as JSON; the
    viewers stay connected until standard input ends."""
    sel = selectors.DefaultSelector()
    viewers = []
    buffer = bytearray(1 << 20)
    view = memoryview(buffer)
    start = time.time()
    for _ in range(count):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.setsockopt(socket.SOL_SOCKET, SO_TIMESTAMPNS, 1)
        s.setblocking(False)
        s.connect_ex(("127.0.0.1", port))
        v = Viewer(s)
        viewers.append(v)
        sel.register(s, selectors.EVENT_WRITE, v)
    sel.register(sys.stdin, selectors.EVENT_READ, None)
    recording = False
    latencies, user_latencies, stamps = [], [], set()
    parts = 0

    def on_part(v, stamp, received):
        nonlocal parts
        if v.first_done is None:
            v.first_done = received
        if recording:
            parts += 1
            if stamp is not None:
                stamps.add(v.key)
                latencies.append(received - stamp)
                user_latencies.append(time.time() - stamp)

    state = "connecting"
    deadline = start + limit
    while True:
        now = time.time()
        if state == "connecting":
            waiting = [v for v in viewers if v.first_done is None and v.failed is None]
            if not waiting or now > deadline:
                firsts = [v.first_done for v in viewers if v.first_done is not None]
                late = max(firsts) - start if len(firsts) == count else float("nan")
                failed = count - len(firsts)
                reasons = sorted({v.failed or "no first part" for v in viewers
                                  if v.first_done is None})
                print(f"ready {late} {failed} {json.dumps(reasons)}", flush=True)
                state = "ready"
        if now > deadline + 120:
            break
        for key, events in sel.select(timeout=0.2):
            v = key.data
            if v is None:
                line = sys.stdin.readline()
                if line.strip() == "go":
                    recording = True
                elif line.strip() == "stop":
                    recording = False
                    print(json.dumps({"latencies": latencies, "user_latencies": user_latencies,
                                      "frames": len(stamps), "parts": parts,
                                      "dropped": sum(1 for v in viewers if v.failed)}),
                          flush=True)
                elif not line:
                    state = "done"
                continue
            if events & selectors.EVENT_WRITE:
                try:
                    v.sock.send(request(path))
                except OSError as e:
                    v.failed = str(e)
                    sel.unregister(v.sock)
                    continue
                sel.modify(v.sock, selectors.EVENT_READ, v)
                continue
            try:
                n, ancillary, _, _ = v.sock.recvmsg_into([view], 64)
            except BlockingIOError:
                continue
            except OSError as e:
                v.failed = str(e)
                sel.unregister(v.sock)
                continue
            if n == 0:
                v.failed = v.failed or "closed"
                sel.unregister(v.sock)
                continue
            received = kernel_stamp(ancillary) or time.time()
            feed(v, view[:n], received, on_part)
            if v.failed:
                sel.unregister(v.sock)
        if state == "done":
            break
    for v in viewers:
        v.sock.close()


def throttled_process(port, path, seconds, rate, rcvbuf):
    """One viewer reading at `rate` bytes a second through a small receive
    buffer; prints the ages (read time of a part's last byte minus its
    X-Timestamp) and the part sizes as JSON."""
    s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    if rcvbuf:
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
    s.settimeout(5)
    s.connect(("127.0.0.1", port))
    s.sendall(request(path))
    v = Viewer(s)
    ages, sizes = [], []
    chunk = 4096
    buffer = bytearray(chunk)
    start = time.time()
    allowed = 0.0
    last = start

    def on_part(viewer, stamp, received):
        if stamp is not None:
            ages.append(time.time() - stamp)

    total = 0
    while time.time() - start < seconds and not v.failed:
        now = time.time()
        allowed = min(allowed + (now - last) * rate, chunk)
        last = now
        if allowed < chunk:
            time.sleep((chunk - allowed) / rate)
            continue
        try:
            n = s.recv_into(buffer, chunk)
        except OSError as e:
            v.failed = str(e)
            break
        if n == 0:
            v.failed = "closed"
            break
        allowed -= n
        total += n
        before = len(ages)
        feed(v, memoryview(buffer)[:n], time.time(), on_part)
        if len(ages) > before:
            sizes.append(total)
            total = 0
    s.close()
    print(json.dumps({"ages": ages, "sizes": sizes, "failed": v.failed}), flush=True)


# ------------------------------------------------------------- the server side

def processes():
    """{pid: ppid} of every process."""
    out = {}
    for entry in os.scandir("/proc"):
        if not entry.name.isdigit():
            continue
        try:
            text = Path(entry.path, "stat").read_text()
        except OSError:
            continue
        out[int(entry.name)] = int(text[text.rindex(")") + 2:].split()[1])
    return out


def tree(roots):
    parents = processes()
    members = {p for p in roots if p in parents}
    grew = True
    while grew:
        grew = False
        for pid, ppid in parents.items():
            if ppid in members and pid not in members:
                members.add(pid)
                grew = True
    return members


def is_capture(process_name, thread_name):
    """The thread that dequeues frames, and so runs the simulator: vcapture
    (for vshare), µStreamer's "stream" thread."""
    return process_name == "vcapture" or thread_name == "stream"


def cpu_snapshot(roots):
    """{pid: (seconds run by its threads, of which by its capture thread,
    seconds of reaped children)}."""
    snap = {}
    for pid in tree(roots):
        try:
            run = capture = user = system = 0
            name = Path(f"/proc/{pid}/comm").read_text().strip()
            for task in os.scandir(f"/proc/{pid}/task"):
                spent = int(Path(task.path, "schedstat").read_text().split()[0])
                run += spent
                if is_capture(name, Path(task.path, "comm").read_text().strip()):
                    capture += spent
                else:
                    stat = Path(task.path, "stat").read_text()
                    fields = stat[stat.rindex(")") + 2:].split()
                    user += int(fields[11])
                    system += int(fields[12])
            stat = Path(f"/proc/{pid}/stat").read_text()
            fields = stat[stat.rindex(")") + 2:].split()
            reaped = (int(fields[13]) + int(fields[14])) / CLK_TCK
        except (OSError, ValueError):
            continue
        snap[pid] = (run / 1e9, capture / 1e9, reaped, user, system)
    return snap


def cpu_between(before, after):
    """(CPU seconds of the tree, of its capture threads, the share of the
    kernel in the rest, by clock ticks) between snapshots."""
    total = capture = 0.0
    user = system = 0
    for pid, (run, caught, reaped, ticks_user, ticks_system) in after.items():
        run0, caught0, reaped0, user0, system0 = before.get(pid, (0.0, 0.0, 0.0, 0, 0))
        total += (run - run0) + (reaped - reaped0)
        capture += caught - caught0
        user += ticks_user - user0
        system += ticks_system - system0
    # Too few ticks say nothing.
    return total, capture, system / (user + system) if user + system >= 20 else float("nan")


SIMULATOR_MAPPINGS = re.compile(r"libboardsim\.so|libjpeg|/liveview-bench-[^/]+/[^/]+/buffers")


def pss_kib(members):
    """(PSS in KiB, the same without the simulator's mappings: its library,
    libjpeg, and the stream buffers, which a board's driver keeps in its
    own memory)."""
    total = simulated = 0
    for pid in members:
        try:
            text = Path(f"/proc/{pid}/smaps").read_text()
        except OSError:
            continue
        simulator = False
        for line in text.splitlines():
            if line[:1] in "0123456789abcdef" and "-" in line.split(" ", 1)[0]:
                simulator = bool(SIMULATOR_MAPPINGS.search(line))
            elif line.startswith("Pss:"):
                kib = int(line.split()[1])
                total += kib
                simulated += kib if simulator else 0
    return total, total - simulated


class Trace:
    """Counts the frames dequeued on a simulated board."""

    def __init__(self, simdir):
        self.path = Path(simdir) / "trace"
        self.offset = 0

    def mark(self):
        self.offset = self.path.stat().st_size if self.path.exists() else 0

    def frames_since_mark(self):
        if not self.path.exists():
            return 0
        with open(self.path, "rb") as f:
            f.seek(self.offset)
            data = f.read()
        return len(re.findall(rb"^VIDIOC_DQBUF index=\d+ sequence=\d+ .*= 0$", data, re.M))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_accepting(port, proc, seconds=20):
    deadline = time.time() + seconds
    while time.time() < deadline:
        if proc.poll() is not None:
            raise RuntimeError(f"server ended with {proc.returncode}")
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return
        except OSError:
            time.sleep(0.05)
    raise RuntimeError(f"nothing listens on port {port}")


class Server:
    """One server side on a simulated board of its own."""

    def __init__(self, kind, build, workdir, paced):
        self.kind = kind
        self.build = Path(build)
        self.paced = paced
        self.simdir = Path(workdir) / f"{kind}-{'paced' if paced else 'unpaced'}"
        self.simdir.mkdir()
        self.port = free_port()
        self.procs = []
        self.path = {"cgi": "/cgi-bin/stream",
                     "ustreamer": "/stream?extra_headers=1"}.get(kind, "/stream")
        self.trace = Trace(self.simdir)

    def env(self):
        e = dict(os.environ, BOARDSIM_DIR=str(self.simdir),
                 LD_PRELOAD=str(self.build / "lib" / "libboardsim.so"))
        e.pop("BOARDSIM_UNPACED", None)
        if not self.paced:
            e["BOARDSIM_UNPACED"] = "1"
        return e

    def spawn(self, cmd, env, log):
        proc = subprocess.Popen(cmd, env=env, stdout=log, stderr=log,
                                stdin=subprocess.DEVNULL, start_new_session=True,
                                cwd=self.simdir, preexec_fn=reniced)
        self.procs.append(proc)
        return proc

    def vshare_command(self, *extra):
        return [str(self.build / "bin" / "vshare"), "-socket", str(self.simdir / "vshare.sock"),
                "-vcapture", str(self.build / "bin" / "vcapture"), "-size", "640", "480",
                "-fps", str(FPS), "-qscale", str(QUALITY), "-linger", "600", *extra]

    def start(self):
        log = open(self.simdir / "server.log", "wb")
        if self.kind == "vshare":
            proc = self.spawn(self.vshare_command("-listen", f"127.0.0.1:{self.port}",
                                                  "-no-auth"), self.env(), log)
        elif self.kind == "cgi":
            sharer = self.spawn(self.vshare_command(), self.env(), log)
            deadline = time.time() + 20
            while not (self.simdir / "vshare.sock").exists():
                if sharer.poll() is not None or time.time() > deadline:
                    raise RuntimeError("vshare did not make its socket")
                time.sleep(0.05)
            www = self.simdir / "www"
            make_cgi_site(www, self.build / "bin" / "vshare", self.simdir / "vshare.sock",
                          self.simdir / "relay.log")
            clean = {k: v for k, v in os.environ.items()
                     if not k.startswith("BOARDSIM_") and k != "LD_PRELOAD"}
            proc = self.spawn(["busybox", "httpd", "-f", "-p", f"127.0.0.1:{self.port}",
                               "-h", str(www), "-c", str(ROOT / "liveview" / "httpd.conf")],
                              clean, log)
        else:
            proc = self.spawn(["ustreamer", "--device", "/dev/v4l/video0", "-m", "JPEG",
                               "-c", "HW", "-r", "640x480", "-f", str(FPS), "-q", str(QUALITY),
                               "--host", "127.0.0.1", "--port", str(self.port)],
                              self.env(), log)
        wait_accepting(self.port, proc)

    def vshare_summary(self):
        """(frames, parts, bytes copied) from the summary vshare prints at
        exit, if it did."""
        found = re.findall(rb"(\d+) frames shared, (\d+) parts sent, (\d+) bytes copied",
                           (self.simdir / "server.log").read_bytes())
        return tuple(int(v) for v in found[-1]) if found else None

    def roots(self):
        return [p.pid for p in self.procs]

    def stop(self):
        for proc in self.procs:
            if proc.poll() is None:
                proc.send_signal(signal.SIGTERM)
        for proc in self.procs:
            try:
                proc.wait(timeout=5)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()
            try:
                os.killpg(proc.pid, signal.SIGKILL)  # its session: relays, httpd children
            except ProcessLookupError:
                pass

    def start_baseline(self, frames):
        """dq_baseline on a board of its own, set up as the server set its
        own (size, rate, JPEG quality), as paced as the server's: the
        simulator's own cost of a frame."""
        board = self.simdir / "baseline"
        board.mkdir(exist_ok=True)
        shutil.copy(self.simdir / "driver.state", board / "driver.state")
        env = dict(self.env(), BOARDSIM_DIR=str(board))
        proc = subprocess.Popen([str(self.build / "bin" / "dq_baseline"), "640", "480", "jpeg",
                                 str(frames)], env=env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)
        return proc, frames

    @staticmethod
    def baseline_cost(started):
        """CPU seconds per frame of a started dq_baseline, once it ends."""
        proc, frames = started
        _, status, usage = os.wait4(proc.pid, 0)
        proc.returncode = os.waitstatus_to_exitcode(status)
        if proc.returncode != 0:
            raise RuntimeError(f"dq_baseline ended with {proc.returncode}")
        return (usage.ru_utime + usage.ru_stime) / frames


def reniced():
    if NICE[0]:
        os.nice(NICE[0])


def start_viewers(server, count):
    return subprocess.Popen([sys.executable, __file__, "--viewers", str(server.port),
                             server.path, str(count)], preexec_fn=reniced,
                            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)


def percentile(values, q):
    if not values:
        return float("nan")
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(q / 100 * len(ordered)))]


def measure_cell(server, count, seconds):
    viewers = start_viewers(server, count)
    try:
        ready = viewers.stdout.readline().split(" ", 3)
        if not ready or ready[0] != "ready":
            raise RuntimeError(f"viewers: {ready}")
        first_all, failed, reasons = float(ready[1]), int(ready[2]), json.loads(ready[3])
        server.trace.mark()
        # Paced, the simulator's cost is taken meanwhile, under the same
        # load; unpaced it would compete with the server, so it comes after.
        baseline = server.start_baseline(int(seconds * FPS)) if server.paced else None
        before = cpu_snapshot(server.roots())
        t0 = time.perf_counter()
        viewers.stdin.write("go\n")
        viewers.stdin.flush()
        time.sleep(seconds)
        viewers.stdin.write("stop\n")
        viewers.stdin.flush()
        wall = time.perf_counter() - t0
        after = cpu_snapshot(server.roots())
        captured = server.trace.frames_since_mark()
        # Still connected: the server side as it serves them.
        members = tree(server.roots())
        pss, pss_board = pss_kib(members)
        result = json.loads(viewers.stdout.readline())
        if baseline is None:
            baseline = server.start_baseline(300)
        sim = server.baseline_cost(baseline)
    finally:
        viewers.stdin.close()
        try:
            viewers.wait(timeout=20)
        except subprocess.TimeoutExpired:
            viewers.kill()
            viewers.wait()
    cpu, capture, kernel = cpu_between(before, after)
    return {
        "count": count, "first_all": first_all, "failed": failed, "reasons": reasons,
        "cpu": cpu, "capture": capture, "kernel": kernel, "sim": sim, "wall": wall,
        "captured": captured,
        "delivered": result["frames"], "parts": result["parts"],
        "dropped": result["dropped"], "pss": pss, "pss_board": pss_board, "procs": len(members),
        "lat": [percentile(result["latencies"], q) for q in (50, 90, 99)],
        "ulat": [percentile(result["user_latencies"], q) for q in (50, 90, 99)],
    }


def measure_throttled(server, seconds, rcvbuf):
    proc = subprocess.run([sys.executable, __file__, "--throttled", str(server.port),
                           server.path, str(seconds), str(rcvbuf)], stdout=subprocess.PIPE,
                          text=True, timeout=seconds + 30, check=True)
    result = json.loads(proc.stdout)
    ages = result["ages"]
    # The first parts come before the kernel's buffers settle: the second
    # half of the run shows the steady state.
    steady = ages[len(ages) // 2:]
    sizes = result["sizes"][1:] or [0]
    return {"parts": len(ages), "p50": percentile(steady, 50),
            "max": max(steady, default=float("nan")),
            "last": steady[-1] if steady else float("nan"), "size": sum(sizes) / len(sizes),
            "failed": result["failed"]}


# ------------------------------------------------------------------ the report

def ms(x):
    return "      -" if x != x else f"{x * 1e3:7.1f}"


def us(x):
    return "     -" if x != x else f"{x * 1e6:6.0f}"


def run(args):
    build = Path(args.build).resolve()
    NICE[0] = args.nice
    kinds = [k for k in args.servers.split(",") if k]
    counts = [int(c) for c in args.counts.split(",")]
    if "ustreamer" in kinds and not shutil.which("ustreamer"):
        print("ustreamer is not installed (apt-get install ustreamer): left out")
        kinds.remove("ustreamer")
    if "cgi" in kinds and not shutil.which("busybox"):
        print("busybox is not installed: the CGI relay path is left out")
        kinds.remove("cgi")
    cells, throttled, copied = {}, {}, {}
    started = time.time()
    with tempfile.TemporaryDirectory(prefix="liveview-bench-") as workdir:
        for paced in (True, False):
            for kind in kinds:
                server = Server(kind, build, workdir, paced)
                try:
                    server.start()
                    # A first viewer starts the capture; the cells find it running.
                    measure_cell(server, 1, 0.5)
                    for count in counts:
                        cells[kind, paced, count] = measure_cell(server, count, args.seconds)
                    if paced and kind != "cgi":
                        for rcvbuf in (THROTTLE_RCVBUF, 0):
                            throttled[kind, rcvbuf] = measure_throttled(
                                server, args.throttle_seconds, rcvbuf)
                finally:
                    server.stop()
                if kind != "ustreamer":
                    copied[kind, paced] = server.vshare_summary()
                print(f"  ({SERVER_NAMES[kind]}, {'paced' if paced else 'unpaced'}: done at "
                      f"{time.time() - started:.0f} s)", file=sys.stderr, flush=True)
    report(kinds, counts, cells, throttled, copied, args)


def report(kinds, counts, cells, throttled, copied, args):
    pacings = ((True, f"paced {FPS} fps"), (False, "unpaced"))
    rows = [(k, p, n) for p, _ in pacings for k in kinds for n in counts if (k, p, n) in cells]

    def label(k, p, n):
        return f"{SERVER_NAMES[k]:<12}{'paced' if p else 'unpaced':<9}{n:>4}"

    def above(c):
        return (c["cpu"] - c["sim"] * c["captured"]) / max(c["delivered"], 1)

    print(f"\nLive view side by side: 640x480 JPEG q{QUALITY}, {args.seconds:g} s a cell, "
          f"servers and viewers at nice {args.nice}, load average "
          f"{os.getloadavg()[0]:.1f}\n")
    print("CPU of the whole server side per delivered frame (delivered: distinct frames the "
          "viewers got).\nsim: the simulator's own cost of a frame (dq_baseline on a board set "
          "up the same, meanwhile\nwhen paced, right after when unpaced); above sim: cpu less sim "
          "for every frame dequeued;\noutside capture: cpu less the capturing thread's (vcapture; "
          "ustreamer's \"stream\" thread),\nper frame, per part (frame and viewer), and "
          "the kernel's share of it (by clock ticks; -: too few)")
    print(f"{'server':<12}{'pacing':<9}{'n':>4}{'dequeued/s':>11}{'delivered/s':>12}"
          f"{'parts/s':>8}{'cpu/frame':>11}{'sim':>9}{'above sim':>11}"
          f"{'outside capture':>17}{'/part':>8}{'kernel':>7}")
    for k, p, n in rows:
        c = cells[k, p, n]
        frames = max(c["delivered"], 1)
        outside = c["cpu"] - c["capture"]
        print(f"{label(k, p, n)}{c['captured'] / c['wall']:>11.1f}"
              f"{c['delivered'] / c['wall']:>12.1f}{c['parts'] / c['wall']:>8.0f}"
              f"{us(c['cpu'] / frames)}us{us(c['sim'])[1:]}us{us(above(c))}us"
              f"{us(outside / frames)}us{us(outside / max(c['parts'], 1))[1:]}us"
              + (f"{c['kernel'] * 100:>6.0f}%" if c["kernel"] == c["kernel"] else "      -"))

    print("\nMemory and processes of the server side (PSS: sum over its processes; without "
          "sim: less the\nsimulator's mappings, its library, libjpeg and the stream buffers, "
          "which a board's driver holds)")
    print(f"{'server':<12}{'pacing':<9}{'n':>4}{'PSS':>11}{'without sim':>13}{'processes':>11}")
    for k, p, n in rows:
        c = cells[k, p, n]
        print(f"{label(k, p, n)}{c['pss'] / 1024:>8.1f} MB{c['pss_board'] / 1024:>10.1f} MB"
              f"{c['procs']:>11}")

    for (k, p), summary in copied.items():
        if summary:
            frames, parts, copies = summary
            print(f"{SERVER_NAMES[k]}, {'paced' if p else 'unpaced'}: vshare copied "
                  f"{copies / max(parts, 1) / 1000:.1f} KB per part sent in user space "
                  f"({copies / 1e6:.0f} MB over {parts} parts: the rests of parts a "
                  "viewer's socket did not take at once)")

    print("\nDelivery latency: X-Timestamp to the kernel's receive stamp of the part's last "
          "byte\n(user: to the viewer process's read of it, for comparison)")
    print(f"{'server':<12}{'pacing':<9}{'n':>4}{'p50':>8}{'p90':>8}{'p99':>8}"
          f"{'user p50':>10}{'p99':>8}")
    for k, p, n in rows:
        c = cells[k, p, n]
        la, ul = c["lat"], c["ulat"]
        print(f"{label(k, p, n)}{ms(la[0])}ms{ms(la[1])}ms{ms(la[2])}ms"
              f"{ms(ul[0])}ms  {ms(ul[2])}ms")

    print("\nN viewers connecting at once (capture running): time until all have their "
          "first part")
    print("(failed: viewers without a first part; lost: streams that ended in the window)")
    print(f"{'server':<12}{'pacing':<9}{'n':>4}{'all first':>11}{'failed':>8}{'lost':>6}  reasons")
    for k, p, n in rows:
        c = cells[k, p, n]
        print(f"{label(k, p, n)}{ms(c['first_all'])} ms{c['failed']:>8}{c['dropped']:>6}  "
              f"{', '.join(c['reasons']) if c['failed'] else ''}")

    if throttled:
        print(f"\nThrottled viewer ({THROTTLE_RATE / 1000:.0f} KB/s, paced {FPS} fps, "
              f"{args.throttle_seconds:g} s): age of each frame at its last byte read, "
              "second half of the run")
        print(f"{'server':<12}{'SO_RCVBUF':>10}{'parts':>7}{'part size':>11}{'age p50':>10}"
              f"{'max':>9}{'last':>9}{'bound':>9}")
        for (k, rcvbuf), t in throttled.items():
            bound = 2 / FPS + t["size"] / THROTTLE_RATE
            print(f"{SERVER_NAMES[k]:<12}{rcvbuf if rcvbuf else 'default':>10}"
                  f"{t['parts']:>7}{t['size'] / 1000:>8.1f} KB"
                  f"{ms(t['p50'])} ms{ms(t['max'])} ms{ms(t['last'])} ms{ms(bound)} ms"
                  + (f"  ({t['failed']})" if t["failed"] else ""))
        print("bound: two frame periods plus the time the link needs to carry one part")

    n = max(counts)
    v, u = cells.get(("vshare", True, n)), cells.get(("ustreamer", True, n))
    print(f"\nGoals at {n} viewers, {FPS} fps (vshare http)")
    if v is None:
        print("  (vshare http was not measured)")
        return

    def verdict(ok):
        return "PASS" if ok else "MISS"

    if u is not None:
        va, ua = above(v), above(u)
        print(f"  {verdict(va <= ua / 4)}  CPU per frame above the simulator <= 1/4 of "
              f"ustreamer's: {va * 1e6:.0f}us vs {ua * 1e6:.0f}us ({va / ua:.2f}x)")
        vo = (v["cpu"] - v["capture"]) / max(v["delivered"], 1)
        uo = (u["cpu"] - u["capture"]) / max(u["delivered"], 1)
        print(f"        (outside the capture thread: {vo * 1e6:.0f}us vs {uo * 1e6:.0f}us, "
              f"{vo / uo:.2f}x)")
        # The board has no simulator: its library and buffers are left out.
        print(f"  {verdict(v['pss_board'] <= u['pss_board'])}  PSS <= ustreamer's (without "
              f"the simulator's mappings): {v['pss_board'] / 1024:.1f} MB vs "
              f"{u['pss_board'] / 1024:.1f} MB (with them {v['pss'] / 1024:.1f} MB vs "
              f"{u['pss'] / 1024:.1f} MB)")
    else:
        print("  (ustreamer not measured: no CPU or PSS comparison)")
    print(f"  {verdict(v['lat'][2] <= 0.010)}  p99 latency <= 10 ms: {v['lat'][2] * 1e3:.1f} ms")
    print(f"  {verdict(v['failed'] == 0 and v['first_all'] <= 0.200)}  all {n} first parts "
          f"within 200 ms: {ms(v['first_all']).strip()} ms, {v['failed']} without one")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("build", nargs="?", default=str(ROOT / "build" / "native"))
    parser.add_argument("seconds", nargs="?", type=float, default=4.0)
    parser.add_argument("--counts", default="1,4,16,64")
    parser.add_argument("--servers", default="vshare,cgi,ustreamer")
    parser.add_argument("--throttle-seconds", type=float, default=8.0)
    parser.add_argument("--nice", type=int, default=0,
                        help="niceness of the servers and viewers (-10: ahead of a busy machine)")
    parser.add_argument("--viewers", nargs=3, help=argparse.SUPPRESS)
    parser.add_argument("--throttled", nargs=4, help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.viewers:
        port, path, count = args.viewers
        viewers_process(int(port), path, int(count), limit=15)
    elif args.throttled:
        port, path, seconds, rcvbuf = args.throttled
        throttled_process(int(port), path, float(seconds), THROTTLE_RATE, int(rcvbuf))
    else:
        run(args)


if __name__ == "__main__":
    main()
